// Arbitrary character tables and strings through the alphabets of
// --charset and --table. The input's first byte picks a listed code page
// (or none); up to the first 0 byte after it comes a character table, and
// the rest is a string. Reading the table either succeeds or says why; the
// text of any string is valid UTF-8; a code page's text that the composed
// form leaves alone comes back as the same bytes; and any text, UTF-8 or
// not, converts without reading out of bounds, naming each character it
// cannot hold once, in order.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/alphabet.h"
#include "base/charset.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlex::core;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.empty()) return 0;
  const size_t page =
      static_cast<uint8_t>(input[0]) % (kListedCodePages.size() + 1);
  const std::string_view charset =
      page < kListedCodePages.size() ? kListedCodePages[page] : "";
  input.remove_prefix(1);
  const size_t cut = input.find('\0');
  const std::string_view table =
      cut == std::string_view::npos ? input : input.substr(0, cut);
  const std::string_view string =
      cut == std::string_view::npos ? "" : input.substr(cut + 1);

  std::string problem;
  const std::optional<Alphabet> alphabet =
      MakeAlphabet(charset, table.empty() && !charset.empty() ? "" : "t.tbl",
                   table, &problem);
  FUZZ_REQUIRE(alphabet || !problem.empty(), "a refusal without a reason");
  if (!alphabet) return 0;

  std::string text, back;
  const bool reads_back = TextReadsBack(string, *alphabet, &text, &back);
  FUZZ_REQUIRE(!FirstInvalidUtf8(text),
               "text that is not UTF-8: " + fuzz::Hex(text));
  FUZZ_REQUIRE(!reads_back || back == string, "read back as other bytes");
  // Without a table no two texts overlap, so only the composed form can
  // change a string.
  if (table.empty() && ToComposedForm(text) == text) {
    FUZZ_REQUIRE(reads_back, std::string(charset) + " did not read back " +
                                 fuzz::Hex(string));
  }

  std::string bytes;
  const std::vector<size_t> unheld = AppendAsBytes(string, *alphabet, &bytes);
  for (size_t k = 0; k < unheld.size(); ++k) {
    FUZZ_REQUIRE(
        unheld[k] < string.size() && (k == 0 || unheld[k - 1] < unheld[k]),
        "unheld characters out of order: " + fuzz::Hex(string));
  }
  return 0;
}
