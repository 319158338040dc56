// Bit paths and the character table derived from a node table, for sound
// trees and for tables that do not form a tree.
#include "pak/code_tree.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vorlex::core {
namespace {

using std::string_view_literals::operator""sv;
using Nodes = std::vector<TreeNode>;  // Char, Parent, Child-L, Child-R
constexpr int32_t kL = 255;           // no child: a leaf

// Start-up's order, over a table that held other paths before. Shows the
// paths of nodes 0 to N ("-" when empty) when `paths`, the broken nodes, and
// for each of `chars` its node (-1 for none) and its path.
std::string Build(const Nodes& nodes, std::string_view chars, bool paths) {
  CodeTree tree, prepared;
  tree.bit_paths.assign(300, "stale");
  PrepareBitPaths(static_cast<int32_t>(nodes.size()), &tree);
  tree.nodes = prepared.nodes = nodes;
  const std::vector<int32_t> broken = BuildBitPaths(&tree);
  BuildCharTable(&tree);
  if (nodes.size() < 300) {  // the same in one call
    EXPECT_EQ(PrepareCodeTree(&prepared), broken);
  }
  std::string text;
  for (const std::string& path : tree.bit_paths) {
    EXPECT_LE(path.size(), nodes.size());  // every walk ends
    if (paths) text += (path.empty() ? "-" : path) + " ";
  }
  text += "|";
  for (int32_t k : broken) text += " " + std::to_string(k);
  text += " |";
  for (unsigned char c : chars) {
    text += " " + std::to_string(tree.char_table[c]) + "/" +
            std::string(CharBitPath(prepared, c));
  }
  return text;
}

// A chain: node k's parent is k + 1 (as a byte), which names k on its left.
Nodes Chain(int32_t count) {
  Nodes nodes;
  for (int32_t k = 0; k < count; ++k) {
    nodes.push_back({k & 255, (k + 1) & 255, (k - 1) & 255, kL});
  }
  return nodes;
}

// Leaves a to f (0 to 5); the root 10 has 9 on its left, 8 on its right;
// 9: 7, f; 8: e, 6; 7: d, c; 6: a, b. So a is right, right, left: "011".
const Nodes kEleven = {{'a', 6, kL, kL}, {'b', 6, kL, kL}, {'c', 7, kL, kL},
                       {'d', 7, kL, kL}, {'e', 8, kL, kL}, {'f', 9, kL, kL},
                       {200, 8, 0, 1},   {201, 9, 3, 2},   {202, 10, 4, 6},
                       {203, 10, 7, 5},  {204, 255, 9, 8}};

TEST(CodeTreeTest, PathsBrokenNodesAndCharTable) {
  Nodes broken = kEleven;
  broken[8].child_r = kL;  // 8 no longer names 6
  broken[5].parent = 7;    // 7 does not name 5
  broken[3].char_ = 'b';   // as leaf 1; d is gone
  const Nodes interior = {{'z', 4, 1, 2},
                          {'x', 0, kL, kL},
                          {'y', 0, kL, kL},
                          {'z', 4, kL, kL},
                          {'r', 255, 0, 3}};
  std::string deepest, all = "|";
  for (int k = 255; k > 0; --k) deepest += std::string(k, '0') + " ";
  for (int k = 0; k < 65534; ++k) all += " " + std::to_string(k);
  // Where a walk never reaches the root, only the broken nodes are shown:
  // how such a walk ends is free, as long as it ends within N steps.
  const std::tuple<Nodes, std::string_view, std::string> cases[] = {
      {kEleven, "ac", "011 111 100 000 01 10 11 00 1 0 - - | | 0/011 2/100"},
      // A broken step adds nothing; the lowest node with a Char wins.
      {broken, "bd\xC8\xCC",
       "01 11 100 000 01 00 1 00 1 0 - - | 0 1 5 6 | 1/11 -1/ 6/1 10/"},
      // Child-L is tested first.
      {{{'x', 2, kL, kL}, {'y', 2, kL, kL}, {0, 0, 0, 0}}, "", "0 - - - | 1 |"},
      // The interior node 0 carries z before its leaf 3; the root r counts.
      {interior, "zyr", "0 00 10 1 - - | | 0/0 2/10 4/"},
      {{{'Q', 7, kL, kL}}, "Q\0"sv, "- - | | 0/ -1/"},
      {{}, "\0"sv, "- | | -1/"},
      {Chain(256), "", deepest + "- - | |"},  // the deepest a pakfile holds
      // A cycle, a node that is its own parent, parents at or beyond N.
      {{{'x', 1, 1, kL}, {'y', 0, 0, kL}, {0, 0, 0, kL}}, "", "| 0 1 |"},
      {{{'x', 0, kL, kL}, {0, 0, 0, kL}}, "", "| 0 |"},
      {{{'x', 7, kL, kL}, {'y', 3, kL, kL}, {0, 0, 0, 1}}, "", "| 0 1 |"},
      // No Parent byte can name a root numbered 256 or more.
      {Chain(65535), "", all + " |"}};
  for (const auto& [nodes, chars, expected] : cases) {
    EXPECT_EQ(Build(nodes, chars, expected[0] != '|'), expected);
  }
}

}  // namespace
}  // namespace vorlex::core
