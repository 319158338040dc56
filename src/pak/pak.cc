#include "pak/pak.h"

#include <algorithm>
#include <utility>

namespace vorlex::core {

LoadedPak LoadPak(std::string bytes) {
  LoadedPak pak;
  pak.bytes = std::move(bytes);
  pak.header = LoadPakHeader(pak.bytes);
  if (pak.header.block_count == 0) return pak;
  LoadTreeAndDirectory(pak.bytes, pak.header, &pak.tree.nodes, &pak.directory);
  pak.broken_nodes = PrepareCodeTree(&pak.tree);
  return pak;
}

int64_t BlockExtent(const BlockDirectory& directory, int64_t file_length,
                    size_t block) {
  const int64_t end =
      block + 1 < directory.size() ? directory[block + 1].offset : file_length;
  return std::max<int64_t>(0, end - directory[block].offset);
}

std::vector<int64_t> BlockExtents(const BlockDirectory& directory,
                                  int64_t file_length) {
  std::vector<int64_t> extents(directory.size());
  for (size_t b = 0; b < directory.size(); ++b) {
    extents[b] = BlockExtent(directory, file_length, b);
  }
  return extents;
}

}  // namespace vorlex::core
