// New code trees made from the strings to be packed.
#include "pack/tree_builder.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "extract/decoder.h"
#include "support/pak_maker.h"

namespace vorlex::core::testing {
namespace {

CharacterCounts Count(const std::vector<std::string>& strings) {
  CharacterCounts counts{};
  for (const std::string& s : strings) CountCharacters(s, &counts);
  return counts;
}

// Bits that `strings` take with `nodes` (each leaf's depth times its count).
uint64_t Cost(const std::vector<TreeNode>& nodes, const CharacterCounts& n) {
  const CodeTree tree = MakeCodeTree(nodes);
  uint64_t bits = 0;
  for (int c = 0; c < 256; ++c) bits += n[c] * CharBitPath(tree, c).size();
  return bits;
}

// The layout the pakfile's readers rely on: leaves first in rising byte
// order, interior nodes after, the root last; every child numbered 254 or
// less; every leaf in the character table; and the strings come back.
void ExpectSoundTree(const std::vector<std::string>& strings) {
  const CharacterCounts counts = Count(strings);
  const NewTree made = BuildNewTree(counts);
  const auto& nodes = made.nodes;
  ASSERT_FALSE(nodes.empty());
  ASSERT_LE(nodes.size(), 255u);
  const size_t leaves = static_cast<size_t>(made.characters);
  EXPECT_EQ(nodes.size(), leaves == 1 ? 2 : 2 * leaves - 1);
  for (size_t k = 0; k < nodes.size(); ++k) {
    const bool leaf = k < leaves;
    EXPECT_EQ(nodes[k].child_l == 255 && nodes[k].child_r == 255, leaf) << k;
    if (leaf) {
      EXPECT_TRUE(k == 0 || nodes[k - 1].char_ < nodes[k].char_);
      EXPECT_TRUE(counts[nodes[k].char_] > 0 || nodes[k].char_ == '|');
    } else {
      EXPECT_LE(nodes[k].child_l, 254);
      EXPECT_LT(nodes[k].child_l, static_cast<int32_t>(k));
      EXPECT_LT(nodes[k].child_r, static_cast<int32_t>(k));
    }
  }
  const CodeTree tree = MakeCodeTree(nodes);
  for (size_t k = 0; k < leaves; ++k) {
    EXPECT_EQ(tree.char_table[nodes[k].char_], static_cast<int32_t>(k));
  }
  EXPECT_EQ(BlockDecoder(tree).Decode(EncodeTestBlock(nodes, strings)).text,
            std::accumulate(strings.begin(), strings.end(), std::string()));
  // As few bits as an independently made Huffman tree takes.
  if (leaves > 1) {
    EXPECT_EQ(Cost(nodes, counts), Cost(BuildHuffmanTree(strings), counts));
  }
}

TEST(TreeBuilderTest, NewTreesHoldTheTextsCharactersInTheFixedLayout) {
  ExpectSoundTree(
      {"Caf\351 cr\350me|", "Ma\361ana|", "Stra\337e|", "\263\363d\274|", "|"});
  ExpectSoundTree({"|"});  // one character: the root names it twice
  ExpectSoundTree({});
  ExpectSoundTree({"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab|"});
  for (const TestBlock& block : RandomBlocks(7, 4, 30))
    ExpectSoundTree(block.strings);
  std::string all;  // 127 characters and '|': the most a tree holds
  for (int c = 128; c < 255; ++c) all += static_cast<char>(c);
  ExpectSoundTree({all + "|"});
  const NewTree too_many = BuildNewTree(Count({all + "\x01|"}));
  EXPECT_EQ(too_many.characters, 129);
  EXPECT_TRUE(too_many.nodes.empty());
}

TEST(TreeBuilderTest, TiesGoToLeavesThenToTheLowerByte) {
  // a, b and '|' once, c twice: a and b merge first (node 4), '|' is taken
  // next, then c over node 4 of the same count (node 5).
  EXPECT_EQ(
      Hex(MakePakfileFromBlockBytes(BuildNewTree(Count({"abcc|"})).nodes, {})),
      "07 00 61 04 FF FF 62 04 FF FF 63 05 FF FF 7C 05 FF FF "
      "7C 06 00 01 7C 06 03 02 7C 00 04 05 00 00");
}

}  // namespace
}  // namespace vorlex::core::testing
