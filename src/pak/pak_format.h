// Layout of a pakfile:
//
//   offset            size    field
//   0                 2       node count N
//   2                 4N      node table: Char, Parent, Child-L, Child-R bytes
//   2 + 4N            2       block count B
//   4 + 4N            6B      directory: ID (2 bytes), Offset (4 bytes)
//   4 + 4N + 6B       rest    blocks, in directory order
//
// A block is its string count S (2 bytes), S relative offsets (2 bytes each,
// counted from the start of the bit data) and the bit data: the Huffman codes
// of its strings, most significant bit first, each string ending with the
// terminator '|' and padded with 0 bits to a byte boundary. All integers are
// unsigned little-endian. A block runs to the next block's Offset, the last
// block to the end of the file.
#ifndef VORLEX_PAK_PAK_FORMAT_H_
#define VORLEX_PAK_PAK_FORMAT_H_

#include <cstdint>

namespace vorlex::core {

inline constexpr char kTerminator = '|';
inline constexpr int kNoChild = 255;
inline constexpr int kNodeRecordSize = 4;
inline constexpr int kDirectoryEntrySize = 6;

// The largest value a two-byte field holds: counts, ids, relative offsets.
inline constexpr int64_t kMaxFieldValue = 65535;
// The pak and replace commands write an Offset as three bytes and a 0 byte.
inline constexpr int64_t kMaxThreeByteOffset = 16777215;
inline constexpr int64_t kMaxFourByteOffset = 4294967295;
// The largest pakfile that four-byte Offsets can address.
inline constexpr uint64_t kMaxPakfileSize = uint64_t{kMaxFourByteOffset} + 1;

constexpr int64_t BlockCountOffset(int64_t node_count) {
  return 2 + kNodeRecordSize * node_count;
}
constexpr int64_t DirectoryOffset(int64_t node_count) {
  return 4 + kNodeRecordSize * node_count;
}
constexpr int64_t DirectoryEntryOffset(int64_t node_count, int64_t block) {
  return DirectoryOffset(node_count) + kDirectoryEntrySize * block;
}
// Where the first block starts in a pakfile that the pak command wrote.
constexpr int64_t DirectoryEnd(int64_t node_count, int64_t block_count) {
  return DirectoryEntryOffset(node_count, block_count);
}

}  // namespace vorlex::core

#endif  // VORLEX_PAK_PAK_FORMAT_H_
