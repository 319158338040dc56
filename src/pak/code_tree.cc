#include "pak/code_tree.h"

#include <bitset>

namespace vorlex::core {

void PrepareBitPaths(int32_t node_count, CodeTree* tree) {
  tree->bit_paths.assign(static_cast<size_t>(node_count) + 1, std::string());
}

std::string NodeBitPath(const CodeTree& tree, int32_t k, bool* broken) {
  const int32_t root = tree.NodeCount() - 1;
  std::string path;
  *broken = false;
  // After the first step every node number is a byte (a Parent field), so a
  // walk that revisits a node is in a cycle that never reaches the root. The
  // visited set makes every walk end within 257 steps.
  std::bitset<256> visited;
  int64_t current = k;
  while (true) {
    const int64_t previous = current;
    current = tree.Node(current).parent;
    const TreeNode& parent = tree.Node(current);
    if (parent.child_l == previous) {
      path.push_back('0');
    } else if (parent.child_r == previous) {
      path.push_back('1');
    } else {
      *broken = true;
    }
    if (current == root) break;
    if (visited[static_cast<size_t>(current)]) {
      *broken = true;
      break;
    }
    visited[static_cast<size_t>(current)] = true;
  }
  return path;
}

std::vector<int32_t> BuildBitPaths(CodeTree* tree) {
  std::vector<int32_t> broken_nodes;
  for (int32_t k = 0; k + 1 < tree->NodeCount(); ++k) {
    bool broken = false;
    tree->bit_paths[static_cast<size_t>(k)] = NodeBitPath(*tree, k, &broken);
    if (broken) broken_nodes.push_back(k);
  }
  return broken_nodes;
}

void BuildCharTable(CodeTree* tree) {
  tree->char_table.fill(kNoNode);
  // Walking down lets the lowest node with a given Char win.
  for (int32_t k = tree->NodeCount() - 1; k >= 0; --k) {
    const int32_t c = tree->nodes[static_cast<size_t>(k)].char_;
    if (c >= 0 && c < 256) tree->char_table[static_cast<size_t>(c)] = k;
  }
}

std::string_view CharBitPath(const CodeTree& tree, unsigned char c) {
  const int32_t node = tree.char_table[c];
  if (node == kNoNode || node >= static_cast<int32_t>(tree.bit_paths.size())) {
    return {};
  }
  return tree.bit_paths[static_cast<size_t>(node)];
}

std::vector<int32_t> PrepareCodeTree(CodeTree* tree) {
  PrepareBitPaths(tree->NodeCount(), tree);
  std::vector<int32_t> broken = BuildBitPaths(tree);
  BuildCharTable(tree);
  return broken;
}

}  // namespace vorlex::core
