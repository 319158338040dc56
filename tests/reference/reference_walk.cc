#include "reference/reference_walk.h"

#include <cstdlib>

namespace vorlex::core::reference {

DecodedBlock WalkBitByBit(std::string_view block,
                          const std::vector<TreeNode>& nodes) {
  auto byte_at = [&block](size_t p) -> unsigned {
    return p < block.size() ? static_cast<unsigned char>(block[p]) : 0;
  };
  auto node_at = [&nodes](int64_t k) {
    return k >= 0 && k < std::ssize(nodes) ? nodes[static_cast<size_t>(k)]
                                           : TreeNode{};
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
      const TreeNode from = node_at(node);
      const int64_t to = one ? from.child_r : from.child_l;
      const TreeNode reached = node_at(to);
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
  const int64_t size = std::ssize(pak.bytes);
  const int64_t begin = pak.directory[b].offset;
  const int64_t end =
      b + 1 < pak.directory.size() ? pak.directory[b + 1].offset : size;
  if (end - begin > limit) std::abort();
  std::string block;
  for (int64_t at = begin; at < end; ++at) {
    block += at >= 0 && at < size ? pak.bytes[static_cast<size_t>(at)] : '\0';
  }
  return block;
}

}  // namespace vorlex::core::reference
