// Decoding the Huffman-coded strings of a block.
//
// Map of src/extract: decoder.h (this file) decodes blocks through one entry,
// BlockDecoder, which picks its engine itself (decode_engines.h, private:
// a walk of the tree bit by bit and a lookup table of the next 11 bits, over
// bit_reader.h); extract_block.h cuts a block out of a loaded pakfile;
// text_writer.h lays out the text file; extract_commands.h runs /E and /L.
#ifndef VORLEX_EXTRACT_DECODER_H_
#define VORLEX_EXTRACT_DECODER_H_

#include <cstdint>
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

  // Each engine alone, for tests and fuzz targets that check them against
  // each other; both give exactly what Decode gives.
  DecodedBlock DecodeByWalk(std::string_view block) const;
  DecodedBlock DecodeByTable(std::string_view block) const;

  const CodeTree& tree() const { return *tree_; }

 private:
  const CodeTree* tree_;
  std::shared_ptr<const DecodeEngines> engines_;
};

}  // namespace vorlex::core

#endif  // VORLEX_EXTRACT_DECODER_H_
