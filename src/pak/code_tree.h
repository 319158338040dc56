// The code tree of a pakfile and the tables derived from it once per run.
#ifndef VORLEX_PAK_CODE_TREE_H_
#define VORLEX_PAK_CODE_TREE_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pak/pak_format.h"
#include "pak/pak_loader.h"

namespace vorlex::core {

inline constexpr int32_t kNoNode = -1;

struct CodeTree {
  std::vector<TreeNode> nodes;  // node k at index k
  // The bit path of each node 0 to N: "0" and "1" characters, one per step
  // from the node up to the root, the step out of the node first. The root's
  // entry and entry N are empty.
  std::vector<std::string> bit_paths;
  // The node that carries each character code, or kNoNode.
  std::array<int32_t, 256> char_table{};

  int32_t NodeCount() const { return static_cast<int32_t>(nodes.size()); }
  // Node numbers at or beyond N read as an all-zero record.
  const TreeNode& Node(int64_t k) const {
    static constexpr TreeNode kZeroNode{};
    return k >= 0 && k < static_cast<int64_t>(nodes.size())
               ? nodes[static_cast<size_t>(k)]
               : kZeroNode;
  }
};

// One bit's step down the tree: a 0 bit follows Child-L, a 1 bit Child-R.
// The node reached is a leaf when its own child field on the side just taken
// is empty (255); its Char is then the character decoded, and the next code
// starts at the root. Node numbers outside the table read as an all-zero
// record. Every decoder of the project steps through this one rule.
struct TreeStep {
  int64_t node = 0;  // the node reached
  bool leaf = false;
};
inline TreeStep StepDown(const CodeTree& tree, int64_t node, unsigned bit) {
  const TreeNode& from = tree.Node(node);
  const int64_t to = bit ? from.child_r : from.child_l;
  const TreeNode& reached = tree.Node(to);
  return {to, (bit ? reached.child_r : reached.child_l) == kNoChild};
}

// Makes the bit-path table hold entries 0 to `node_count`, all empty.
void PrepareBitPaths(int32_t node_count, CodeTree* tree);

// The bit path of node k (0 to N-2), walking Parent links up to the root.
// Sets *broken when a step's parent names the node in neither child field, or
// when the walk can never reach the root (a cycle, or a link beyond the node
// table); such a walk stops there and returns the steps it found.
std::string NodeBitPath(const CodeTree& tree, int32_t k, bool* broken);

// Fills the bit paths of nodes 0 to N-2 and returns the numbers of the nodes
// whose walk was broken, in node order: each is worth one "Error in Tree!".
std::vector<int32_t> BuildBitPaths(CodeTree* tree);

// Fills the character table: for each code, the lowest node whose Char is it.
void BuildCharTable(CodeTree* tree);

// The bit path the encoder uses for character c: empty when no node carries
// c or its node is the root.
std::string_view CharBitPath(const CodeTree& tree, unsigned char c);

// Builds every table of `tree` from its loaded nodes, as start-up does.
// Returns the broken nodes, as BuildBitPaths does.
std::vector<int32_t> PrepareCodeTree(CodeTree* tree);

}  // namespace vorlex::core

#endif  // VORLEX_PAK_CODE_TREE_H_
