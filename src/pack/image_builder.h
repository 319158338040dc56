// Laying out a pakfile's new contents in memory, block by block: a rebuild
// (every block new, behind a new directory), a replacement of blocks from
// some row on (the blocks after them moved as one piece), and the add step
// that makes room for one more block. Every placement that would damage the
// file is refused here, and old bytes past the new end are kept, since a
// pakfile is never shortened. The packing commands and the library both lay
// out their images here.
#ifndef VORLEX_PACK_IMAGE_BUILDER_H_
#define VORLEX_PACK_IMAGE_BUILDER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "pack/block_encoder.h"
#include "pak/pak.h"

namespace vorlex::core {

class ImageBuilder {
 public:
  // Every block of a new pakfile, `count` of them (1 to 65535), laid out one
  // after the other behind the node table and a new directory. Sets *why and
  // returns false when the count is refused.
  bool StartRebuild(const LoadedPak& pak, int64_t count, std::string* why);

  // Blocks `first` to `first` + `count` - 1 replaced, written from block
  // `first`'s Offset on; blocks after them follow the new ones, their bytes
  // moved unchanged. Refused (false, *why) when those blocks are not all in
  // the pakfile, when block `first` starts inside the node table or the
  // directory or beyond what a directory entry holds, or when the blocks
  // after them do not lie in order inside the file.
  bool StartReplace(const LoadedPak& pak, int64_t first, int64_t count,
                    std::string* why);

  // The image so far: the next block's bytes are appended to it.
  std::string* image() { return &image_; }
  // The row the next block goes to.
  int64_t next_row() const { return next_row_; }

  // Checks that the next block can start where the image ends: false, with
  // *why, when its Offset would not fit a directory entry.
  bool CanStartBlock(std::string* why) const;
  // Records the block whose bytes were appended from `start` on, with `id`,
  // and moves on to the next row.
  void EndBlock(int32_t id, size_t start);
  // Drops the bytes of the blocks written so far; for a command that goes on
  // reading after a refusal, so that nothing more is kept.
  void DropBlocks(size_t keep) { image_.resize(keep); }

  // Moves the blocks that follow the replaced ones, writes the directory
  // entries of every row written or moved (three-byte Offsets) and, with
  // `keep_old_tail`, keeps the old bytes past the new end. False, with *why,
  // when a moved block's Offset would not fit.
  bool Finish(bool keep_old_tail, std::string* why);

  // The length of each block written, in row order from the first row.
  const std::vector<int64_t>& lengths() const { return lengths_; }
  int64_t first_row() const { return first_row_; }
  // The image, once Finish has succeeded.
  std::string& result() { return image_; }

 private:
  const LoadedPak* pak_ = nullptr;
  std::string image_;
  BlockDirectory directory_;
  int64_t first_row_ = 0;
  int64_t next_row_ = 0;
  int64_t end_row_ = 0;  // the first row kept after the new blocks
  std::vector<int64_t> lengths_;
};

// A block given in memory, as the library takes it.
struct NewBlock {
  int64_t id = 0;                    // 0 to 65535
  std::vector<std::string> strings;  // each ends with its terminator '|'
};

// Encodes `blocks` one after the other into `builder`, which has been
// started for them, and finishes it. False, with the first reason in *why
// ("block 2: ..."), when one cannot be written: an ID outside its field, a
// string that does not end with its only '|', or any problem EncodeBlock
// finds.
bool BuildBlocks(ImageBuilder* builder, const std::vector<NewBlock>& blocks,
                 const BlockCoder& coder, std::string* why);

// Whether the add step can be made on this pakfile without damaging it
// (false, with the reason in *why, when not): the blocks must lie from the
// end of the directory on, block 0 first and the file reaching past it,
// every Offset must stay within four bytes once moved, and one more block
// must fit the block count.
bool CanAddBlock(const LoadedPak& pak, std::string* why);

// The add step: every block moved 6 bytes further, every Offset grown by 6,
// one more directory row (ID 0) whose Offset is the new end of the file, and
// the block count and whole directory (four-byte Offsets) written at the
// place of the block count. With `change_bytes` false only the tables change
// (for a pakfile the add step refused, whose bytes are not used).
void AddEmptyBlock(LoadedPak* pak, bool change_bytes);

}  // namespace vorlex::core

#endif  // VORLEX_PACK_IMAGE_BUILDER_H_
