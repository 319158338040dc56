#include "pack/text_conversion.h"

#include <algorithm>
#include <array>

#include "base/charset.h"

namespace vorlex::core {
namespace {

// The line of the character at `position` of a string's text, and "column
// C: " for it.
TextProblem Place(std::string_view text, size_t position, TextStart start) {
  const std::string_view before = text.substr(0, position);
  const size_t line_feed = before.rfind('\n');
  const int64_t line =
      start.line + std::count(before.begin(), before.end(), '\n');
  const int64_t column =
      line_feed == std::string_view::npos
          ? start.column + static_cast<int64_t>(CharacterCount(before))
          : 1 + static_cast<int64_t>(
                    CharacterCount(before.substr(line_feed + 1)));
  return {line, "column " + std::to_string(column) + ": "};
}

}  // namespace

bool StringTextToBytes(std::string_view text, TextStart start,
                       const Alphabet& alphabet, std::string* bytes,
                       std::vector<TextProblem>* problems) {
  if (const std::optional<size_t> invalid = FirstInvalidUtf8(text)) {
    problems->push_back(Place(text, *invalid, start));
    problems->back().what += DescribeCharacterAt(text, *invalid) +
                             " is not UTF-8; with " + alphabet.name +
                             " the text file must be saved as UTF-8";
    return false;
  }
  const std::string composed = ToComposedForm(text);
  const std::vector<size_t> unheld = AppendAsBytes(composed, alphabet, bytes);
  for (size_t position : unheld) {
    problems->push_back(Place(text, SourcePosition(text, position), start));
    problems->back().what += DescribeCharacterAt(composed, position) +
                             " has no byte in " + alphabet.name;
  }
  return unheld.empty();
}

std::string Utf8Hint(std::string_view text, size_t position,
                     const CodeTable& codes) {
  const int32_t code_point = CodePointAt(text, position);
  if (code_point < 0x80) return "";
  std::array<bool, 256> held{};
  for (int byte = 0; byte < 256; ++byte)
    held[byte] = codes.codes[byte].length > 0;
  const std::string told = "the text looks like UTF-8 (" +
                           DescribeCharacterAt(text, position) +
                           " is written as several bytes)";
  if (const std::optional<CodePageByte> page = FindCodePage(code_point, held)) {
    return told + ": --charset=" + std::string(page->code_page) +
           " would read it as byte " + HexByte(page->byte) +
           ", which the pakfile's tree holds";
  }
  return told +
         ": --charset=NAME or --table=FILE would read it, but no "
         "listed code page has a byte for it that the pakfile's tree holds; "
         "--new-tree with /P makes a tree that holds it";
}

}  // namespace vorlex::core
