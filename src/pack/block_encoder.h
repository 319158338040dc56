// Encoding one whole block: the string count, the relative offsets and the
// bit data, with every field limit checked and the block decoded back before
// it is accepted. The packing commands and the library both encode here.
#ifndef VORLEX_PACK_BLOCK_ENCODER_H_
#define VORLEX_PACK_BLOCK_ENCODER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "extract/decoder.h"
#include "pack/encoder.h"
#include "pak/code_tree.h"

namespace vorlex::core {

// A byte as diagnostics name it: "byte 233", or "byte 65 'A'" when printable.
std::string DescribeByteValue(unsigned char byte);

// Why the character FindUnencodable stopped at cannot be encoded, to follow
// "byte 99 'c' (character 2) ": "has no code in <tree_name>", and for a
// character whose node is not a leaf, which node carries it.
std::string UnencodableReason(
    const EncodeResult& bad, const CodeTree& tree, const CodeTable& codes,
    std::string_view tree_name = "the pakfile's tree");

// What a block is encoded with: the codes of a tree, and the decoder of the
// same tree for the read-back check.
struct BlockCoder {
  const CodeTable& codes;
  const BlockDecoder& decoder;
};

// One string of a block: its index (its entry in the relative-offset table)
// and its text, which holds no '|' but as its last character.
struct BlockString {
  int64_t index = 0;
  std::string_view text;
};

// One reason a block cannot be written.
struct BlockProblem {
  enum class Kind {
    kStringCount,   // the count does not fit its field
    kIndex,         // an index outside 0..n-1, or one that occurs twice
    kOffset,        // a string starts where a relative offset cannot point
    kNoCode,        // a character the tree has no code for
    kNotLeaf,       // a character whose code does not end at a leaf
    kMissingIndex,  // an index of 0..n-1 that no string has
    kReadBack,      // the block does not decode back to the strings
  };
  static constexpr size_t kWholeBlock = static_cast<size_t>(-1);

  Kind kind = Kind::kReadBack;
  size_t string = kWholeBlock;  // which of the strings given, in their order
  size_t position = 0;  // kNoCode, kNotLeaf: the character's place in the text
  std::string what;     // "string index 7 lies outside 0 to 1"
  // kNoCode: the place of every character without a code in the text,
  // `position` first.
  std::vector<size_t> positions;
};

// Appends a block of `count` strings to *out: the count, the relative offset
// of each string by its index, and the codes of `strings` in the order given.
// Each index 0 to count - 1 must occur once, every character must have a
// code, the count and each relative offset must fit their fields, and the
// block must decode back to the texts given, in their order (a character
// whose code ends inside the tree is named when it does not). Returns true
// when all holds. Otherwise it appends the problems to *problems, in the
// order of the strings (a string's index problems before its character
// problem; the missing index and the read-back check only when nothing else
// was wrong), and leaves *out as it was. Every string is encoded even after
// a problem, so each character without a code is found. Problems come as a
// list, not one `why`, because the text file's reader tells each of them.
bool EncodeBlock(int64_t count, std::span<const BlockString> strings,
                 const BlockCoder& coder, std::string* out,
                 std::vector<BlockProblem>* problems);

}  // namespace vorlex::core

#endif  // VORLEX_PACK_BLOCK_ENCODER_H_
