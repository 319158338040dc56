#include "reference/reference_walk.h"

#include <cstdlib>

namespace vorlex::core::reference {
namespace {

TreeNode NodeAt(const std::vector<TreeNode>& nodes, int64_t k) {
  return k >= 0 && k < static_cast<int64_t>(nodes.size())
             ? nodes[static_cast<size_t>(k)]
             : TreeNode{};
}

}  // namespace

DecodedBlock WalkBitByBit(std::string_view block,
                          const std::vector<TreeNode>& nodes) {
  auto byte_at = [&block](size_t p) -> unsigned {
    return p < block.size() ? static_cast<unsigned char>(block[p]) : 0;
  };
  DecodedBlock decoded;
  const int64_t n = block.empty() ? 0 : byte_at(0) | byte_at(1) << 8;
  decoded.string_count = static_cast<int32_t>(n);
  if (nodes.empty()) return decoded;
  const int64_t root = static_cast<int64_t>(nodes.size()) - 1;
  int64_t node = root;
  std::string string;
  int64_t k = 0;
  for (size_t p = 2 + 2 * static_cast<size_t>(n); k < n && p < block.size();
       ++p) {
    bool ended = false;
    for (int bit = 7; bit >= 0 && !ended; --bit) {
      const bool one = (byte_at(p) >> bit) & 1;
      const TreeNode from = NodeAt(nodes, node);
      const int64_t to = one ? from.child_r : from.child_l;
      const TreeNode reached = NodeAt(nodes, to);
      if ((one ? reached.child_r : reached.child_l) != 255) {
        node = to;
        continue;
      }
      string.push_back(static_cast<char>(reached.char_));
      node = root;
      ended = string.back() == '|';
    }
    if (ended) {
      decoded.text += string;
      decoded.ends.push_back(decoded.text.size());
      string.clear();
      ++k;
    }
  }
  return decoded;
}

std::string WholeBlock(const LoadedPak& pak, size_t b, int64_t limit) {
  const int64_t begin = pak.directory[b].offset;
  const int64_t end = b + 1 < pak.directory.size()
                          ? pak.directory[b + 1].offset
                          : static_cast<int64_t>(pak.bytes.size());
  const int64_t length = end > begin ? end - begin : 0;
  if (length > limit) std::abort();
  std::string block(static_cast<size_t>(length), '\0');
  for (int64_t i = 0; i < length; ++i) {
    const int64_t at = begin + i;
    if (at >= 0 && at < static_cast<int64_t>(pak.bytes.size())) {
      block[static_cast<size_t>(i)] = pak.bytes[static_cast<size_t>(at)];
    }
  }
  return block;
}

}  // namespace vorlex::core::reference
