#include "extract/decode_table.h"

#include <cstring>

#include "pak/fields.h"
#include "pak/pak_format.h"

namespace vorlex {
namespace {

constexpr int kStates = 257;

int64_t StateNode(const DecodeTable& table, int state) {
  return state == kRootState ? table.root : state;
}

// Nodes that are not the root are named by child fields, so fit a byte.
uint16_t NodeState(const DecodeTable& table, int64_t node) {
  return node == table.root ? kRootState : static_cast<uint16_t>(node);
}

void FillState(DecodeTable* table, int state) {
  const CodeTree& tree = *table->tree;
  for (int byte = 0; byte < 256; ++byte) {
    ByteStep& step = table->steps[static_cast<size_t>(state) * 256 + byte];
    std::memset(&step, 0, sizeof step);
    int64_t current = StateNode(*table, state);
    for (int bit = 7; bit >= 0; --bit) {
      const bool one = (byte >> bit) & 1;
      current = one ? tree.Node(current).child_r : tree.Node(current).child_l;
      const TreeNode& node = tree.Node(current);
      if ((one ? node.child_r : node.child_l) != kNoChild) continue;
      step.chars[step.count++] = static_cast<char>(node.char_);
      current = table->root;
      if (node.char_ == kTerminator) {
        step.terminated = 1;
        break;
      }
    }
    step.next_state = NodeState(*table, current);
  }
  table->filled[static_cast<size_t>(state)] = true;
}

}  // namespace

DecodeTable MakeDecodeTable(const CodeTree& tree) {
  DecodeTable table;
  table.tree = &tree;
  table.root = tree.NodeCount() - 1;
  table.steps.resize(size_t{kStates} * 256);
  table.filled.assign(kStates, false);
  return table;
}

DecodedBlock DecodeBlockWithTable(std::string_view block, DecodeTable* table) {
  DecodedBlock decoded;
  decoded.string_count = BytesToInteger(block.substr(0, 2));
  const size_t n = static_cast<size_t>(decoded.string_count);
  if (table->root < 0) return decoded;
  const size_t start = 2 + 2 * n;
  if (start >= block.size() || n == 0) return decoded;
  const std::string_view data = block.substr(start);

  // Every byte yields at most 8 characters; keeping 8 bytes of slack lets
  // each step copy all 8 without a length check.
  std::string& text = decoded.text;
  text.resize(data.size() * 3 + 16);
  size_t used = 0;
  size_t kept = 0;  // the end of the last complete string
  int state = NodeState(*table, table->root);
  for (unsigned char byte : data) {
    if (!table->filled[static_cast<size_t>(state)]) FillState(table, state);
    const ByteStep& step =
        table->steps[static_cast<size_t>(state) * 256 + byte];
    if (used + 8 > text.size()) text.resize(text.size() * 2);
    std::memcpy(text.data() + used, step.chars, 8);
    used += step.count;
    state = step.next_state;
    if (step.terminated) {
      kept = used;
      decoded.ends.push_back(kept);
      if (decoded.ends.size() == n) break;
    }
  }
  // A string that the bytes ended before its terminator is dropped.
  text.resize(kept);
  return decoded;
}

}  // namespace vorlex
