#include "extract/extract_block.h"

#include <algorithm>

#include "extract/text_writer.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

// At a byte boundary the walk stands on one of at most 257 nodes (the root or
// a node numbered by a child byte), and a zero byte takes it on the same way
// every time. A string that has not ended after this many zero bytes has
// entered a loop and never ends.
constexpr int64_t kZeroBytesPerString = 258;

// How many zero bytes a string takes when it starts at the root, or 0 when
// zeros never end it. Every string after the first that ends in the zeros
// starts at the root and so takes just as many.
int64_t ZeroBytesFromTheRoot(const CodeTree& tree) {
  const int64_t root = tree.NodeCount() - 1;
  if (root < 0) return 0;
  int64_t node = root;
  for (int64_t bytes = 1; bytes <= kZeroBytesPerString; ++bytes) {
    for (int bit = 0; bit < 8; ++bit) {
      const TreeStep step = StepDown(tree, node, 0);
      node = step.node;
      if (!step.leaf) continue;
      if (static_cast<char>(tree.Node(node).char_) == kTerminator) return bytes;
      node = root;
    }
  }
  return 0;
}

}  // namespace

std::string_view BlockBytes(const LoadedPak& pak, size_t block,
                            std::string* scratch) {
  const std::string_view file = pak.bytes;
  const int64_t file_length = static_cast<int64_t>(file.size());
  const int64_t begin = pak.directory[block].offset;
  const int64_t length = BlockExtent(pak.directory, file_length, block);
  if (length <= 0) return {};
  if (begin >= 0 && begin + length <= file_length) {
    return file.substr(static_cast<size_t>(begin), static_cast<size_t>(length));
  }

  auto byte_at = [&](int64_t position) -> unsigned {
    const int64_t at = begin + position;
    if (position >= length || at < 0 || at >= file_length) return 0;
    return static_cast<unsigned char>(file[static_cast<size_t>(at)]);
  };
  const int64_t count = byte_at(0) | byte_at(1) << 8;
  // Where the block's bytes from the file end, in the block's positions.
  const int64_t real_end = std::clamp<int64_t>(file_length - begin, 0, length);
  // Without strings nothing past the count is read. Otherwise the block needs
  // its real bytes, the skipped offset table, the zeros that could end the
  // string under way, and those that the strings after it could use.
  int64_t kept = std::min<int64_t>(length, 2);
  if (count != 0) {
    const int64_t per_string = ZeroBytesFromTheRoot(pak.tree);
    const int64_t later =
        per_string == 0 ? kZeroBytesPerString : per_string * count;
    kept = std::min(length, std::max(real_end, 2 + 2 * count) +
                                kZeroBytesPerString + later);
  }

  scratch->assign(static_cast<size_t>(kept), '\0');
  // A count of 0 leaves at most two zero bytes, and a count other than 0
  // means the block starts at most one byte before the file.
  const int64_t first = std::max<int64_t>(0, -begin);
  const int64_t last = std::min(kept, real_end);
  if (first < last) {
    std::copy(file.begin() + (begin + first), file.begin() + (begin + last),
              scratch->begin() + first);
  }
  return *scratch;
}

DecodedBlock DecodePakBlock(const LoadedPak& pak, const BlockDecoder& decoder,
                            size_t block, StringEndMemo* memo) {
  const int64_t begin = pak.directory[block].offset;
  if (begin >= 0 && decoder.CanDecodeInFile()) {
    return decoder.DecodeInFile(
        pak.bytes, begin,
        BlockExtent(pak.directory, static_cast<int64_t>(pak.bytes.size()),
                    block),
        memo);
  }
  std::string scratch;
  return decoder.Decode(BlockBytes(pak, block, &scratch));
}

DecodedBlock ExtractBlock(const LoadedPak& pak, const BlockDecoder& decoder,
                          size_t block, StringEndMemo* memo, std::string* out,
                          const Alphabet* alphabet) {
  DecodedBlock decoded = DecodePakBlock(pak, decoder, block, memo);
  AppendBlockSection(static_cast<int64_t>(block), pak.directory[block].id,
                     decoded, out, alphabet);
  return decoded;
}

}  // namespace vorlex::core
