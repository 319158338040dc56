#include "extract/text_writer.h"

#include <charconv>
#include <cstring>

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
  const size_t count = decoded.StringsDecoded();
  if (alphabet) {
    for (size_t k = 0; k < count; ++k) {
      AppendNumber(static_cast<int64_t>(k), out);
      out->append(":  ");
      AppendAsText(decoded.String(k), *alphabet, out);
      out->append(kLineEnd);
    }
  } else {
    // Laid out in place: most strings are a few dozen bytes, and appended
    // piece by piece they cost more than the copying does. A string line
    // adds the index, the colon and blanks, and the line end.
    char digits[24];
    const size_t index_room = static_cast<size_t>(
        std::to_chars(digits, digits + sizeof digits, count).ptr - digits);
    const size_t start = out->size();
    out->resize(start + decoded.text.size() + (index_room + 5) * count);
    char* at = out->data() + start;
    const char* text = decoded.text.data();
    size_t begin = 0;
    for (size_t k = 0; k < count; ++k) {
      at = std::to_chars(at, at + index_room, k).ptr;
      std::memcpy(at, ":  ", 3);
      at += 3;
      const size_t end = decoded.ends[k];
      std::memcpy(at, text + begin, end - begin);
      at += end - begin;
      std::memcpy(at, "\r\n", 2);
      at += 2;
      begin = end;
    }
    out->resize(static_cast<size_t>(at - out->data()));
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
