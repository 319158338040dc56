#include "support/pak_maker.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "extract/extract_commands.h"
#include "extract/worked_examples.h"
#include "support/command_test.h"

namespace vorlex::testing {
namespace {

// The shape every tree of the maker has: root last, children numbered 0 to
// 254, leaves marked on both sides, every non-root node its parent's child.
void ExpectSoundTree(const std::vector<TreeNode>& nodes) {
  ASSERT_GE(nodes.size(), 3u);
  ASSERT_LE(nodes.size(), 256u);
  const int root = static_cast<int>(nodes.size()) - 1;
  std::multiset<int> children;
  for (int k = 0; k <= root; ++k) {
    const TreeNode& node = nodes[static_cast<size_t>(k)];
    const bool leaf = node.child_l == 255 && node.child_r == 255;
    if (!leaf) {
      ASSERT_TRUE(node.child_l != 255 && node.child_r != 255) << k;
      children.insert(node.child_l);
      children.insert(node.child_r);
    }
    if (k == root) continue;
    ASSERT_LT(node.parent, static_cast<int>(nodes.size()));
    const TreeNode& parent = nodes[static_cast<size_t>(node.parent)];
    EXPECT_TRUE(parent.child_l == k || parent.child_r == k) << k;
  }
  EXPECT_EQ(children.size(), static_cast<size_t>(root));
  EXPECT_EQ(std::set<int>(children.begin(), children.end()).size(),
            children.size());
  EXPECT_LE(*children.rbegin(), 254);
  EXPECT_EQ(children.count(root), 0u);
}

TEST(PakMakerTest, MakesTheThreeNodePakfile) {
  const std::vector<TreeNode> nodes = BuildHuffmanTree({"A|"});
  EXPECT_EQ(Hex(MakePakfile(nodes, {{7, {"A|"}}})), Hex(ThreeNodePak()));
}

TEST(PakMakerTest, TreesHaveTheShapeOfAPakfileTree) {
  ExpectSoundTree(BuildHuffmanTree({}));
  ExpectSoundTree(BuildHuffmanTree({"||||"}));
  ExpectSoundTree(BuildHuffmanTree({std::string("\0\0|", 3)}));
  std::string all;
  for (int c = 0; c < 127; ++c) all.push_back(static_cast<char>(c * 2 + 1));
  const std::vector<TreeNode> widest = BuildHuffmanTree({all});
  EXPECT_EQ(widest.size(), 255u);
  ExpectSoundTree(widest);
  ExpectSoundTree(RenumberTree(widest, 9));
  for (uint32_t seed = 0; seed < 20; ++seed) {
    const std::vector<TreeNode> nodes =
        BuildHuffmanTree(AllStrings(RandomBlocks(seed, 2, 10)));
    ExpectSoundTree(nodes);
    ExpectSoundTree(RenumberTree(nodes, seed));
  }
}

TEST(PakMakerTest, ALoneTerminatorGetsAPartner) {
  const std::vector<TreeNode> nodes = BuildHuffmanTree({"|"});
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0].char_, 0);
  EXPECT_EQ(EncodeTestString(nodes, "|").size(), 1u);
}

TEST(PakMakerTest, SameInputSameBytes) {
  const std::vector<TestBlock> blocks = RandomBlocks(42, 4, 8);
  EXPECT_EQ(blocks.size(), 4u);
  EXPECT_EQ(blocks[3].strings.size(), 8u);
  EXPECT_EQ(AllStrings(blocks), AllStrings(RandomBlocks(42, 4, 8)));
  EXPECT_NE(AllStrings(blocks), AllStrings(RandomBlocks(43, 4, 8)));
  const std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(blocks));
  EXPECT_EQ(MakePakfile(nodes, blocks),
            MakePakfile(BuildHuffmanTree(AllStrings(blocks)), blocks));
}

TEST(PakMakerTest, RandomStringsEndWithTheirOnlyTerminator) {
  for (const std::string& s : AllStrings(RandomBlocks(7, 5, 20, "ab |", 30))) {
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.find('|'), s.size() - 1) << s;
    EXPECT_LE(s.size(), 31u);
    EXPECT_EQ(s.find_first_not_of("ab |"), std::string::npos) << s;
  }
}

TEST(PakMakerTest, BlockLayout) {
  // Relative offsets count from the bit data; each string starts a byte.
  const std::vector<TreeNode> nodes = FiveNodeTree();
  EXPECT_EQ(Hex(EncodeTestBlock(nodes, {"ab|", "|"})), Hex(FiveNodeBlock()));
  EXPECT_EQ(Hex(EncodeTestBlock(nodes, {"aaaaaaab|", "b|", ""})),
            "03 00 00 00 02 00 03 00 01 60 B0");
  EXPECT_EQ(Hex(EncodeTestBlock(nodes, {})), "00 00");
}

// What the maker writes, the extract command reads back: its whole text file.
TEST(PakMakerTest, ExtractAllGivesTheExpectedTextForRandomPakfiles) {
  TempDir dir;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    const std::vector<TestBlock> blocks =
        RandomBlocks(seed, 1 + seed % 7, static_cast<int>(seed % 13));
    std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(blocks));
    if (seed % 3 == 0) nodes = RenumberTree(nodes, seed);
    const LoadedPak pak = LoadTestPak(MakePakfile(nodes, blocks));
    std::string out, err;
    Console console = StringConsole(&out, &err);
    ExtractAll("r.pak", dir.Path("r.txt"), pak, console);
    EXPECT_EQ(out, std::string(blocks.size(), '.') + "Ok..\r\n");
    EXPECT_EQ(err, "");
    EXPECT_FALSE(console.failure || console.error_reported);
    ASSERT_EQ(
        ReadFileOrDie(dir.Path("r.txt")),
        ExpectedExtractText("r.pak", static_cast<int>(nodes.size()), blocks))
        << "seed " << seed;
  }
}

}  // namespace
}  // namespace vorlex::testing
