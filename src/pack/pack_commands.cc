#include "pack/pack_commands.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "base/file_io.h"
#include "pack/encoder.h"
#include "pack/line_reader.h"
#include "pack/pak_image.h"
#include "pack/text_reader.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

// The text file, open for line reading. One that cannot be opened reads as a
// file without lines.
class TextInput {
 public:
  TextInput(FileSystem& files, const std::string& path, Console& console)
      : files_(files) {
    fd_ = files.Open(path.c_str(), O_RDONLY, 0);
    if (fd_ < 0) {
      console.Diagnose("cannot open txtfile '" + path +
                       "': " + std::strerror(errno));
      lines_.emplace(std::string_view());
    } else {
      lines_.emplace(files, fd_);
    }
  }
  ~TextInput() {
    if (fd_ >= 0) files_.Close(fd_);
  }
  TextInput(const TextInput&) = delete;
  TextInput& operator=(const TextInput&) = delete;

  LineReader& lines() { return *lines_; }

 private:
  FileSystem& files_;
  int fd_ = -1;
  std::optional<LineReader> lines_;
};

// Why the pakfile will be left as it is: the first reason, and how many.
struct Refusal {
  std::string reason;
  int64_t count = 0;

  bool refused() const { return count > 0; }
  // `problems` of them, `why` being the first.
  void Add(std::string why, int64_t problems = 1) {
    if (count == 0) reason = std::move(why);
    count += problems;
  }
};

// Room for the new image: the old size and some growth, so that the usual
// edit never makes the string double its buffer (which would hold a third
// copy of the pakfile at once).
size_t ImageCapacity(const LoadedPak& pak) {
  const size_t size = pak.bytes.size();
  return size + std::min<size_t>(size / 8, size_t{8} << 20) +
         (size_t{64} << 10);
}

// The count checks that end a command before anything is read. Returns the
// count when the command goes on.
std::optional<int32_t> CheckedCount(std::optional<int32_t> count, int64_t most,
                                    const std::string& most_why,
                                    const std::string& txtfile,
                                    Console& console) {
  if (!count || *count == 0) {
    console.PrintError("Error: Nr of Blocks = 0!");
    console.Diagnose(count ? "'" + txtfile + "' gives a block count of 0"
                           : "'" + txtfile +
                                 "' has no \"Number of Blocks:\" line");
    return std::nullopt;
  }
  if (*count < 0) {
    console.PrintError("Error: Nr of Blocks < 0!");
    console.Diagnose("'" + txtfile + "' gives a negative block count");
    return std::nullopt;
  }
  if (*count > most) {
    console.PrintError("Error: Too many Blocks!");
    console.Diagnose("'" + txtfile + "' gives " + std::to_string(*count) +
                     " blocks; " + most_why);
    return std::nullopt;
  }
  return count;
}

// What the block loop of a command produced, for the summary line.
struct PackedBlocks {
  int64_t first_row = 0;
  std::vector<int64_t> lengths;  // of each block written, in row order
};

// Reads `count` block sections; block k goes after the previous one in
// *image (the first where the image ends now) and is recorded in directory
// row first_row + k. The loop runs to its end whatever fails, so that every
// dot and message is printed; once the pakfile is refused, the blocks are no
// longer kept.
PackedBlocks PackBlocks(TextReader& reader, int64_t first_row, int32_t count,
                        const std::string& pakfile, std::string* image,
                        BlockDirectory* directory, Refusal* refusal) {
  PackedBlocks packed;
  packed.first_row = first_row;
  packed.lengths.reserve(static_cast<size_t>(count));
  for (int32_t k = 0; k < count; ++k) {
    reader.console.Print(".");
    const int64_t row = first_row + k;
    const int64_t problems_before = reader.problems;
    const TextBlock block = ReadTextBlock(reader, row, image);
    const int64_t start = static_cast<int64_t>(block.start);
    if (!block.sound()) {
      refusal->Add(block.problem, reader.problems - problems_before);
    } else if (!refusal->refused() && start > kMaxThreeByteOffset) {
      refusal->Add(pakfile + ": block " + std::to_string(row) +
                   " would start at offset " + std::to_string(start) +
                   ", beyond the 16,777,215 that a directory entry holds");
    }
    (*directory)[static_cast<size_t>(row)] =
        BlockEntry{.id = reader.current_block_id, .offset = start};
    packed.lengths.push_back(static_cast<int64_t>(image->size() - block.start));
    if (refusal->refused()) image->resize(block.start);
  }
  return packed;
}

// A text file that could not be read to its end may have been cut anywhere,
// even where what was read looks complete.
void RefuseUnreadText(TextInput& input, const std::string& txtfile,
                      Refusal* refusal) {
  if (input.lines().read_failed()) {
    refusal->Add("'" + txtfile + "' could not be read to its end");
  }
}

// Fills the directory entries of the rows written, three-byte Offsets.
void PutDirectory(const PakHeader& header, const BlockDirectory& directory,
                  const PackedBlocks& packed, std::string* image) {
  for (size_t k = 0; k < packed.lengths.size(); ++k) {
    const int64_t row = packed.first_row + static_cast<int64_t>(k);
    PutDirectoryEntry(image, DirectoryEntryOffset(header.node_count, row),
                      directory[static_cast<size_t>(row)], 3);
  }
}

// A pakfile is never shortened: old bytes past the new end stay.
void KeepOldTail(std::string_view old_bytes, std::string* image) {
  if (image->size() < old_bytes.size()) {
    image->append(old_bytes.substr(image->size()));
  }
}

std::string SummaryLine(const std::string& pakfile, int64_t size_before,
                        int64_t size_after, const PackedBlocks& packed,
                        const std::vector<int64_t>& old_extents) {
  const size_t written = packed.lengths.size();
  std::string line = pakfile + ": " + std::to_string(written) +
                     (written == 1 ? " block" : " blocks") + " written, " +
                     std::to_string(size_before) + " -> " +
                     std::to_string(size_after) + " bytes";
  int64_t most_row = -1;
  int64_t most_growth = 0;
  for (size_t k = 0; k < written; ++k) {
    const int64_t row = packed.first_row + static_cast<int64_t>(k);
    const int64_t old_length = row < static_cast<int64_t>(old_extents.size())
                                   ? old_extents[static_cast<size_t>(row)]
                                   : 0;
    const int64_t growth = packed.lengths[k] - old_length;
    if (growth > most_growth) {
      most_growth = growth;
      most_row = row;
    }
  }
  if (most_row < 0) return line + "; no block grew";
  return line + "; block " + std::to_string(most_row) + " grew most (+" +
         std::to_string(most_growth) + " bytes)";
}

// Writes the image over the pakfile, unless something refused it, and ends
// the command with " ---- Done! ----" or " Error: Pakfile not changed!".
void Commit(const std::string& pakfile, std::string_view image,
            Refusal* refusal, FileSystem& files, Console& console,
            const std::string& summary_if_done) {
  if (!refusal->refused()) {
    std::string why;
    if (!MayRewrite(files, pakfile, &why) ||
        !ReplaceFileContents(files, pakfile, image, &why)) {
      refusal->Add(why);
    }
  }
  if (refusal->refused()) {
    console.PrintError(" Error: Pakfile not changed!");
    std::string line = "'" + pakfile + "' not changed: " + refusal->reason;
    if (refusal->count > 1) {
      line += " (and " + std::to_string(refusal->count - 1) + " more problems)";
    }
    console.Diagnose(line);
    return;
  }
  console.PrintLine(" ---- Done! ----");
  console.Note(summary_if_done);
}

// The replace step of /R, and of /A after its add step (`added`, with the
// reason the add step was refused, if it was).
void ReplaceLast(const std::string& pakfile, const std::string& txtfile,
                 LoadedPak& pak, FileSystem& files, Console& console,
                 bool added, const std::string& add_refusal,
                 int64_t size_before) {
  TextInput input(files, txtfile, console);
  const int64_t blocks = static_cast<int64_t>(pak.directory.size());
  const std::optional<int32_t> count =
      CheckedCount(ReadBlockCount(input.lines(), console), blocks,
                   "the pakfile has " + std::to_string(blocks) +
                       (added ? " blocks, counting the one added" : " blocks"),
                   txtfile, console);
  if (!count) {
    if (added)
      console.Diagnose("'" + pakfile + "' not changed: no block added");
    return;
  }

  Refusal refusal;
  if (!add_refusal.empty()) refusal.Add("cannot add a block: " + add_refusal);
  const int64_t first_row = blocks - *count;
  const int64_t start = pak.directory[static_cast<size_t>(first_row)].offset;
  const int64_t directory_end = DirectoryEnd(pak.header.node_count, blocks);
  if (!refusal.refused()) {
    if (start < directory_end) {
      refusal.Add("block " + std::to_string(first_row) + " starts at offset " +
                  std::to_string(start) +
                  ", inside the node table or the directory (they end at " +
                  std::to_string(directory_end) + ")");
    } else if (start > kMaxThreeByteOffset) {
      refusal.Add("block " + std::to_string(first_row) + " starts at offset " +
                  std::to_string(start) +
                  ", beyond the 16,777,215 that a directory entry holds");
    }
  }

  // The kept part of the file, up to where the first replaced block starts
  // (zeros where that lies past the end of the file).
  std::string image;
  if (!refusal.refused()) {
    image.reserve(ImageCapacity(pak));
    image.assign(pak.bytes, 0,
                 std::min(pak.bytes.size(), static_cast<size_t>(start)));
    image.resize(static_cast<size_t>(start), '\0');
  }
  const std::vector<int64_t> old_extents =
      BlockExtents(pak.directory, static_cast<int64_t>(pak.bytes.size()));
  const CodeTable codes = BuildCodeTable(pak.tree);
  TextReader reader(input.lines(), pak.tree, codes, txtfile, console);
  const PackedBlocks packed = PackBlocks(reader, first_row, *count, pakfile,
                                         &image, &pak.directory, &refusal);
  RefuseUnreadText(input, txtfile, &refusal);
  if (!refusal.refused()) {
    PutDirectory(pak.header, pak.directory, packed, &image);
    KeepOldTail(pak.bytes, &image);
  }
  Commit(pakfile, image, &refusal, files, console,
         SummaryLine(pakfile, size_before, static_cast<int64_t>(image.size()),
                     packed, old_extents));
}

}  // namespace

void RebuildPak(const std::string& pakfile, const std::string& txtfile,
                LoadedPak& pak, FileSystem& files, const RunOptions&,
                Console& console) {
  TextInput input(files, txtfile, console);
  const std::optional<int32_t> count =
      CheckedCount(ReadBlockCount(input.lines(), console), kMaxFieldValue,
                   "a pakfile holds at most 65535", txtfile, console);
  if (!count) return;

  const std::vector<int64_t> old_extents =
      BlockExtents(pak.directory, static_cast<int64_t>(pak.bytes.size()));
  std::string image = RebuildHead(pak.header, pak.tree.nodes, *count);
  image.reserve(std::max(image.size(), ImageCapacity(pak)));
  pak.header.block_count = *count;
  pak.directory.assign(static_cast<size_t>(*count), BlockEntry{});

  Refusal refusal;
  const CodeTable codes = BuildCodeTable(pak.tree);
  TextReader reader(input.lines(), pak.tree, codes, txtfile, console);
  const PackedBlocks packed =
      PackBlocks(reader, 0, *count, pakfile, &image, &pak.directory, &refusal);
  RefuseUnreadText(input, txtfile, &refusal);
  if (!refusal.refused()) {
    PutDirectory(pak.header, pak.directory, packed, &image);
    KeepOldTail(pak.bytes, &image);
  }
  Commit(pakfile, image, &refusal, files, console,
         SummaryLine(pakfile, static_cast<int64_t>(pak.bytes.size()),
                     static_cast<int64_t>(image.size()), packed, old_extents));
}

void ReplaceLastBlocks(const std::string& pakfile, const std::string& txtfile,
                       LoadedPak& pak, FileSystem& files, const RunOptions&,
                       Console& console) {
  ReplaceLast(pakfile, txtfile, pak, files, console, /*added=*/false, "",
              static_cast<int64_t>(pak.bytes.size()));
}

void AddBlock(const std::string& pakfile, const std::string& txtfile,
              LoadedPak& pak, FileSystem& files, const RunOptions&,
              Console& console) {
  const int64_t size_before = static_cast<int64_t>(pak.bytes.size());
  const std::string refusal = AddStepRefusal(pak);
  AddEmptyBlock(&pak, refusal.empty());
  ReplaceLast(pakfile, txtfile, pak, files, console, /*added=*/true, refusal,
              size_before);
}

}  // namespace vorlex::core
