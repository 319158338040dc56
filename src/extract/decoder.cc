#include "extract/decoder.h"

#include <algorithm>

#include "extract/bit_reader.h"
#include "extract/decode_engines.h"
#include "pak/fields.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

// Below this many bytes of bit data the walk is as quick as the table.
constexpr size_t kTableMinBytes = 64;

constexpr int64_t kUnmapped = -1;

// The state of node number `node`, or kUnmapped for a node inside the table
// numbered above 255 that is not the root (only a hand-made tree has such a
// child field).
int64_t StateOf(int64_t node, int64_t node_count, int64_t root_state) {
  if (node == node_count - 1) return root_state;
  if (node < 0 || node >= node_count) return kBeyondTableState;
  return node < 256 ? node : kUnmapped;
}

// The step from node `from` along `bit`, in terms of states; `next` is
// kUnmapped when the node reached has no state.
WalkStep StepOf(const CodeTree& tree, int64_t from, unsigned bit,
                int64_t root_state) {
  const TreeStep step = StepDown(tree, from, bit);
  WalkStep result;
  if (!step.leaf) {
    result.next =
        static_cast<int32_t>(StateOf(step.node, tree.NodeCount(), root_state));
    return result;
  }
  result.next = static_cast<int32_t>(root_state);
  result.c = static_cast<char>(tree.Node(step.node).char_);
  result.leaf = 1;
  result.ends = result.c == kTerminator;
  return result;
}

// Walks the bit data of `block` from `start`; `next_step(state, bit)` gives
// the step. Appends to `decoded` and drops a string left unfinished.
template <typename NextStep>
void Walk(std::string_view block, size_t start, int64_t root,
          NextStep next_step, DecodedBlock* decoded) {
  const int64_t n = decoded->string_count;
  const BitReader bits(block.substr(start));
  std::string& text = decoded->text;
  // Every character is written, leaf or not, and kept by moving on past it
  // only at a leaf; a byte gives at most eight.
  size_t used = 0;
  int64_t k = 0;
  int64_t state = root;
  for (uint64_t pos = 0; k < n && pos < bits.bit_count; ++pos) {
    if (text.size() < used + 1) text.resize(2 * text.size() + 64);
    const WalkStep step = next_step(state, bits.Bit(pos));
    state = step.next;
    text[used] = step.c;
    used += step.leaf;
    if (step.ends) {
      decoded->ends.push_back(used);
      ++k;
      pos = NextByteBoundary(pos + 1) - 1;  // the rest of the byte is padding
    }
  }
  text.resize(decoded->ends.empty() ? 0 : decoded->ends.back());
}

// The count and the start of the bit data; false when nothing can be
// decoded (no strings, no bit data, or no root).
bool StartDecoding(std::string_view block, const CodeTree& tree,
                   DecodedBlock* decoded, size_t* start) {
  decoded->string_count = BytesToInteger(block.substr(0, 2));
  const size_t n = static_cast<size_t>(decoded->string_count);
  *start = 2 + 2 * n;
  return tree.NodeCount() != 0 && n != 0 && *start < block.size();
}

}  // namespace

Walker MakeWalker(const CodeTree& tree) {
  Walker walker;
  const int64_t node_count = tree.NodeCount();
  const int64_t root = node_count - 1;
  const int64_t root_state = root < 256 ? root : int64_t{kHighRootState};
  walker.root = static_cast<int32_t>(root_state);
  auto fill = [&](int64_t state, int64_t node) {
    for (unsigned bit = 0; bit < 2; ++bit) {
      const WalkStep step = StepOf(tree, node, bit, root_state);
      if (step.next == kUnmapped) return false;
      walker.steps[static_cast<size_t>(state)][bit] = step;
    }
    return true;
  };
  walker.compact = true;
  for (int64_t k = 0; k < std::min<int64_t>(node_count, 256); ++k) {
    walker.compact = walker.compact && fill(k, k);
  }
  if (root_state == kHighRootState) {
    walker.compact = walker.compact && fill(root_state, root);
  }
  walker.compact = walker.compact && fill(kBeyondTableState, node_count);
  return walker;
}

DecodedBlock WalkBlock(std::string_view block, const CodeTree& tree,
                       const Walker& walker) {
  DecodedBlock decoded;
  size_t start = 0;
  if (!StartDecoding(block, tree, &decoded, &start)) return decoded;
  // Most strings are shorter than twice their code, and each takes a byte.
  const size_t bit_bytes = block.size() - start;
  decoded.text.resize(std::min(2 * bit_bytes, size_t{1} << 20));
  decoded.ends.reserve(
      std::min(static_cast<size_t>(decoded.string_count), bit_bytes));
  if (walker.compact) {
    const auto& steps = walker.steps;
    Walk(
        block, start, walker.root,
        [&steps](int64_t state, unsigned bit) {
          return steps[static_cast<size_t>(state)][bit];
        },
        &decoded);
    return decoded;
  }
  // A hand-made tree: step through the node records themselves.
  const int64_t root = tree.NodeCount() - 1;
  Walk(
      block, start, root,
      [&tree, root](int64_t node, unsigned bit) {
        const TreeStep step = StepDown(tree, node, bit);
        WalkStep result;
        result.next = static_cast<int32_t>(step.leaf ? root : step.node);
        if (step.leaf) {
          result.c = static_cast<char>(tree.Node(step.node).char_);
          result.leaf = 1;
          result.ends = result.c == kTerminator;
        }
        return result;
      },
      &decoded);
  return decoded;
}

BlockDecoder::BlockDecoder(const CodeTree& tree) : tree_(&tree) {
  auto engines = std::make_shared<DecodeEngines>();
  engines->walker = MakeWalker(tree);
  engines->table = MakeDecodeTable(tree);
  engines_ = std::move(engines);
}

DecodedBlock BlockDecoder::Decode(std::string_view block) const {
  const size_t n = BytesToInteger(block.substr(0, 2)) & 0xFFFF;
  return block.size() < 2 + 2 * n + kTableMinBytes ? DecodeByWalk(block)
                                                   : DecodeByTable(block);
}

DecodedBlock BlockDecoder::DecodeByWalk(std::string_view block) const {
  return WalkBlock(block, *tree_, engines_->walker);
}

DecodedBlock BlockDecoder::DecodeByTable(std::string_view block) const {
  return DecodeBlockWithTable(block, *tree_, engines_->table);
}

}  // namespace vorlex::core
