// Makes pakfiles for tests, fuzz targets, benchmarks and the sample: a
// Huffman code tree for a set of strings, encoded blocks, and whole pakfiles
// in the layout the pak command writes. The tree and the layout are made
// apart from the packing code; the strings are coded by the core's encoder,
// which the tests hold against hand-computed bytes and the reference walk.
#ifndef VORLEX_TESTS_SUPPORT_PAK_MAKER_H_
#define VORLEX_TESTS_SUPPORT_PAK_MAKER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pak/code_tree.h"
#include "pak/pak.h"

namespace vorlex::core::testing {

// A Huffman code tree for the characters of `strings` and '|': the leaves in
// rising character order, then the interior nodes as made, the root (parent
// 0) last; leaves have 255 in both child fields. A lone '|' gets the partner
// 0, so that every code has a bit. Over 128 distinct characters abort.
std::vector<TreeNode> BuildHuffmanTree(const std::vector<std::string>& strings);

// The same tree with the nodes other than the root numbered afresh in an
// order drawn from `seed`, the links following them.
std::vector<TreeNode> RenumberTree(const std::vector<TreeNode>& nodes,
                                   uint32_t seed);

CodeTree MakeCodeTree(const std::vector<TreeNode>& nodes);

struct TestBlock {
  int32_t id = 0;
  std::vector<std::string> strings;  // each ends with '|'
};

// The code of `text` as the encoder makes it, each character's from the
// lowest leaf that carries it (a character no leaf carries aborts), and a
// whole block: count, relative offsets, codes.
std::string EncodeTestString(const std::vector<TreeNode>& nodes,
                             std::string_view text);
std::string EncodeTestBlock(const std::vector<TreeNode>& nodes,
                            const std::vector<std::string>& strings);

// A whole pakfile as the pak command writes it: node count, nodes, block
// count, directory (ID, 3-byte Offset, a 0 byte), the blocks in order.
std::string MakePakfile(const std::vector<TreeNode>& nodes,
                        const std::vector<TestBlock>& blocks);

// The same from ready-made block bytes, with `ids` (0, 1, 2, ... if none).
std::string MakePakfileFromBlockBytes(const std::vector<TreeNode>& nodes,
                                      const std::vector<std::string>& blocks,
                                      const std::vector<int32_t>& ids = {});

inline constexpr std::string_view kDefaultAlphabet =
    "etaoinshrdlucmfwypvbgkjqxz ETAOINSHRDLUCMFWYPVBGKJQXZ.,;:!?'-0123456789\n";

// Random sentence-like strings with random ids, the same for the same seed
// everywhere: words of the letters of `alphabet` (earlier letters more
// often), separated by a blank if it has one and now and then by an LF if it
// has one; 0 to `max_length` characters before each '|'.
std::vector<TestBlock> RandomBlocks(
    uint32_t seed, int block_count, int strings_per_block,
    std::string_view alphabet = kDefaultAlphabet, int max_length = 60);

std::vector<std::string> AllStrings(const std::vector<TestBlock>& blocks);

// The text file that /E writes for MakePakfile(nodes, blocks) named `pakfile`
// on the command line, with `node_count` nodes; and one block section of it.
std::string ExpectedExtractText(std::string_view pakfile, int node_count,
                                const std::vector<TestBlock>& blocks);
std::string ExpectedBlockSection(int block_nr, const TestBlock& block);

// Bytes as hexadecimal pairs ("03 00 41"), the first `limit` of them, and
// back (other text is skipped).
std::string Hex(std::string_view bytes, size_t limit = std::string_view::npos);
std::string Unhex(std::string_view hex);

}  // namespace vorlex::core::testing

#endif  // VORLEX_TESTS_SUPPORT_PAK_MAKER_H_
