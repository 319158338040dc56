#include "pack/image_builder.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/failure.h"
#include "pak/fields.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

// The add step moves every block by the size of one directory entry.
constexpr int64_t kMove = kDirectoryEntrySize;

std::string BlockName(int64_t row) { return "block " + std::to_string(row); }

std::string Beyond(Limit limit) { return "; " + std::string(LimitText(limit)); }

// Room for the new image: the old size and some growth, so that the usual
// edit never makes the string double its buffer (which would hold a third
// copy of the pakfile at once).
size_t ImageCapacity(const LoadedPak& pak) {
  const size_t size = pak.bytes.size();
  return size + std::min<size_t>(size / 8, size_t{8} << 20) +
         (size_t{64} << 10);
}

// Overwrites the directory entry of `row`: the ID's low two bytes, then the
// Offset as its low three bytes and a 0 byte.
void PutDirectoryEntry(const PakHeader& header, int64_t row,
                       const BlockEntry& entry, std::string* image) {
  char bytes[kDirectoryEntrySize] = {};
  for (int i = 0; i < 2; ++i) {
    bytes[i] = static_cast<char>((static_cast<uint32_t>(entry.id) >> (8 * i)));
  }
  for (int i = 0; i < 3; ++i) {
    bytes[2 + i] = static_cast<char>(entry.offset >> (8 * i));
  }
  image->replace(
      static_cast<size_t>(DirectoryEntryOffset(header.node_count, row)),
      sizeof bytes, bytes, sizeof bytes);
}

}  // namespace

bool ImageBuilder::StartRebuild(const LoadedPak& pak, int64_t count,
                                std::string* why) {
  if (count < 1) {
    return Fail(why, "a pakfile needs at least one block");
  }
  if (!Fits(Limit::kBlockCount, count)) {
    return Fail(why,
                std::to_string(count) + " blocks" + Beyond(Limit::kBlockCount));
  }
  pak_ = &pak;
  const int32_t node_count = pak.header.node_count;
  image_.clear();
  image_.reserve(std::max(static_cast<size_t>(DirectoryEnd(node_count, count)),
                          ImageCapacity(pak)));
  AppendInteger(node_count, 2, &image_);
  for (int32_t k = 0; k < node_count; ++k) {
    const TreeNode& node = pak.tree.Node(k);
    AppendInteger(node.char_, 1, &image_);
    AppendInteger(node.parent, 1, &image_);
    AppendInteger(node.child_l, 1, &image_);
    AppendInteger(node.child_r, 1, &image_);
  }
  AppendInteger(count, 2, &image_);
  image_.append(kDirectoryEntrySize * static_cast<size_t>(count), '\0');
  directory_.assign(static_cast<size_t>(count), BlockEntry{});
  first_row_ = next_row_ = 0;
  end_row_ = count;
  lengths_.clear();
  return true;
}

bool ImageBuilder::StartReplace(const LoadedPak& pak, int64_t first,
                                int64_t count, std::string* why) {
  const int64_t blocks = static_cast<int64_t>(pak.directory.size());
  const int64_t end = first + count;  // the first block kept after them
  if (first < 0 || count < 1 || end > blocks) {
    return Fail(why, "blocks " + std::to_string(first) + " to " +
                         std::to_string(end - 1) +
                         " are not all in the pakfile, which has blocks 0 to " +
                         std::to_string(blocks - 1));
  }
  const int64_t length = static_cast<int64_t>(pak.bytes.size());
  const int64_t start = pak.directory[static_cast<size_t>(first)].offset;
  const int64_t directory_end = DirectoryEnd(pak.header.node_count, blocks);
  if (start < directory_end) {
    return Fail(
        why, BlockName(first) + " starts at offset " + std::to_string(start) +
                 ", inside the node table or the directory (they end at " +
                 std::to_string(directory_end) + ")");
  }
  if (!Fits(Limit::kThreeByteOffset, start)) {
    return Fail(why, BlockName(first) + " would start at offset " +
                         std::to_string(start) +
                         Beyond(Limit::kThreeByteOffset));
  }
  // The blocks that follow move as one piece, which they can only do when
  // they lie in order from where the replaced ones start.
  int64_t previous = start;
  for (int64_t row = end; row < blocks; ++row) {
    const int64_t offset = pak.directory[static_cast<size_t>(row)].offset;
    if (offset < previous || offset > length) {
      return Fail(
          why, BlockName(row) + " starts at offset " + std::to_string(offset) +
                   (offset < previous ? ", before the block ahead of it (" +
                                            std::to_string(previous) + ")"
                                      : ", past the end of the file (" +
                                            std::to_string(length) + ")") +
                   ", so it cannot be moved");
    }
    previous = offset;
  }

  // The kept part of the file, up to where block `first` starts (zeros
  // where that lies past the end of the file).
  pak_ = &pak;
  image_.clear();
  image_.reserve(ImageCapacity(pak));
  image_.assign(pak.bytes, 0, static_cast<size_t>(std::min(length, start)));
  image_.resize(static_cast<size_t>(start), '\0');
  directory_ = pak.directory;
  first_row_ = next_row_ = first;
  end_row_ = end;
  lengths_.clear();
  return true;
}

bool ImageBuilder::CanStartBlock(std::string* why) const {
  const int64_t start = static_cast<int64_t>(image_.size());
  if (Fits(Limit::kThreeByteOffset, start)) return true;
  return Fail(why, BlockName(next_row_) + " would start at offset " +
                       std::to_string(start) + Beyond(Limit::kThreeByteOffset));
}

void ImageBuilder::EndBlock(int32_t id, size_t start) {
  directory_[static_cast<size_t>(next_row_)] =
      BlockEntry{.id = id, .offset = static_cast<int64_t>(start)};
  lengths_.push_back(static_cast<int64_t>(image_.size() - start));
  ++next_row_;
}

bool ImageBuilder::Finish(bool keep_old_tail, std::string* why) {
  const LoadedPak& pak = *pak_;
  const int64_t blocks = static_cast<int64_t>(directory_.size());
  if (end_row_ < blocks) {
    const int64_t from = pak.directory[static_cast<size_t>(end_row_)].offset;
    const int64_t moved_by = static_cast<int64_t>(image_.size()) - from;
    image_.append(pak.bytes, static_cast<size_t>(from));
    for (int64_t row = end_row_; row < blocks; ++row) {
      directory_[static_cast<size_t>(row)].offset += moved_by;
    }
  }
  for (int64_t row = first_row_; row < blocks; ++row) {
    const BlockEntry& entry = directory_[static_cast<size_t>(row)];
    if (!Fits(Limit::kThreeByteOffset, entry.offset)) {
      return Fail(why, BlockName(row) + " would start at offset " +
                           std::to_string(entry.offset) +
                           Beyond(Limit::kThreeByteOffset));
    }
    PutDirectoryEntry(pak.header, row, entry, &image_);
  }
  // A pakfile is never shortened unless the user asks for it: old bytes past
  // the new end stay.
  if (keep_old_tail && image_.size() < pak.bytes.size()) {
    image_.append(std::string_view(pak.bytes).substr(image_.size()));
  }
  return true;
}

bool BuildBlocks(ImageBuilder* builder, const std::vector<NewBlock>& blocks,
                 const BlockCoder& coder, std::string* why) {
  std::vector<BlockString> strings;
  std::vector<BlockProblem> problems;
  for (const NewBlock& block : blocks) {
    const std::string name = BlockName(builder->next_row()) + ": ";
    if (!Fits(Limit::kBlockId, block.id)) {
      return Fail(why, name + "an ID of " + std::to_string(block.id) +
                           Beyond(Limit::kBlockId));
    }
    strings.clear();
    for (size_t k = 0; k < block.strings.size(); ++k) {
      const std::string& text = block.strings[k];
      const size_t terminator = text.find(kTerminator);
      if (terminator == std::string::npos) {
        return Fail(why, name + "string " + std::to_string(k) +
                             " does not end with the terminator '|'");
      }
      if (terminator + 1 != text.size()) {
        *why = name + "string " + std::to_string(k) +
               " holds the terminator '|' as character " +
               std::to_string(terminator + 1) + " of " +
               std::to_string(text.size()) + "; only the last may be '|'";
        return false;
      }
      strings.push_back(
          BlockString{.index = static_cast<int64_t>(k), .text = text});
    }
    if (!builder->CanStartBlock(why)) return false;
    const size_t start = builder->image()->size();
    problems.clear();
    if (!EncodeBlock(static_cast<int64_t>(strings.size()), strings, coder,
                     builder->image(), &problems)) {
      return Fail(why, name + problems.front().what);
    }
    builder->EndBlock(static_cast<int32_t>(block.id), start);
  }
  return builder->Finish(/*keep_old_tail=*/true, why);
}

bool CanAddBlock(const LoadedPak& pak, std::string* why) {
  const BlockDirectory& directory = pak.directory;
  const int64_t blocks = static_cast<int64_t>(directory.size());
  if (blocks == 0) return Fail(why, "the pakfile has no block to add after");
  if (!Fits(Limit::kBlockCount, blocks + 1)) {
    return Fail(why, "the pakfile already has " + std::to_string(blocks) +
                         " blocks" + Beyond(Limit::kBlockCount));
  }
  const int64_t first = directory[0].offset;
  const int64_t directory_end = DirectoryEnd(pak.header.node_count, blocks);
  const int64_t length = static_cast<int64_t>(pak.bytes.size());
  if (first < directory_end) {
    return Fail(why,
                "block 0 starts at offset " + std::to_string(first) +
                    ", inside the node table or the directory (they end at " +
                    std::to_string(directory_end) + ")");
  }
  if (length <= first) {
    return Fail(why, "the file ends at " + std::to_string(length) +
                         ", at or before block 0's offset " +
                         std::to_string(first));
  }
  if (!Fits(Limit::kFourByteOffset, length + kMove)) {
    return Fail(why, "the file would grow to " +
                         std::to_string(length + kMove) + " bytes" +
                         Beyond(Limit::kFourByteOffset));
  }
  for (int64_t b = 1; b < blocks; ++b) {
    const int64_t offset = directory[static_cast<size_t>(b)].offset;
    if (offset < first) {
      return Fail(why, "block " + std::to_string(b) + " starts at offset " +
                           std::to_string(offset) + ", before block 0 (" +
                           std::to_string(first) + ")");
    }
    if (!Fits(Limit::kFourByteOffset, offset + kMove)) {
      return Fail(why, "block " + std::to_string(b) + " would move to offset " +
                           std::to_string(offset + kMove) +
                           Beyond(Limit::kFourByteOffset));
    }
  }
  return true;
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
