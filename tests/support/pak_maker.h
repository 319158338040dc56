// Makes pakfiles for tests, fuzz targets, benchmarks and the sample: a
// Huffman code tree for a set of strings, encoded blocks, and whole pakfiles
// in the layout the pak command writes. Written apart from the packing code,
// so that each can be checked against the other.
#ifndef VORLEX_TESTS_SUPPORT_PAK_MAKER_H_
#define VORLEX_TESTS_SUPPORT_PAK_MAKER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pak/code_tree.h"
#include "pak/pak.h"

namespace vorlex::testing {

// A Huffman code tree for the characters of `strings` (the terminator '|'
// always in it), as node records: the leaves first in rising character order,
// then the interior nodes in the order they were made, so the root is the
// last node. Every node number that is a child is 0 to 254, leaves have 255
// in both child fields, and parents are set (the root's is 0). A lone
// character gets a partner, the character 0 or else 1, so that every code has
// a bit. At most 128 distinct characters fit 256 nodes; more aborts.
// Deterministic for the same input.
std::vector<TreeNode> BuildHuffmanTree(const std::vector<std::string>& strings);

// The same tree with its nodes other than the root numbered afresh in an
// order drawn from `seed`, the links following them.
std::vector<TreeNode> RenumberTree(const std::vector<TreeNode>& nodes,
                                   uint32_t seed);

// A CodeTree holding `nodes`, with its bit paths and character table built as
// start-up builds them.
CodeTree MakeCodeTree(const std::vector<TreeNode>& nodes);

struct TestBlock {
  int32_t id = 0;
  std::vector<std::string> strings;  // each ends with '|'
};

// The code of one string: each character's code, found by walking the
// parents up from the lowest leaf that carries it, most significant bit first,
// padded with 0 bits to a whole byte. A character no leaf carries aborts.
std::string EncodeTestString(const std::vector<TreeNode>& nodes,
                             std::string_view text);

// The block bytes: count, relative offsets, bit data.
std::string EncodeTestBlock(const std::vector<TreeNode>& nodes,
                            const std::vector<std::string>& strings);

// A whole pakfile in the layout the pak command writes: node count, nodes,
// block count, directory (ID, 3-byte Offset then a 0 byte), blocks one after
// the other from the end of the directory on.
std::string MakePakfile(const std::vector<TreeNode>& nodes,
                        const std::vector<TestBlock>& blocks);

// The same from ready-made block bytes, with ids 0, 1, 2, ...
std::string MakePakfileFromBlockBytes(const std::vector<TreeNode>& nodes,
                                      const std::vector<std::string>& blocks);

// A pakfile loaded as start-up loads it.
LoadedPak LoadTestPak(std::string bytes);

inline constexpr std::string_view kDefaultAlphabet =
    "etaoinshrdlucmfwypvbgkjqxz ETAOINSHRDLUCMFWYPVBGKJQXZ.,;:!?'-0123456789\n";

// Random sentence-like strings, seeded: words of the letters of `alphabet`
// (earlier letters more often), separated by a blank when the alphabet has
// one and now and then by an LF when it has one; each string has 0 to
// `max_length` characters before its '|'. Ids are random. The same seed gives
// the same blocks everywhere.
std::vector<TestBlock> RandomBlocks(
    uint32_t seed, int block_count, int strings_per_block,
    std::string_view alphabet = kDefaultAlphabet, int max_length = 60);

// Every string of `blocks`, for BuildHuffmanTree.
std::vector<std::string> AllStrings(const std::vector<TestBlock>& blocks);

// The text file that /E writes for a pakfile made by MakePakfile from
// `blocks`, named `pakfile` on the command line, with `node_count` nodes.
std::string ExpectedExtractText(std::string_view pakfile, int node_count,
                                const std::vector<TestBlock>& blocks);

// One block section of that text file.
std::string ExpectedBlockSection(int block_nr, const TestBlock& block);

}  // namespace vorlex::testing

#endif  // VORLEX_TESTS_SUPPORT_PAK_MAKER_H_
