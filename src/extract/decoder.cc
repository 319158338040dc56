#include "extract/decoder.h"

#include <algorithm>
#include <array>

#include "pak/fields.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

// The walk, laid out for speed. At a byte boundary the walk stands on the
// root or on a node reached through a child field, and child fields of a
// loaded tree are bytes. So every state is one of: a node numbered 0 to 255,
// the root (which may be numbered higher), or a node beyond the table (all
// such nodes read as the same all-zero record).
constexpr size_t kHighRootState = 256;
constexpr size_t kBeyondTableState = 257;
constexpr size_t kStateCount = 258;

// One bit's step from a state. The fields are plain numbers so that the walk
// can add them in instead of branching on them.
struct Step {
  int32_t next = 0;  // the root after a leaf
  char c = 0;        // the leaf's character
  uint8_t leaf = 0;  // 1 at a leaf
  uint8_t ends = 0;  // 1 at the terminator's leaf
};

// A node reached by `bit` from somewhere: a leaf when its child field on the
// side just taken is empty.
Step StepInto(const TreeNode& to, int bit, int64_t to_state, int64_t root) {
  Step step;
  if ((bit ? to.child_r : to.child_l) != kNoChild) {
    step.next = static_cast<int32_t>(to_state);
    return step;
  }
  step.next = static_cast<int32_t>(root);
  step.c = static_cast<char>(to.char_);
  step.leaf = 1;
  step.ends = step.c == kTerminator;
  return step;
}

struct Walker {
  std::array<std::array<Step, 2>, kStateCount> steps;
  int32_t root = 0;
};

constexpr int64_t kUnmapped = -1;

// The state of node number `node`, or kUnmapped for a node inside the table
// numbered above 255 that is not the root (only a hand-made tree has such a
// child field).
int64_t StateOf(int64_t node, int64_t node_count, int64_t root_state) {
  if (node == node_count - 1) return root_state;
  if (node < 0 || node >= node_count) return kBeyondTableState;
  return node < 256 ? node : kUnmapped;
}

// Fills `walker` from `tree`; false when the tree has child fields that the
// compact states cannot stand for.
bool BuildWalker(const CodeTree& tree, Walker* walker) {
  const int64_t node_count = tree.NodeCount();
  const int64_t root = node_count - 1;
  const int64_t root_state = root < 256 ? root : int64_t{kHighRootState};
  walker->root = static_cast<int32_t>(root_state);

  auto fill = [&](int64_t state, const TreeNode& from) {
    for (int bit = 0; bit < 2; ++bit) {
      const int64_t child = bit ? from.child_r : from.child_l;
      const int64_t child_state = StateOf(child, node_count, root_state);
      if (child_state == kUnmapped) return false;
      walker->steps[static_cast<size_t>(state)][static_cast<size_t>(bit)] =
          StepInto(tree.Node(child), bit, child_state, root_state);
    }
    return true;
  };
  const int64_t low_nodes = node_count < 256 ? node_count : 256;
  for (int64_t k = 0; k < low_nodes; ++k) {
    if (!fill(k, tree.nodes[static_cast<size_t>(k)])) return false;
  }
  if (root_state == kHighRootState && !fill(root_state, tree.Node(root))) {
    return false;
  }
  return fill(kBeyondTableState, TreeNode{});
}

// Walks the bit data of `block` from `start`; `next_step(state, bit)` gives
// the step. Appends to `decoded` and drops a string left unfinished.
template <typename NextStep>
void Walk(std::string_view block, size_t start, int64_t root,
          NextStep next_step, DecodedBlock* decoded) {
  const int64_t n = decoded->string_count;
  std::string& text = decoded->text;
  // Every character is written, leaf or not, and kept by moving on past it
  // only at a leaf; a byte gives at most eight.
  size_t used = 0;
  int64_t k = 0;
  int64_t state = root;
  for (size_t p = start; k < n && p < block.size(); ++p) {
    if (text.size() < used + 8) text.resize(2 * text.size() + 64);
    char* out = text.data() + used;
    const unsigned byte = static_cast<unsigned char>(block[p]);
    for (int bit = 7; bit >= 0; --bit) {
      const Step step = next_step(state, (byte >> bit) & 1);
      state = step.next;
      *out = step.c;
      out += step.leaf;
      if (step.ends) {
        // The rest of the byte is padding.
        decoded->ends.push_back(static_cast<size_t>(out - text.data()));
        ++k;
        break;
      }
    }
    used = static_cast<size_t>(out - text.data());
  }
  text.resize(decoded->ends.empty() ? 0 : decoded->ends.back());
}

}  // namespace

DecodedBlock DecodeBlock(std::string_view block, const CodeTree& tree) {
  DecodedBlock decoded;
  decoded.string_count = BytesToInteger(block.substr(0, 2));
  const int64_t n = decoded.string_count;
  // Without a root no character can be decoded.
  if (tree.NodeCount() == 0 || n == 0) return decoded;
  const size_t start = 2 + 2 * static_cast<size_t>(n);
  if (start >= block.size()) return decoded;
  // Most strings are shorter than twice their code, and each takes a byte.
  const size_t bit_bytes = block.size() - start;
  decoded.text.resize(std::min(2 * bit_bytes, size_t{1} << 20));
  decoded.ends.reserve(std::min(static_cast<size_t>(n), bit_bytes));

  Walker walker;
  if (BuildWalker(tree, &walker)) {
    const auto& steps = walker.steps;
    Walk(
        block, start, walker.root,
        [&steps](int64_t state, unsigned bit) {
          return steps[static_cast<size_t>(state)][bit];
        },
        &decoded);
    return decoded;
  }

  // A hand-made tree with child numbers above 255: walk the node records.
  const int64_t node_count = tree.NodeCount();
  Walk(
      block, start, node_count - 1,
      [&tree, node_count](int64_t node, unsigned bit) {
        const TreeNode& from = tree.Node(node);
        int64_t child = bit ? from.child_r : from.child_l;
        // Every node beyond the table reads as the same all-zero record.
        if (child < 0 || child >= node_count) child = node_count;
        return StepInto(tree.Node(child), static_cast<int>(bit), child,
                        node_count - 1);
      },
      &decoded);
  return decoded;
}

}  // namespace vorlex::core
