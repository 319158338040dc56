// Bit paths and the character table derived from a node table, for sound
// trees and for tables that do not form a tree.
#include "pak/code_tree.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vorlex {
namespace {

// Char, Parent, Child-L, Child-R.
using Nodes = std::vector<TreeNode>;

constexpr int32_t kLeaf = 255;

struct Built {
  CodeTree tree;
  std::vector<int32_t> broken;
};

// Start-up's order: prepare, load, bit paths, character table.
Built Build(const Nodes& nodes) {
  Built built;
  PrepareBitPaths(static_cast<int32_t>(nodes.size()), &built.tree);
  built.tree.nodes = nodes;
  built.broken = BuildBitPaths(&built.tree);
  BuildCharTable(&built.tree);
  return built;
}

// Leaves 'A' and '|' under the root 2.
const Nodes kThreeNodes = {
    {'A', 2, kLeaf, kLeaf}, {'|', 2, kLeaf, kLeaf}, {0, 0, 0, 1}};

// Leaves 0 to 5 ('a' to 'f'), interior nodes 6 to 9, root 10:
//   root: left 9, right 8;  9: left 7, right 5 ('f');  8: left 4 ('e'),
//   right 6;  7: left 3 ('d'), right 2 ('c');  6: left 0 ('a'), right 1 ('b').
const Nodes kElevenNodes = {
    {'a', 6, kLeaf, kLeaf}, {'b', 6, kLeaf, kLeaf}, {'c', 7, kLeaf, kLeaf},
    {'d', 7, kLeaf, kLeaf}, {'e', 8, kLeaf, kLeaf}, {'f', 9, kLeaf, kLeaf},
    {200, 8, 0, 1},         {201, 9, 3, 2},         {202, 10, 4, 6},
    {203, 10, 7, 5},        {204, 255, 9, 8}};

TEST(BitPathTest, TwoLeavesUnderTheRoot) {
  const Built built = Build(kThreeNodes);
  EXPECT_TRUE(built.broken.empty());
  EXPECT_EQ(built.tree.bit_paths, (std::vector<std::string>{"0", "1", "", ""}));
}

TEST(BitPathTest, PathsListTheStepsFromTheNodeUp) {
  const Built built = Build(kElevenNodes);
  EXPECT_TRUE(built.broken.empty());
  // Leaf 'a' is reached by right, right, left; leaf 'c' by left, left, right.
  EXPECT_EQ(built.tree.bit_paths,
            (std::vector<std::string>{"011", "111", "100", "000", "01", "10",
                                      "11", "00", "1", "0", "", ""}));
}

TEST(BitPathTest, LeftChildIsTestedFirst) {
  // The root names node 0 as both children.
  const Built built =
      Build({{'x', 2, kLeaf, kLeaf}, {'y', 2, kLeaf, kLeaf}, {0, 0, 0, 0}});
  EXPECT_EQ(built.tree.bit_paths[0], "0");
  EXPECT_EQ(built.tree.bit_paths[1], "");
  EXPECT_EQ(built.broken, (std::vector<int32_t>{1}));
}

TEST(BitPathTest, BrokenLinksShortenThePathAndAreListedInNodeOrder) {
  Nodes nodes = kElevenNodes;
  nodes[8].child_r = kLeaf;  // node 8 no longer names node 6
  nodes[5].parent = 7;       // node 7 does not name node 5
  const Built built = Build(nodes);
  EXPECT_EQ(built.broken, (std::vector<int32_t>{0, 1, 5, 6}));
  // The step that appended nothing is missing; the others are kept.
  EXPECT_EQ(built.tree.bit_paths[0], "01");
  EXPECT_EQ(built.tree.bit_paths[1], "11");
  EXPECT_EQ(built.tree.bit_paths[5], "00");
  EXPECT_EQ(built.tree.bit_paths[6], "1");
  // Nodes off the broken links are untouched.
  EXPECT_EQ(built.tree.bit_paths[2], "100");
  EXPECT_EQ(built.tree.bit_paths[4], "01");
  EXPECT_EQ(built.tree.bit_paths[8], "1");
}

TEST(BitPathTest, NodeBitPathReportsItsOwnWalk) {
  Nodes nodes = kElevenNodes;
  nodes[9].child_l = 3;  // node 9 no longer names node 7
  const Built built = Build(nodes);
  bool broken = true;
  EXPECT_EQ(NodeBitPath(built.tree, 0, &broken), "011");
  EXPECT_FALSE(broken);
  EXPECT_EQ(NodeBitPath(built.tree, 2, &broken), "10");
  EXPECT_TRUE(broken);
  EXPECT_EQ(NodeBitPath(built.tree, 8, &broken), "1");
  EXPECT_FALSE(broken);
}

TEST(BitPathTest, SmallestTables) {
  const Built one = Build({{'Q', 7, kLeaf, kLeaf}});
  EXPECT_TRUE(one.broken.empty());
  EXPECT_EQ(one.tree.bit_paths, (std::vector<std::string>{"", ""}));

  const Built none = Build({});
  EXPECT_TRUE(none.broken.empty());
  EXPECT_EQ(none.tree.bit_paths, (std::vector<std::string>{""}));
}

TEST(BitPathTest, PrepareEmptiesEveryEntry) {
  CodeTree tree;
  tree.bit_paths = {"01", "1", "0"};
  PrepareBitPaths(4, &tree);
  EXPECT_EQ(tree.bit_paths, (std::vector<std::string>(5, "")));
}

TEST(BitPathTest, DeepestTreeIsWalkedToTheRoot) {
  // 256 nodes in one chain: node k's parent is k + 1, which names k as its
  // left child. Node 0 is 255 steps from the root 255.
  Nodes nodes;
  for (int32_t k = 0; k < 256; ++k) {
    nodes.push_back({k, (k + 1) & 255, k == 0 ? kLeaf : k - 1, kLeaf});
  }
  const Built built = Build(nodes);
  EXPECT_TRUE(built.broken.empty());
  EXPECT_EQ(built.tree.bit_paths[0], std::string(255, '0'));
  EXPECT_EQ(built.tree.bit_paths[254], "0");
}

// Tables that never lead to the root: every such walk ends, is counted as
// broken, and keeps no more steps than there are nodes.
TEST(BitPathTest, ParentCycleEnds) {
  // Nodes 0 and 1 are each other's parent and child; node 2 is sound.
  const Built built = Build({{'x', 1, 1, kLeaf},
                             {'y', 0, 0, kLeaf},
                             {'z', 3, kLeaf, kLeaf},
                             {0, 0, 2, kLeaf}});
  EXPECT_EQ(built.broken, (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(built.tree.bit_paths[2], "0");
  for (size_t k : {size_t{0}, size_t{1}}) {
    EXPECT_LE(built.tree.bit_paths[k].size(), 4u);
    EXPECT_EQ(built.tree.bit_paths[k].find_first_not_of('0'),
              std::string::npos);
  }

  // A node that is its own parent.
  const Built self = Build({{'x', 0, kLeaf, kLeaf}, {0, 0, 0, kLeaf}});
  EXPECT_EQ(self.broken, (std::vector<int32_t>{0}));
}

TEST(BitPathTest, ParentBeyondTheNodeTableEnds) {
  // Node 0's parent is 7, node 1's is 3 = N: both read as all-zero records.
  const Built built =
      Build({{'x', 7, kLeaf, kLeaf}, {'y', 3, kLeaf, kLeaf}, {0, 0, 0, 1}});
  EXPECT_EQ(built.broken, (std::vector<int32_t>{0, 1}));
  EXPECT_LE(built.tree.bit_paths[0].size(), 3u);
  EXPECT_LE(built.tree.bit_paths[1].size(), 3u);
}

TEST(BitPathTest, RootBeyondEveryParentByte) {
  // 300 nodes: no Parent byte can name the root 299, so every walk is
  // broken. The nodes form one long chain and a cycle, the worst case for a
  // walk that must give up.
  Nodes nodes;
  for (int32_t k = 0; k < 300; ++k) {
    nodes.push_back({k & 255, (k + 1) & 255, (k - 1) & 255, kLeaf});
  }
  const Built built = Build(nodes);
  ASSERT_EQ(built.broken.size(), 299u);
  for (int32_t k = 0; k < 299; ++k) {
    EXPECT_EQ(built.broken[static_cast<size_t>(k)], k);
    EXPECT_LE(built.tree.bit_paths[static_cast<size_t>(k)].size(), 300u);
  }

  // The largest node count: 65534 walks, each of which must give up.
  nodes.clear();
  for (int32_t k = 0; k < 65535; ++k) {
    nodes.push_back({0, (k + 1) & 255, (k - 1) & 255, kLeaf});
  }
  const Built largest = Build(nodes);
  EXPECT_EQ(largest.broken.size(), 65534u);
}

TEST(CharTableTest, LowestNodeCarryingACharWins) {
  const Built three = Build(kThreeNodes);
  const CodeTree& tree = three.tree;
  EXPECT_EQ(tree.char_table['A'], 0);
  EXPECT_EQ(tree.char_table['|'], 1);
  EXPECT_EQ(tree.char_table[0], 2);  // the root's own Char byte
  EXPECT_EQ(tree.char_table['B'], kNoNode);
  EXPECT_EQ(CharBitPath(tree, 'A'), "0");
  EXPECT_EQ(CharBitPath(tree, '|'), "1");
  EXPECT_EQ(CharBitPath(tree, 0), "");  // the root has no path
  EXPECT_EQ(CharBitPath(tree, 'B'), "");
  EXPECT_EQ(CharBitPath(tree, 255), "");

  // Two leaves with the same Char: the lower node.
  Nodes duplicate = kElevenNodes;
  duplicate[3].char_ = 'b';  // 'b' is also leaf 1's
  const Built dup = Build(duplicate);
  EXPECT_EQ(dup.tree.char_table['b'], 1);
  EXPECT_EQ(CharBitPath(dup.tree, 'b'), "111");
  EXPECT_EQ(dup.tree.char_table['d'], kNoNode);
  EXPECT_EQ(dup.tree.char_table[200], 6);
  EXPECT_EQ(dup.tree.char_table[204], 10);
}

TEST(CharTableTest, InteriorNodeBeforeTheLeafIsTaken) {
  // Node 0 is interior (children 1 and 2) and carries 'z', whose leaf is 3.
  const Built built = Build({{'z', 4, 1, 2},
                             {'x', 0, kLeaf, kLeaf},
                             {'y', 0, kLeaf, kLeaf},
                             {'z', 4, kLeaf, kLeaf},
                             {'r', 255, 0, 3}});
  EXPECT_TRUE(built.broken.empty());
  EXPECT_EQ(built.tree.char_table['z'], 0);
  EXPECT_EQ(CharBitPath(built.tree, 'z'), "0");
  EXPECT_EQ(CharBitPath(built.tree, 'x'), "00");
  EXPECT_EQ(CharBitPath(built.tree, 'y'), "10");
  EXPECT_EQ(CharBitPath(built.tree, 'r'), "");
}

TEST(CharTableTest, SmallestTables) {
  // N = 1: the root carries its own Char; every path is empty.
  const Built one = Build({{'Q', 0, kLeaf, kLeaf}});
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(one.tree.char_table[static_cast<size_t>(c)],
              c == 'Q' ? 0 : kNoNode)
        << c;
    EXPECT_EQ(CharBitPath(one.tree, static_cast<unsigned char>(c)), "");
  }
  // N = 0: no character has a node.
  const Built none = Build({});
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(none.tree.char_table[static_cast<size_t>(c)], kNoNode) << c;
    EXPECT_EQ(CharBitPath(none.tree, static_cast<unsigned char>(c)), "");
  }
}

TEST(CodeTreeTest, NodesBeyondTheTableReadAsZero) {
  const Built built = Build(kThreeNodes);
  for (int64_t k : {int64_t{3}, int64_t{255}, int64_t{70000}, int64_t{-1}}) {
    const TreeNode& node = built.tree.Node(k);
    EXPECT_EQ(node.char_, 0) << k;
    EXPECT_EQ(node.parent, 0) << k;
    EXPECT_EQ(node.child_l, 0) << k;
    EXPECT_EQ(node.child_r, 0) << k;
  }
  EXPECT_EQ(built.tree.Node(1).char_, '|');
}

TEST(CodeTreeTest, PrepareCodeTreeBuildsEveryTable) {
  CodeTree tree;
  tree.nodes = kElevenNodes;
  tree.nodes[8].child_r = kLeaf;
  EXPECT_EQ(PrepareCodeTree(&tree), (std::vector<int32_t>{0, 1, 6}));
  EXPECT_EQ(tree.bit_paths.size(), 12u);
  EXPECT_EQ(CharBitPath(tree, 'c'), "100");
  EXPECT_EQ(CharBitPath(tree, 'a'), "01");
}

}  // namespace
}  // namespace vorlex
