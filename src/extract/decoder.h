// Decoding the Huffman-coded strings of a block.
//
// Map of src/extract: decoder.h (this file) decodes blocks through one entry,
// BlockDecoder, which picks its engine itself (decode_engines.h, private: a
// walk of the tree, a 12-bit lookup table, and a byte-at-a-time walk with a
// memo for the long strings of damaged files, all over bit_reader.h);
// extract_block.h decodes the blocks of a loaded pakfile in place;
// text_writer.h lays out the text file; extract_commands.h runs /E and /L,
// decoding ahead on a second core.
#ifndef VORLEX_EXTRACT_DECODER_H_
#define VORLEX_EXTRACT_DECODER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pak/code_tree.h"

namespace vorlex::core {

struct DecodedBlock {
  int32_t string_count = 0;  // n, as the block's first two bytes give it
  std::string text;          // the decoded strings back to back
  std::vector<size_t> ends;  // where each string ends in `text`

  size_t StringsDecoded() const { return ends.size(); }
  std::string_view String(size_t k) const {
    const size_t begin = k == 0 ? 0 : ends[k - 1];
    return std::string_view(text).substr(begin, ends[k] - begin);
  }
};

struct DecodeEngines;
struct TableEntry;

// What decoding the blocks of one pakfile learns about where long strings
// end, so that bytes that many blocks cover are walked about once. One per
// pakfile and thread; it holds a few MiB at most.
class StringEndMemo {
 public:
  explicit StringEndMemo(int64_t file_size);
  ~StringEndMemo();
  StringEndMemo(const StringEndMemo&) = delete;
  StringEndMemo& operator=(const StringEndMemo&) = delete;

  struct Impl;

 private:
  friend class BlockDecoder;
  std::unique_ptr<Impl> impl_;
};

// Decodes the blocks of one code tree. Made once per tree (it prepares the
// tree's tables), then used for any number of blocks, from any number of
// threads at once. Copies share the tables.
class BlockDecoder {
 public:
  // `tree` must outlive the decoder and every copy of it.
  explicit BlockDecoder(const CodeTree& tree);

  // Decodes the strings of `block` (its count, relative offsets and bit
  // data): at most n strings, each with its terminator; a string that the
  // bytes end before its terminator is dropped. Any node table is decoded by
  // the same rules, damaged ones included.
  DecodedBlock Decode(std::string_view block) const;

  // Decodes the block of `extent` bytes at `begin` (0 or more) of `file`,
  // positions past its end reading as 0, exactly as Decode decodes those
  // bytes, without copying them. However many blocks cover the same bytes,
  // and however far past the end they run, the cost stays near the size of
  // the file plus the text decoded: a string is given up after a few KiB and
  // its end looked up in `memo` (made for `file`) or walked once. Needs
  // CanDecodeInFile().
  DecodedBlock DecodeInFile(std::string_view file, int64_t begin,
                            int64_t extent, StringEndMemo* memo) const;
  // False only for hand-made trees with child numbers above 255.
  bool CanDecodeInFile() const;

  // Takes the next characters of the string under way; `ended` is true with
  // a string's last piece, its terminator included. Returns false to stop.
  using PieceSink = std::function<bool(std::string_view chars, bool ended)>;
  // Decodes `block` exactly as Decode does, but hands the characters to
  // `sink` a few KiB at a time as they are decoded instead of gathering
  // them, so that a block of any size is checked in little memory. A string
  // that the bytes end before its terminator is never ended.
  void DecodeInPieces(std::string_view block, const PieceSink& sink) const;

  // Each engine alone, for tests and fuzz targets that check them against
  // each other; both give exactly what Decode gives.
  DecodedBlock DecodeByWalk(std::string_view block) const;
  DecodedBlock DecodeByTable(std::string_view block) const;

  const CodeTree& tree() const { return *tree_; }

 private:
  const std::vector<TableEntry>& Table() const;

  const CodeTree* tree_;
  std::shared_ptr<DecodeEngines> engines_;
};

}  // namespace vorlex::core

#endif  // VORLEX_EXTRACT_DECODER_H_
