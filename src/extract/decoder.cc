#include "extract/decoder.h"

#include "pak/fields.h"
#include "pak/pak_format.h"

namespace vorlex {

DecodedBlock DecodeBlock(std::string_view block, const CodeTree& tree) {
  DecodedBlock decoded;
  decoded.string_count = BytesToInteger(block.substr(0, 2));
  const int64_t n = decoded.string_count;
  const int64_t root = tree.NodeCount() - 1;
  // Without a root no character can be decoded.
  if (root < 0) return decoded;

  std::string current_string;
  int64_t k = 0;
  int64_t current = root;
  for (size_t p = 2 + 2 * static_cast<size_t>(n); k < n && p < block.size();
       ++p) {
    const unsigned byte = static_cast<unsigned char>(block[p]);
    bool terminated = false;
    for (int bit = 7; bit >= 0 && !terminated; --bit) {
      const bool one = (byte >> bit) & 1;
      current = one ? tree.Node(current).child_r : tree.Node(current).child_l;
      const TreeNode& node = tree.Node(current);
      // A leaf is known by the child field on the side just taken.
      if ((one ? node.child_r : node.child_l) != kNoChild) continue;
      const char c = static_cast<char>(node.char_);
      current_string.push_back(c);
      current = root;
      terminated = c == kTerminator;
    }
    if (terminated) {
      decoded.text.append(current_string);
      decoded.ends.push_back(decoded.text.size());
      current_string.clear();
      ++k;
    }
  }
  return decoded;
}

}  // namespace vorlex
