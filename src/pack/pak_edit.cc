#include "pack/pak_edit.h"

#include <algorithm>
#include <string_view>

#include "pack/block_encoder.h"
#include "pack/pak_image.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

std::string BlockName(int64_t row) { return "block " + std::to_string(row); }

// Appends the blocks one after the other to *image and records each in
// (*directory)[first + k]. False, with the reason, when one cannot be
// written.
bool AppendNewBlocks(const LoadedPak& pak, const CodeTable& codes,
                     int64_t first, const std::vector<NewBlock>& blocks,
                     std::string* image, BlockDirectory* directory,
                     std::string* why) {
  const BlockDecoder decoder(pak.tree);
  for (size_t k = 0; k < blocks.size(); ++k) {
    const int64_t row = first + static_cast<int64_t>(k);
    const NewBlock& block = blocks[k];
    if (block.id < 0 || block.id > kMaxFieldValue) {
      *why = BlockName(row) + ": the ID " + std::to_string(block.id) +
             " lies outside 0 to 65535";
      return false;
    }
    const int64_t start = static_cast<int64_t>(image->size());
    if (start > kMaxThreeByteOffset) {
      *why = BlockName(row) + " would start at offset " +
             std::to_string(start) +
             ", beyond the 16,777,215 that a directory entry holds";
      return false;
    }
    const std::string problem =
        EncodeBlock(block.strings, decoder, codes, image);
    if (!problem.empty()) {
      // "block 2, string 1: ..." or "block 2 holds ...".
      *why = BlockName(row) + (problem.starts_with("string") ? ", " : " ") +
             problem;
      return false;
    }
    (*directory)[static_cast<size_t>(row)] =
        BlockEntry{.id = static_cast<int32_t>(block.id), .offset = start};
  }
  return true;
}

// Writes the directory entries of rows `first` to the last, three-byte
// Offsets, as the pak and replace commands write them.
bool PutEntries(const LoadedPak& pak, const BlockDirectory& directory,
                int64_t first, std::string* image, std::string* why) {
  for (size_t row = static_cast<size_t>(first); row < directory.size(); ++row) {
    if (directory[row].offset > kMaxThreeByteOffset) {
      *why = BlockName(static_cast<int64_t>(row)) + " would start at offset " +
             std::to_string(directory[row].offset) +
             ", beyond the 16,777,215 that a directory entry holds";
      return false;
    }
    PutDirectoryEntry(
        image,
        DirectoryEntryOffset(pak.header.node_count, static_cast<int64_t>(row)),
        directory[row], 3);
  }
  return true;
}

// A pakfile is never shortened: old bytes past the new end stay.
void KeepOldTail(std::string_view old_bytes, std::string* image) {
  if (image->size() < old_bytes.size()) {
    image->append(old_bytes.substr(image->size()));
  }
}

}  // namespace

std::optional<std::string> ReplaceBlocksImage(
    const LoadedPak& pak, const CodeTable& codes, int64_t first,
    const std::vector<NewBlock>& blocks, std::string* why) {
  const int64_t count = static_cast<int64_t>(pak.directory.size());
  const int64_t k = static_cast<int64_t>(blocks.size());
  const int64_t end = first + k;  // the first block kept after them
  if (first < 0 || k < 1 || end > count) {
    *why = "blocks " + std::to_string(first) + " to " +
           std::to_string(end - 1) +
           " are not all in the pakfile, which has blocks 0 to " +
           std::to_string(count - 1);
    return std::nullopt;
  }
  const int64_t length = static_cast<int64_t>(pak.bytes.size());
  const int64_t start = pak.directory[static_cast<size_t>(first)].offset;
  const int64_t directory_end = DirectoryEnd(pak.header.node_count, count);
  if (start < directory_end) {
    *why = BlockName(first) + " starts at offset " + std::to_string(start) +
           ", inside the node table or the directory (they end at " +
           std::to_string(directory_end) + ")";
    return std::nullopt;
  }
  // The blocks that follow move as one piece, which they can only do when
  // they lie in order from where the replaced ones start.
  int64_t previous = start;
  for (int64_t row = end; row < count; ++row) {
    const int64_t offset = pak.directory[static_cast<size_t>(row)].offset;
    if (offset < previous || offset > length) {
      *why = BlockName(row) + " starts at offset " + std::to_string(offset) +
             (offset < previous ? ", before the block ahead of it (" +
                                      std::to_string(previous) + ")"
                                : ", past the end of the file (" +
                                      std::to_string(length) + ")") +
             ", so it cannot be moved";
      return std::nullopt;
    }
    previous = offset;
  }

  // The kept part of the file, up to where block `first` starts (zeros
  // where that lies past the end of the file).
  std::string image(pak.bytes, 0, static_cast<size_t>(std::min(length, start)));
  image.resize(static_cast<size_t>(start), '\0');
  BlockDirectory directory = pak.directory;
  if (!AppendNewBlocks(pak, codes, first, blocks, &image, &directory, why)) {
    return std::nullopt;
  }
  if (end < count) {
    const int64_t from = pak.directory[static_cast<size_t>(end)].offset;
    const int64_t moved_by = static_cast<int64_t>(image.size()) - from;
    image.append(pak.bytes, static_cast<size_t>(from));
    for (int64_t row = end; row < count; ++row) {
      directory[static_cast<size_t>(row)].offset += moved_by;
    }
  }
  if (!PutEntries(pak, directory, first, &image, why)) return std::nullopt;
  KeepOldTail(pak.bytes, &image);
  return image;
}

std::optional<std::string> AppendBlocksImage(
    const LoadedPak& pak, const CodeTable& codes,
    const std::vector<NewBlock>& blocks, std::string* why) {
  if (blocks.empty()) return pak.bytes;
  LoadedPak grown = pak;
  for (size_t k = 0; k < blocks.size(); ++k) {
    const std::string refusal = AddStepRefusal(grown);
    if (!refusal.empty()) {
      *why = "cannot add a block: " + refusal;
      return std::nullopt;
    }
    AddEmptyBlock(&grown, /*change_bytes=*/true);
  }
  return ReplaceBlocksImage(
      grown, codes,
      static_cast<int64_t>(grown.directory.size() - blocks.size()), blocks,
      why);
}

std::optional<std::string> RebuildImage(const LoadedPak& pak,
                                        const CodeTable& codes,
                                        const std::vector<NewBlock>& blocks,
                                        std::string* why) {
  if (blocks.empty()) {
    *why = "a pakfile needs at least one block";
    return std::nullopt;
  }
  if (blocks.size() > static_cast<size_t>(kMaxFieldValue)) {
    *why = std::to_string(blocks.size()) +
           " blocks; a pakfile holds at most 65535";
    return std::nullopt;
  }
  const int32_t count = static_cast<int32_t>(blocks.size());
  std::string image = RebuildHead(pak.header, pak.tree.nodes, count);
  BlockDirectory directory(blocks.size());
  if (!AppendNewBlocks(pak, codes, 0, blocks, &image, &directory, why) ||
      !PutEntries(pak, directory, 0, &image, why)) {
    return std::nullopt;
  }
  KeepOldTail(pak.bytes, &image);
  return image;
}

}  // namespace vorlex::core
