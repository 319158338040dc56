#include "pak/pak_loader.h"

#include "pak/fields.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

int32_t ByteAt(std::string_view bytes, int64_t offset) {
  if (offset < 0 || offset >= static_cast<int64_t>(bytes.size())) return 0;
  return static_cast<unsigned char>(bytes[static_cast<size_t>(offset)]);
}

}  // namespace

PakHeader LoadPakHeader(std::string_view pak_bytes) {
  PakHeader header;
  header.node_count = ReadField(pak_bytes, 0, 2);
  header.block_count =
      ReadField(pak_bytes, BlockCountOffset(header.node_count), 2);
  return header;
}

void LoadTreeAndDirectory(std::string_view pak_bytes, const PakHeader& header,
                          std::vector<TreeNode>* nodes,
                          BlockDirectory* directory) {
  nodes->assign(static_cast<size_t>(header.node_count), TreeNode{});
  for (int32_t k = 0; k < header.node_count; ++k) {
    const int64_t at = 2 + int64_t{kNodeRecordSize} * k;
    TreeNode& node = (*nodes)[static_cast<size_t>(k)];
    node.char_ = ByteAt(pak_bytes, at);
    node.parent = ByteAt(pak_bytes, at + 1);
    node.child_l = ByteAt(pak_bytes, at + 2);
    node.child_r = ByteAt(pak_bytes, at + 3);
  }
  directory->assign(static_cast<size_t>(header.block_count), BlockEntry{});
  for (int32_t b = 0; b < header.block_count; ++b) {
    const int64_t at = DirectoryEntryOffset(header.node_count, b);
    BlockEntry& entry = (*directory)[static_cast<size_t>(b)];
    entry.id = ReadField(pak_bytes, at, 2);
    entry.offset = ReadField(pak_bytes, at + 2, 4);
  }
}

}  // namespace vorlex::core
