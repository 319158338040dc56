#include "pack/tree_builder.h"

#include <algorithm>
#include <deque>

#include "pak/pak_format.h"

namespace vorlex::core {

void CountCharacters(std::string_view strings, CharacterCounts* counts) {
  for (unsigned char c : strings) ++(*counts)[c];
}

NewTree BuildNewTree(const CharacterCounts& counts) {
  NewTree tree;
  struct Item {
    uint64_t count;
    int32_t node;
  };
  std::vector<Item> leaves;
  for (int c = 0; c < 256; ++c) {
    if (counts[c] == 0 && c != kTerminator) continue;
    leaves.push_back({counts[c], static_cast<int32_t>(tree.nodes.size())});
    tree.nodes.push_back({c, 0, kNoChild, kNoChild});
  }
  tree.characters = static_cast<int32_t>(leaves.size());
  if (tree.characters > kMaxNewTreeCharacters) {
    tree.nodes.clear();
    return tree;
  }
  if (leaves.size() == 1) {
    const int32_t root = 1;
    tree.nodes[0].parent = root;
    tree.nodes.push_back({kTerminator, 0, 0, 0});
    return tree;
  }
  // Leaves by count; stable, so equal counts keep the rising byte order.
  std::stable_sort(
      leaves.begin(), leaves.end(),
      [](const Item& a, const Item& b) { return a.count < b.count; });
  std::deque<Item> waiting(leaves.begin(), leaves.end());
  std::deque<Item> made;
  auto take = [&]() {
    std::deque<Item>& from =
        made.empty() || (!waiting.empty() &&
                         waiting.front().count <= made.front().count)
            ? waiting
            : made;
    const Item item = from.front();
    from.pop_front();
    return item;
  };
  while (waiting.size() + made.size() > 1) {
    const Item left = take();
    const Item right = take();
    const auto number = static_cast<int32_t>(tree.nodes.size());
    tree.nodes[static_cast<size_t>(left.node)].parent = number;
    tree.nodes[static_cast<size_t>(right.node)].parent = number;
    tree.nodes.push_back({kTerminator, 0, left.node, right.node});
    made.push_back({left.count + right.count, number});
  }
  return tree;
}

}  // namespace vorlex::core
