// Turning the block sections of a text file into pakfile blocks, one call
// per block: the text reader parses a section, the block encoder encodes and
// checks it, and every problem is told on the console with the text file's
// line.
#ifndef VORLEX_PACK_BLOCK_PACKER_H_
#define VORLEX_PACK_BLOCK_PACKER_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/alphabet.h"
#include "base/console.h"
#include "pack/block_encoder.h"
#include "pack/line_reader.h"
#include "pack/text_conversion.h"
#include "pack/text_reader.h"
#include "pack/tree_builder.h"

namespace vorlex::core {

// What one call of PackBlock made of a section.
struct PackedSection {
  size_t start = 0;           // where the block's bytes begin in the output
  int32_t string_count = -1;  // n, or -1 when no third header line came
  bool complete = false;      // ended by its count of 0 or its last index
  // Empty when the block can be written; otherwise the first reason it
  // cannot, as "file:line: block N: what", and how many problems it had.
  std::string problem;
  int64_t problems = 0;

  bool sound() const { return problem.empty(); }
};

class BlockPacker {
 public:
  // `lines` is read from the line after the count line on; `txt_name` names
  // the text file in diagnostics. With an alphabet, the strings' texts are
  // UTF-8 and are converted to its bytes before they are encoded.
  BlockPacker(LineReader& lines, const BlockCoder& coder, std::string txt_name,
              Console& console, const Alphabet* alphabet = nullptr)
      : reader_(lines),
        coder_(coder),
        txt_name_(std::move(txt_name)),
        console_(console),
        alphabet_(alphabet) {}

  // Reads the next block section and, when it is sound, appends the block's
  // bytes to *out (left as it was otherwise); `block_nr` names it in
  // diagnostics. Prints the reader's and the encoder's error messages on
  // standard output where the section's lines bring them, and tells the
  // block's first real cause on standard error with its line, summing up
  // what follows from it (the end of the text file only once, however many
  // blocks it cuts off).
  PackedSection PackBlock(int64_t block_nr, std::string* out);

  // PackBlock in three steps, so that blocks can be encoded side by side:
  // sections are read in order, encoded on any thread, and told in order.
  struct Pending {
    TextSection section;
    int32_t block_id = 0;  // the current id once the section was read
    // The encoded bytes, unless they were encoded straight into the output.
    std::string bytes;
    size_t start = 0;  // where the bytes begin in the output they went to
    bool in_output = false;
    std::vector<BlockProblem> problems;  // what EncodeBlock found
    // With an alphabet: the strings' bytes, and what could not be converted.
    std::string converted;
    std::vector<size_t> converted_ends;
    std::vector<TextProblem> text_problems;
    std::vector<std::pair<int64_t, std::string>> not_converted;
  };
  // Reads the next block section into *pending, its storage reused. Tells
  // nothing.
  void ReadSection(Pending* pending);
  // Encodes a section read into *out, or into pending->bytes when `out` is
  // null. Tells nothing and changes nothing of the packer, so sections may
  // be encoded on several threads at once.
  void EncodeSection(Pending* pending, std::string* out) const;
  // Tells and records what PackBlock tells of the section, and appends its
  // bytes to *out when they were encoded apart and the block is sound.
  PackedSection TellSection(int64_t block_nr, Pending* pending,
                            std::string* out);

  // The id from the last "ID:" line read; kept from block to block.
  int32_t current_block_id() const { return reader_.current_block_id; }

  // After the last block a command needs (`last_block_nr`): when that block
  // was complete, any later line holding ':' is text that the count line (on
  // `count_line`, counting `blocks`) leaves out. Reads the rest of the text
  // file; returns the problem, told on standard error, or the empty text.
  std::string CheckNothingLeft(int64_t count_line, int64_t blocks,
                               int64_t last_block_nr);

  // Reads the next block section and only converts its strings, adding
  // their characters (terminators included) to *counts: what a new code
  // tree is made from. Tells nothing; PackBlock tells every problem later.
  void CountSection(CharacterCounts* counts);

 private:
  // One problem of the block being packed.
  struct Found {
    int64_t line = 0;
    std::string what;
    bool cause = false;  // a cause of its own, told before the rest
  };
  // With an alphabet: replaces the section's texts by their bytes, keeping
  // each character that cannot be converted as a problem.
  void ConvertStrings(Pending* pending) const;
  // Tells the block's first real cause on standard error, the others
  // summed up after it, and records it in *packed.
  void TellBlock(int64_t block_nr, PackedSection* packed);
  std::string Where(int64_t line, int64_t block_nr) const;
  // Every character of one string that has no code, in one message; *line
  // is set to the line of the first.
  std::string NoCodeMessage(const BlockProblem& problem, int64_t* line) const;

  SectionReader reader_;
  const BlockCoder& coder_;
  std::string txt_name_;
  Console& console_;
  const Alphabet* alphabet_;
  bool told_end_ = false;
  bool hinted_ = false;  // the UTF-8 hint is given once a run
  // The block before: its count line and count, whether it was complete,
  // and whether it had problems of its own.
  int64_t previous_count_line_ = 0;
  int32_t previous_count_ = -1;
  bool previous_complete_ = false;
  bool previous_refused_ = false;
  bool has_previous_ = false;
  std::vector<Found> found_;
  const TextSection* section_ = nullptr;  // the section being told
  Pending pending_;  // PackBlock's and CountSection's, reused
};

}  // namespace vorlex::core

#endif  // VORLEX_PACK_BLOCK_PACKER_H_
