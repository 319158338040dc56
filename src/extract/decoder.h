// Decoding the Huffman-coded strings of one block.
#ifndef VORLEX_EXTRACT_DECODER_H_
#define VORLEX_EXTRACT_DECODER_H_

#include <cstdint>
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

// Decodes the strings of `block` (its count, relative offsets and bit data):
// at most n strings, each with its terminator; a string that the bytes end
// before its terminator is dropped.
DecodedBlock DecodeBlock(std::string_view block, const CodeTree& tree);

}  // namespace vorlex::core

#endif  // VORLEX_EXTRACT_DECODER_H_
