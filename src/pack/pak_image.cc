#include "pack/pak_image.h"

#include <algorithm>
#include <cstring>

#include "pak/fields.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

// The add step moves every block by the size of one directory entry.
constexpr int64_t kMove = kDirectoryEntrySize;

}  // namespace

std::string RebuildHead(const PakHeader& header,
                        const std::vector<TreeNode>& nodes,
                        int32_t block_count) {
  std::string head;
  head.reserve(static_cast<size_t>(
      DirectoryEnd(header.node_count, std::max(block_count, 0))));
  AppendInteger(header.node_count, 2, &head);
  for (int32_t k = 0; k < header.node_count; ++k) {
    const TreeNode node = k < static_cast<int32_t>(nodes.size())
                              ? nodes[static_cast<size_t>(k)]
                              : TreeNode{};
    AppendInteger(node.char_, 1, &head);
    AppendInteger(node.parent, 1, &head);
    AppendInteger(node.child_l, 1, &head);
    AppendInteger(node.child_r, 1, &head);
  }
  AppendInteger(block_count, 2, &head);
  head.append(kDirectoryEntrySize * static_cast<size_t>(block_count), '\0');
  return head;
}

void PutDirectoryEntry(std::string* image, int64_t at, const BlockEntry& entry,
                       int offset_width) {
  std::string bytes;
  AppendInteger(entry.id, 2, &bytes);
  AppendInteger(entry.offset, offset_width, &bytes);
  bytes.resize(kDirectoryEntrySize, '\0');
  image->replace(static_cast<size_t>(at), bytes.size(), bytes);
}

std::string AddStepRefusal(const LoadedPak& pak) {
  const BlockDirectory& directory = pak.directory;
  const int64_t blocks = static_cast<int64_t>(directory.size());
  if (blocks == 0) return "the pakfile has no block to add after";
  if (blocks >= kMaxFieldValue) {
    return "the pakfile already has " + std::to_string(blocks) +
           " blocks, the most its block count can hold";
  }
  const int64_t first = directory[0].offset;
  const int64_t directory_end = DirectoryEnd(pak.header.node_count, blocks);
  const int64_t length = static_cast<int64_t>(pak.bytes.size());
  if (first < directory_end) {
    return "block 0 starts at offset " + std::to_string(first) +
           ", inside the node table or the directory (they end at " +
           std::to_string(directory_end) + ")";
  }
  if (length <= first) {
    return "the file ends at " + std::to_string(length) +
           ", at or before block 0's offset " + std::to_string(first);
  }
  if (length + kMove > kMaxFourByteOffset) {
    return "the file would grow past the 4,294,967,295 bytes an offset holds";
  }
  for (int64_t b = 1; b < blocks; ++b) {
    const int64_t offset = directory[static_cast<size_t>(b)].offset;
    if (offset < first) {
      return "block " + std::to_string(b) + " starts at offset " +
             std::to_string(offset) + ", before block 0 (" +
             std::to_string(first) + ")";
    }
    if (offset + kMove > kMaxFourByteOffset) {
      return "block " + std::to_string(b) + "'s offset " +
             std::to_string(offset) + " would pass 4,294,967,295 when moved";
    }
  }
  return "";
}

void AddEmptyBlock(LoadedPak* pak, bool change_bytes) {
  BlockDirectory& directory = pak->directory;
  std::string& bytes = pak->bytes;
  const int64_t length = static_cast<int64_t>(bytes.size());
  const int64_t first = directory.empty() ? length : directory[0].offset;

  // Everything from block 0 on moves; the 6 bytes it leaves keep their old
  // contents until the directory is written over them.
  int64_t new_length = length;
  if (length > first && first >= 0) {
    new_length = length + kMove;
    if (change_bytes) {
      bytes.resize(static_cast<size_t>(new_length), '\0');
      std::memmove(bytes.data() + first + kMove, bytes.data() + first,
                   static_cast<size_t>(length - first));
    }
  }
  for (BlockEntry& entry : directory) entry.offset += kMove;
  directory.push_back(BlockEntry{.id = 0, .offset = new_length});
  pak->header.block_count = static_cast<int32_t>(directory.size());
  if (!change_bytes) return;

  std::string image;
  image.reserve(2 + kDirectoryEntrySize * directory.size());
  AppendInteger(pak->header.block_count, 2, &image);
  for (const BlockEntry& entry : directory) {
    AppendInteger(entry.id, 2, &image);
    AppendInteger(entry.offset, 4, &image);
  }
  const size_t at =
      static_cast<size_t>(BlockCountOffset(pak->header.node_count));
  if (bytes.size() < at + image.size()) bytes.resize(at + image.size(), '\0');
  bytes.replace(at, image.size(), image);
}

}  // namespace vorlex::core
