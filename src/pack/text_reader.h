// Reading the block sections of a text file: what each section says, with
// the lines it came from. Nothing here encodes or decodes.
//
// The text file's layout is drawn in extract/text_writer.h; a translator may
// also spread a string over several lines (joined with LF), and a line
// without a colon (the rule line) is skipped.
//
// Header lines are known by position, not by name: while n is unknown, a line
// whose key (the text before its first colon) has the numeric value 0, and is
// not exactly "0", is a header line. Every other line with a colon is a
// string line whose key is the string's index; its text starts two characters
// after the colon and ends at its first '|'.
#ifndef VORLEX_PACK_TEXT_READER_H_
#define VORLEX_PACK_TEXT_READER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pack/block_encoder.h"
#include "pack/line_reader.h"

namespace vorlex::core {

// Reads lines up to the first that holds "Number of Blocks:" in any case and
// returns the number after that line's first colon, rounded. Without such a
// line: nothing.
std::optional<int32_t> ReadBlockCount(LineReader& lines);

// A number as the "???: " message shows it: up to 16 significant digits, no
// trailing point, a blank in front when it is not negative.
std::string FormatMessageNumber(double value);

// Whether `value` holds a number: after its leading white space it begins
// with a digit, a sign or '.' followed by a digit, or "&H", "&O", "&B"
// followed by a digit of that radix ("-.5" and "-&H1" do not).
bool HoldsNumber(std::string_view value);

// Something wrong in the lines of a section.
struct SectionProblem {
  int64_t line = 0;  // the text file's line, counting from 1
  // A header value that holds no number or an ID outside its field: a cause
  // of its own, told before what follows from it.
  bool cause = false;
  // The error lines the section's reading prints on standard output, in
  // order (" Error: String Before Header!", "???: ..."); often none.
  std::vector<std::string> messages;
  std::string what;  // the diagnostic, without file, line and block
};

// One block section as read.
struct TextSection {
  int32_t string_count = -1;  // n, or -1 when no third header line came
  int64_t count_line = 0;     // the line of the third header line
  bool complete = false;      // ended by its count of 0 or its last index
  // The strings in line order, each cut after its first '|' and pointing
  // into `texts` or `long_texts`, and where each stands in the text file.
  struct Place {
    int64_t line = 0;       // the line it began on
    int64_t column = 0;     // the column (from 1, in characters) of its
                            // first character there
    int64_t last = 0;       // the last line it took
    int64_t swallowed = 0;  // the first later line it took that reads like
                            // a string or header line of its own, or 0
  };
  std::vector<BlockString> strings;
  std::vector<Place> places;
  std::string texts;
  // Strings of a MiB or more on a line of their own, each in the line
  // reader's buffer it was read into rather than copied to `texts`.
  std::vector<std::string> long_texts;
  // The first line of a string read before any header line of the section
  // (the section began with stray string lines), or 0.
  int64_t stray_line = 0;
  // What was wrong in the header lines, in line order.
  std::vector<SectionProblem> problems;
  // Why the section is not complete (the text file ended, or could not be
  // read), at line `end_line`; empty when it is complete.
  std::string unfinished;
  int64_t end_line = 0;
};

// What the reading of one text file carries from section to section.
struct SectionReader {
  explicit SectionReader(LineReader& lines) : lines(lines) {}

  LineReader& lines;
  // The id from the last second header line read; kept from call to call.
  int32_t current_block_id = 0;
  // Working storage, reused from section to section: where each string
  // ends in TextSection::texts.
  std::vector<size_t> ends;
};

// Reads the next block section into *section (cleared first, its storage
// reused). Every line is consumed as the section's rules say; the next call
// goes on from the line after the section.
void ReadTextSection(SectionReader& reader, TextSection* section);

}  // namespace vorlex::core

#endif  // VORLEX_PACK_TEXT_READER_H_
