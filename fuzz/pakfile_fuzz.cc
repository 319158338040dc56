// Arbitrary pakfile bytes through loading, the code tree and the decoding of
// every block. The plain and the table-driven decoders must give the same
// strings, and both must agree with a bit-by-bit walk written here from the
// format alone; the bytes that BlockBytes keeps of a block that runs past the
// end of the file must decode as the whole block would.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "extract/decode_table.h"
#include "extract/decoder.h"
#include "extract/extract_block.h"
#include "fuzz_check.h"
#include "pak/code_tree.h"
#include "pak/pak.h"
#include "pak/pak_loader.h"

namespace vorlex::core::fuzz {
namespace {

// Blocks handled per input: the first ones and the last, which runs to the
// end of the file.
constexpr size_t kFirstBlocks = 48;
// Block bytes decoded per input, so that every input stays fast.
constexpr size_t kDecodeBudget = size_t{8} << 20;
// Blocks up to this length are also built whole, zeros included, and walked
// bit by bit, up to kWalkBudget bytes per input.
constexpr int64_t kWholeBlockLimit = 8 << 10;
constexpr int64_t kWalkBudget = 64 << 10;

// The node record of `k`, all zero beyond the table.
TreeNode NodeAt(const std::vector<TreeNode>& nodes, int64_t k) {
  return k >= 0 && k < static_cast<int64_t>(nodes.size())
             ? nodes[static_cast<size_t>(k)]
             : TreeNode{};
}

// The decoder as the format describes it: from the root, a 0 bit to Child-L
// and a 1 bit to Child-R; a node is a leaf when its child on the side just
// taken is 255; a terminator ends the string and the rest of its byte.
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

// The whole block `b` as the format defines it: from its Offset to the next
// block's (the last to the end of the file), zeros outside the file.
std::string WholeBlock(const LoadedPak& pak, size_t b, int64_t length) {
  std::string block(static_cast<size_t>(std::max<int64_t>(length, 0)), '\0');
  const int64_t begin = pak.directory[b].offset;
  for (int64_t i = 0; i < length; ++i) {
    const int64_t at = begin + i;
    if (at >= 0 && at < static_cast<int64_t>(pak.bytes.size())) {
      block[static_cast<size_t>(i)] = pak.bytes[static_cast<size_t>(at)];
    }
  }
  return block;
}

void CheckShape(const DecodedBlock& decoded, size_t b) {
  const std::string where = "block " + std::to_string(b) + ": ";
  Require(decoded.StringsDecoded() <=
              static_cast<size_t>(std::max(decoded.string_count, 0)),
          where + "more strings than the count");
  size_t begin = 0;
  for (size_t k = 0; k < decoded.StringsDecoded(); ++k) {
    Require(decoded.ends[k] > begin && decoded.ends[k] <= decoded.text.size(),
            where + "string ends out of order");
    const std::string_view s = decoded.String(k);
    Require(s.find('|') == s.size() - 1,
            where + "a string that does not end at its first terminator");
    begin = decoded.ends[k];
  }
  Require(begin == decoded.text.size(), where + "text after the last string");
}

void CheckBlock(const LoadedPak& pak, const DecodeTable& table, size_t b,
                size_t* budget, int64_t* walk_budget) {
  const std::string where = "block " + std::to_string(b) + ": ";
  std::string scratch;
  const std::string_view bytes = BlockBytes(pak, b, &scratch);
  if (bytes.size() > *budget) {
    *budget = 0;
    return;
  }
  *budget -= bytes.size();

  const DecodedBlock plain = DecodeBlock(bytes, pak.tree);
  const DecodedBlock fast = DecodeBlockWithTable(bytes, table);
  Require(SameDecoding(plain, fast), where + "the table decoder gives " +
                                         Describe(fast) + ", the plain one " +
                                         Describe(plain));
  CheckShape(plain, b);

  const int64_t length = BlockLength(pak, b);
  if (length <= kWholeBlockLimit && length <= *walk_budget) {
    *walk_budget -= std::max<int64_t>(length, 0);
    const std::string whole = WholeBlock(pak, b, length);
    Require(std::string_view(whole).substr(0, bytes.size()) == bytes,
            where + "BlockBytes differs from the block's own bytes");
    const DecodedBlock walked = WalkBitByBit(whole, pak.tree.nodes);
    Require(SameDecoding(plain, walked),
            where + "the decoder gives " + Describe(plain) +
                ", a walk of the whole block " + Describe(walked));
  }

  // Extraction through either decoder writes the same section.
  std::string section;
  std::string through_table;
  const DecodedBlock extracted = ExtractBlock(pak, b, &section);
  ExtractBlock(pak, b, &through_table, &table);
  Require(SameDecoding(extracted, plain),
          where + "ExtractBlock decodes " + Describe(extracted) +
              ", DecodeBlock " + Describe(plain));
  Require(through_table == section,
          where + "the table decoder extracts another section");
}

}  // namespace
}  // namespace vorlex::core::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlex::core;
  LoadedPak pak;
  pak.bytes.assign(reinterpret_cast<const char*>(data), size);
  // Start-up: the counts, the refusal of a pakfile without blocks, the
  // tables, the bit paths and the character table.
  pak.header = LoadPakHeader(pak.bytes);
  if (pak.header.block_count == 0) return 0;
  PrepareBitPaths(pak.header.node_count, &pak.tree);
  LoadTreeAndDirectory(pak.bytes, pak.header, &pak.tree.nodes, &pak.directory);
  BuildBitPaths(&pak.tree);
  BuildCharTable(&pak.tree);
  fuzz::Require(
      pak.directory.size() == static_cast<size_t>(pak.header.block_count),
      "the directory does not hold the block count's rows");

  const DecodeTable table = MakeDecodeTable(pak.tree);
  size_t budget = fuzz::kDecodeBudget;
  int64_t walk_budget = fuzz::kWalkBudget;
  const size_t blocks = pak.directory.size();
  for (size_t b = 0; b < blocks && b < fuzz::kFirstBlocks; ++b) {
    fuzz::CheckBlock(pak, table, b, &budget, &walk_budget);
  }
  if (blocks > fuzz::kFirstBlocks) {
    fuzz::CheckBlock(pak, table, blocks - 1, &budget, &walk_budget);
  }
  return 0;
}
