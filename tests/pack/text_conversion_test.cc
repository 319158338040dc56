// String texts of a UTF-8 text file read as a code page's bytes, and the
// hint for UTF-8 text packed without one.
#include "pack/text_conversion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/charset.h"
#include "support/pak_maker.h"

namespace vorlex::core::testing {
namespace {

TEST(TextConversionTest, ComposedTextBecomesBytesAndWhatCannotIsPlaced) {
  std::string problem;
  const Alphabet cp1252 = *MakeAlphabet("CP1252", "", "", &problem);
  struct Case {
    std::string_view text;
    std::string_view bytes;
    std::vector<std::string> problems;  // "line: what"
  } cases[] = {
      {"Café crème|", "Caf\xE9 cr\xE8me|", {}},
      {"Cafe\u0301 cre\u0300me|", "Caf\xE9 cr\xE8me|", {}},  // decomposed
      {"a\nbĀ€ł|",
       "a\nb\x80|",
       {"8: column 2: U+0100 'Ā' has no byte in CP1252",
        "8: column 4: U+0142 'ł' has no byte in CP1252"}},
      {"e\u0301Ā|",  // the column the user's file shows
       "\xE9|",
       {"7: column 7: U+0100 'Ā' has no byte in CP1252"}},
      {"ab\xE9|",
       "",
       {"7: column 7: byte 0xE9 is not UTF-8; with CP1252 the text file "
        "must be saved as UTF-8"}},
  };
  for (const Case& c : cases) {
    std::string bytes;
    std::vector<TextProblem> problems;
    EXPECT_EQ(StringTextToBytes(c.text, {7, 5}, cp1252, &bytes, &problems),
              c.problems.empty());
    EXPECT_EQ(bytes, c.bytes);
    std::vector<std::string> told;
    for (const TextProblem& p : problems) {
      told.push_back(std::to_string(p.line) + ": " + p.what);
    }
    EXPECT_EQ(told, c.problems);
  }
}

TEST(TextConversionTest, UnencodableUtf8NamesTheOptionThatWouldReadIt) {
  auto hint = [](std::string_view tree_text, std::string_view text) {
    const CodeTable codes = BuildCodeTable(
        MakeCodeTree(BuildHuffmanTree({std::string(tree_text)})));
    return Utf8Hint(text, 1, codes);
  };
  EXPECT_EQ(hint("Caf\xE9|", "xé|"),
            "the text looks like UTF-8 (U+00E9 'é' is written as several "
            "bytes): --charset=CP1252 would read it as byte E9, which the "
            "pakfile's tree holds");
  EXPECT_NE(hint("Caf\x82|", "xé|")
                .find("--charset=CP850 would read it as "
                      "byte 82"),
            std::string::npos);
  EXPECT_NE(hint("Cafe|", "xé|").find("no listed code page"),
            std::string::npos);
  EXPECT_EQ(hint("Cafe|", "x\xE9|"), "");  // not UTF-8: a byte of its own
  EXPECT_EQ(hint("Cafe|", "x@|"), "");
}

}  // namespace
}  // namespace vorlex::core::testing
