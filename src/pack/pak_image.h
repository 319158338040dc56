// Building a new pakfile image in memory: the pieces the packing commands
// lay out, and the add step that makes room for one more block.
#ifndef VORLEX_PACK_PAK_IMAGE_H_
#define VORLEX_PACK_PAK_IMAGE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "pak/pak.h"

namespace vorlex::core {

// The head that /P writes: the node count and node table as loaded, the new
// block count, and a zero-filled directory of `block_count` entries.
std::string RebuildHead(const PakHeader& header,
                        const std::vector<TreeNode>& nodes,
                        int32_t block_count);

// Overwrites the directory entry at `at` of *image: the ID's low two bytes,
// then the Offset as its low three bytes and a 0 byte (`offset_width` 3) or
// as all four bytes (`offset_width` 4). The image must reach past the entry.
void PutDirectoryEntry(std::string* image, int64_t at, const BlockEntry& entry,
                       int offset_width);

// Why the add step cannot be made on this pakfile without damaging it, or
// the empty text when it can: the blocks must lie from the end of the
// directory on, block 0 first and the file reaching past it, every Offset
// must stay within four bytes once moved, and one more block must fit the
// block count.
std::string AddStepRefusal(const LoadedPak& pak);

// The add step: every block moved 6 bytes further, every Offset grown by 6,
// one more directory row (ID 0) whose Offset is the new end of the file, and
// the block count and whole directory (four-byte Offsets) written at the
// place of the block count. With `change_bytes` false only the tables change
// (for a pakfile the add step refused, whose bytes are not used).
void AddEmptyBlock(LoadedPak* pak, bool change_bytes);

}  // namespace vorlex::core

#endif  // VORLEX_PACK_PAK_IMAGE_H_
