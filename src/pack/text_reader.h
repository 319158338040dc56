// Reading the block sections of a text file back into pakfile blocks.
//
// A block section, as extraction writes it and as a translator edits it:
//
//   Block Nr: 3          header line 1, not read
//   ID: 301              header line 2: the block's id
//   Nr of Strings: 2     header line 3: the string count n
//   0:  First line       string 0, over two lines (joined with LF)
//   second line|
//   1:  Goodbye.|        string 1: the last index, n - 1, ends the block
//   -----...             a line without a colon: skipped
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

#include "base/console.h"
#include "extract/decoder.h"
#include "pack/encoder.h"
#include "pack/line_reader.h"
#include "pak/code_tree.h"

namespace vorlex::core {

// Reads lines up to the first that holds "Number of Blocks:" in any case and
// returns the number after that line's first colon, rounded, after printing
// "Nr of Blocks:" and the count. Without such a line: nothing, and no output.
std::optional<int32_t> ReadBlockCount(LineReader& lines, Console& console);

// A number as the "???: " message shows it: up to 16 significant digits, no
// trailing point, a blank in front when it is not negative.
std::string FormatMessageNumber(double value);

// What one packing command's calls of ReadTextBlock share.
struct TextReader {
  TextReader(LineReader& lines, const CodeTree& tree, const CodeTable& codes,
             std::string txt_name, Console& console)
      : lines(lines),
        tree(tree),
        codes(codes),
        decoder(tree),
        txt_name(std::move(txt_name)),
        console(console) {}

  LineReader& lines;
  const CodeTree& tree;
  const CodeTable& codes;
  const BlockDecoder decoder;  // for the read-back check
  std::string txt_name;        // for diagnostics
  Console& console;

  // The id from the last second header line read; kept from call to call.
  int32_t current_block_id = 0;
  // Problems found so far, each told on standard error (the end of the text
  // file only once, however many blocks it cuts off).
  int64_t problems = 0;
  bool told_end = false;

  // Working storage, reused from block to block so that reading a block
  // allocates nothing per line.
  std::string joined;    // a string with its continuation lines
  std::string expected;  // the strings encoded, back to back
  std::vector<size_t> expected_ends;
  std::vector<int64_t> string_lines;  // the line each string started on
  std::vector<uint8_t> seen;          // how often each index 0..n-1 occurred
};

struct TextBlock {
  size_t start = 0;           // where the block's bytes begin in the output
  int32_t string_count = -1;  // n, or -1 when no third header line came
  bool complete = false;      // ended by its count of 0 or its last index
  // Empty when the block can be written; otherwise the first reason it
  // cannot, as "file:line: what".
  std::string problem;

  bool sound() const { return problem.empty(); }
};

// Reads the next block section and appends the block's bytes (string count,
// relative offsets, bit data) to *out; `block_nr` names the block in
// diagnostics. Prints the reader's and the encoder's console messages, tells
// every problem on standard error with the text file's line, and checks that
// the block decodes back to exactly the strings encoded, with every index
// 0..n-1 present once.
TextBlock ReadTextBlock(TextReader& reader, int64_t block_nr, std::string* out);

}  // namespace vorlex::core

#endif  // VORLEX_PACK_TEXT_READER_H_
