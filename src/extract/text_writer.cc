#include "extract/text_writer.h"

#include <charconv>

#include "base/console.h"

namespace vorlex::core {
namespace {

void AppendNumber(int64_t value, std::string* out) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out->append(digits, result.ptr);
}

void AppendNumberLine(std::string_view key, int64_t value, std::string* out) {
  out->append(key);
  AppendNumber(value, out);
  out->append(kLineEnd);
}

}  // namespace

void AppendFileHeader(std::string_view pakfile, int64_t node_count,
                      int64_t block_count, std::string* out) {
  out->append("Strings extracted from: ").append(pakfile).append(kLineEnd);
  AppendNumberLine("Number of Nods: ", node_count, out);
  AppendNumberLine("Number of Blocks: ", block_count, out);
  out->append(kRuleLine).append(kLineEnd);
}

void AppendBlockSection(int64_t block_nr, int64_t id,
                        const DecodedBlock& decoded, std::string* out,
                        const Alphabet* alphabet) {
  AppendNumberLine("Block Nr: ", block_nr, out);
  AppendNumberLine("ID: ", id, out);
  AppendNumberLine("Nr of Strings: ", decoded.string_count, out);
  // Each string line adds at most 11 bytes to the string itself.
  out->reserve(out->size() + decoded.text.size() +
               11 * decoded.StringsDecoded() + kRuleLine.size() + 2);
  for (size_t k = 0; k < decoded.StringsDecoded(); ++k) {
    AppendNumber(static_cast<int64_t>(k), out);
    out->append(":  ");
    if (alphabet) {
      AppendAsText(decoded.String(k), *alphabet, out);
    } else {
      out->append(decoded.String(k));
    }
    out->append(kLineEnd);
  }
  out->append(kRuleLine).append(kLineEnd);
}

bool HoldsCrLf(std::string_view decoded_string) {
  return decoded_string.find("\r\n") != std::string_view::npos;
}

bool HoldsEndOfText(std::string_view decoded_string) {
  return decoded_string.find(kEndOfText) != std::string_view::npos;
}

}  // namespace vorlex::core
