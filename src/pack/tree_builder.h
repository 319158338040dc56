// A new Huffman code tree made from the strings to be packed (--new-tree),
// for texts that use characters the pakfile's own tree lacks.
//
// The tree holds every character that the strings use, the terminator '|'
// always among them, with optimal code lengths for their counts. The nodes:
//   - leaves first, one per character in rising byte order, both child
//     fields 255;
//   - then the interior nodes in the order in which they are made, the root
//     last (node N-1, Parent 0). Their Char byte is '|', whose leaf always
//     comes first, so no interior node takes a character's place in the
//     character table.
// Interior nodes are made by the two-queue method: the leaves ordered by
// count, then byte; the made nodes in the order made. Each step takes the
// two items of least count, preferring on equal counts a leaf to a made
// node and within a queue the earlier item; the first taken becomes Child-L
// (bit 0), the second Child-R. So the same counts always give the same tree.
//
// Node numbers are bytes and 255 means "no child", so every child must be
// numbered 254 or less: at most 128 characters (255 nodes). A text whose
// strings are all empty uses '|' alone: the root then names that one leaf as
// both children, so that its code is one bit and every bit decodes.
#ifndef VORLEX_PACK_TREE_BUILDER_H_
#define VORLEX_PACK_TREE_BUILDER_H_

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "pak/pak_loader.h"

namespace vorlex::core {

inline constexpr int32_t kMaxNewTreeCharacters = 128;

// How often each byte value occurs in the strings to be packed.
using CharacterCounts = std::array<uint64_t, 256>;

// Adds the characters of `strings` (terminators included) to *counts.
void CountCharacters(std::string_view strings, CharacterCounts* counts);

struct NewTree {
  int32_t characters = 0;       // different characters, '|' included
  std::vector<TreeNode> nodes;  // empty when there are too many characters
};

// The tree for `counts`, as laid out above. '|' is held even when its count
// is 0. With more than kMaxNewTreeCharacters characters no nodes are made.
NewTree BuildNewTree(const CharacterCounts& counts);

}  // namespace vorlex::core

#endif  // VORLEX_PACK_TREE_BUILDER_H_
