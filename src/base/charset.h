// Code pages by name and the composed form of Unicode text, through ICU:
// the alphabets that --charset and --table choose.
//
// A code page is any single-byte character set that ICU knows, by any of
// its names, in any case ("CP1252", "windows-1252", "latin1", "IBM850").
// Bytes 00 to 7F always stand for ASCII; a code page whose printable ASCII
// bytes stand for other characters (EBCDIC, for one) is refused.
//
// Packing reads the text in its composed form (NFC), so that text saved
// decomposed packs like text saved composed. A string whose text the
// composed form changes (combining marks that it joins to a letter or puts
// in another order) would not pack back to its bytes: TextReadsBack finds
// such strings when they are extracted.
#ifndef VORLEX_BASE_CHARSET_H_
#define VORLEX_BASE_CHARSET_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/alphabet.h"

namespace vorlex::core {

// The code pages that the documentation names, in the order in which the
// UTF-8 hint tries them.
inline constexpr std::array<std::string_view, 18> kListedCodePages = {
    "CP1252",      "ISO-8859-1",  "ISO-8859-15", "CP1250",     "ISO-8859-2",
    "CP850",       "CP437",       "CP852",       "ISO-8859-3", "ISO-8859-4",
    "ISO-8859-5",  "ISO-8859-6",  "ISO-8859-7",  "ISO-8859-8", "ISO-8859-9",
    "ISO-8859-10", "ISO-8859-11", "ISO-8859-13"};

// The texts that the code page `name` defines, or nothing, with the reason
// in *problem (an unknown name, a code page of more than one byte per
// character, one that does not keep ASCII, one with a character that the
// composed form would change).
std::optional<DefinedTexts> CodePageTexts(std::string_view name,
                                          std::string* problem);

// The alphabet of a run: the code page `charset` (bytes 00 to 7F alone when
// it is empty), with the entries of the character table `table_contents`
// (read from the file `table_name`, when not empty) over it. Table texts are
// taken in their composed form, as packing reads the text file. Nothing, with
// the reason in *problem, when either cannot be used.
std::optional<Alphabet> MakeAlphabet(std::string_view charset,
                                     std::string_view table_name,
                                     std::string_view table_contents,
                                     std::string* problem);

// Whether the text of `bytes` packs back to them: shown through the
// alphabet, put in composed form and read back. Sets *text to the text and
// *back to the bytes read back.
bool TextReadsBack(std::string_view bytes, const Alphabet& alphabet,
                   std::string* text, std::string* back);

// The composed form (NFC) of a valid UTF-8 text.
std::string ToComposedForm(std::string_view text);

// Where the character at `composed_position` of ToComposedForm(text) starts
// in `text` itself: diagnostics name the column that the user's file shows.
size_t SourcePosition(std::string_view text, size_t composed_position);

// A code page in which some byte stands for `code_point`.
struct CodePageByte {
  std::string_view code_page;
  uint8_t byte = 0;
};

// The first listed code page that has a byte for `code_point` for which
// `usable` is true, or nothing.
std::optional<CodePageByte> FindCodePage(int32_t code_point,
                                         const std::array<bool, 256>& usable);

}  // namespace vorlex::core

#endif  // VORLEX_BASE_CHARSET_H_
