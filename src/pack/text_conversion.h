// A string's text in a UTF-8 text file, read back as the pakfile's bytes
// (--charset, --table), and the hint for a text that an editor saved as
// UTF-8 when neither option was given.
#ifndef VORLEX_PACK_TEXT_CONVERSION_H_
#define VORLEX_PACK_TEXT_CONVERSION_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/alphabet.h"
#include "pack/encoder.h"

namespace vorlex::core {

// Where a string's text begins in the text file: its line and the column
// (from 1, counted in characters) of its first character.
struct TextStart {
  int64_t line = 0;
  int64_t column = 1;
};

// A character of a string's text that cannot be converted.
struct TextProblem {
  int64_t line = 0;
  std::string what;  // "column 7: U+0100 'Ā' has no byte in CP1252"
};

// Converts the text of one string (its continuation lines joined with LF)
// to the bytes that it stands for in `alphabet`, reading it in composed
// form. Appends to *bytes what could be converted, and to *problems one
// entry for each character that no byte stands for and for text that is not
// UTF-8. Returns whether all of it was converted.
bool StringTextToBytes(std::string_view text, TextStart start,
                       const Alphabet& alphabet, std::string* bytes,
                       std::vector<TextProblem>* problems);

// For a character without a code when no alphabet was chosen: when the byte
// at `position` of `text` starts a UTF-8 sequence of two or more bytes, a
// line saying that the text looks like UTF-8 and which option would read
// it, naming a code page in which the tree holds that character where one
// does. Otherwise the empty text.
std::string Utf8Hint(std::string_view text, size_t position,
                     const CodeTable& codes);

}  // namespace vorlex::core

#endif  // VORLEX_PACK_TEXT_CONVERSION_H_
