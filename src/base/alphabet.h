// What each byte of a pakfile's strings stands for in a UTF-8 text file, and
// the way back from such a text to the bytes.
//
// An alphabet gives every byte value 0 to 255 a text, so any string can be
// shown. Bytes that the chosen code page or character table defines show
// their character or text. The others are shown reversibly: bytes 00 to 7F as
// the ASCII character of that number (control characters included), bytes 80
// to FF as the character U+0080 to U+00FF of the byte's own number, as the
// WHATWG encodings show windows-1252's five undefined bytes, or, where the
// code page or table already uses that character, as the private-use
// character U+F700 plus the byte.
//
// The way back takes, at each point of the text, the longest text that some
// byte stands for. So a table in which one byte stands for several
// characters ("01=[END]") can misread a string that holds those characters
// literally; callers check each string they show by converting it back
// (TextReadsBack).
#ifndef VORLEX_BASE_ALPHABET_H_
#define VORLEX_BASE_ALPHABET_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlex::core {

// The texts that a code page or table defines; bytes without one are left
// to the reversible rule above.
using DefinedTexts = std::array<std::optional<std::string>, 256>;

struct Alphabet {
  std::string name;  // as the user gave it, for messages: "CP1252", "fr.tbl"
  std::array<std::string, 256> texts;  // UTF-8, never empty
  // For the way back: the bytes whose text begins with each byte value,
  // longest text first.
  std::array<std::vector<uint8_t>, 256> by_lead;
};

// Gives every byte its text: the defined one, else the reversible rule's.
// Returns the problem when two bytes would stand for the same text (the
// second byte named), with *alphabet unusable.
std::string BuildAlphabet(std::string name, const DefinedTexts& defined,
                          Alphabet* alphabet);

// Appends the texts of `bytes` to *out.
void AppendAsText(std::string_view bytes, const Alphabet& alphabet,
                  std::string* out);

// Appends the bytes that `text` stands for to *out, taking the longest text
// at each point. A character that no byte's text starts with is skipped and
// its position (in `text`) listed in the result; an empty list means that
// every character was held.
std::vector<size_t> AppendAsBytes(std::string_view text,
                                  const Alphabet& alphabet, std::string* out);

// The character that starts at `position` of a UTF-8 text, for diagnostics:
// "U+00E9 'é'" or, where no valid UTF-8 sequence starts, "byte 0xC3".
std::string DescribeCharacterAt(std::string_view text, size_t position);

// The number of the character that starts at `position`, or -1 where no
// valid UTF-8 sequence starts there.
int32_t CodePointAt(std::string_view text, size_t position);

// The first position at which `text` is not valid UTF-8, if any.
std::optional<size_t> FirstInvalidUtf8(std::string_view text);

// How many characters (code points) a UTF-8 text holds: a column counts
// characters, not bytes.
size_t CharacterCount(std::string_view text);

// A byte as a table writes it: two upper-case hexadecimal digits.
std::string HexByte(uint8_t byte);

// One line of a character table ("E9=é", "01=[END]").
struct CharacterTableEntry {
  int64_t line = 0;  // 1-based, for messages
  uint8_t byte = 0;
  std::string text;  // as written; normalised by the caller
};

// Reads a character table: one entry per line, two hexadecimal digits, "=",
// and the text that the byte stands for (one or more characters, UTF-8, the
// line's end excluded). Empty lines and a UTF-8 byte-order mark at the start
// are allowed. Returns the first problem as "line 3: why" (a malformed line,
// a byte given twice, a text that could not be told apart from a string's
// terminator or line end), or the empty text.
std::string ParseCharacterTable(std::string_view contents,
                                std::vector<CharacterTableEntry>* entries);

// Puts the table's entries (texts already in their final form) over
// *defined: a table text replaces the byte's own, and a byte whose code page
// text a table entry took for itself falls back to the reversible rule.
// Returns the problem when two entries give the same text ("line 5: ...").
std::string ApplyTable(const std::vector<CharacterTableEntry>& entries,
                       DefinedTexts* defined);

}  // namespace vorlex::core

#endif  // VORLEX_BASE_ALPHABET_H_
