#include "pack/pack_commands.h"

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "base/file_io.h"
#include "extract/decoder.h"
#include "pack/block_encoder.h"
#include "pack/block_packer.h"
#include "pack/encoder.h"
#include "pack/image_builder.h"
#include "pack/line_reader.h"
#include "pack/text_reader.h"
#include "pack/tree_builder.h"
#include "pak/fields.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

// The text file, open for line reading. One that cannot be opened reads as a
// file without lines. A UTF-8 text file (read through an alphabet) holds
// byte 26 as a character.
class TextInput {
 public:
  TextInput(FileSystem& files, const std::string& path, Console& console,
            bool utf8)
      : files_(files) {
    fd_ = files.Open(path.c_str(), O_RDONLY, 0);
    if (fd_ < 0) {
      console.Diagnose("cannot open txtfile '" + path +
                       "': " + std::strerror(errno));
      lines_.emplace(std::string_view());
    } else {
      lines_.emplace(files, fd_, LineReader::kDefaultChunkSize, utf8);
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

// Reads the count line, printing "Nr of Blocks:" and the count when there
// is one.
std::optional<int32_t> ReadCount(LineReader& lines, Console& console) {
  const std::optional<int32_t> count = ReadBlockCount(lines);
  if (count) console.PrintLine("Nr of Blocks:" + ConsoleInteger(*count));
  return count;
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

// Sections are read in batches of about this much text: while the blocks
// of one batch are encoded and read back on both cores, the next is read.
// The larger, the more of each batch the second thread encodes before the
// first has read the next (on a busy machine it may start a millisecond
// late); but each MiB of text under way holds about 3 MiB with its strings'
// places and bytes, and two batches are under way. With 512 KiB, /P of a
// 4 MB pakfile peaks at 18 MiB, of a 16 MB one at 39 MiB.
constexpr size_t kBatchText = size_t{1} << 19;
// A section with more text than this is encoded on its own, straight into
// the image, rather than into a buffer that would hold its bytes twice.
constexpr size_t kAloneText = size_t{4} << 20;

size_t TextSize(const TextSection& section) {
  size_t size = 0;
  for (const BlockString& string : section.strings) size += string.text.size();
  return size;
}

// Reads `count` block sections into rows `first_row` on. The loop runs to its
// end whatever fails, so that every dot and message is printed. Every dot,
// message and byte comes in the order of the sections, as if each were read,
// encoded and told before the next.
void PackBlocks(LineReader& lines, const LoadedPak& pak, int64_t first_row,
                int32_t count, const std::string& txtfile,
                const RunOptions& options, Console& console,
                ImageBuilder* builder, Refusal* refusal) {
  const CodeTable codes = BuildCodeTable(pak.tree);
  const BlockDecoder decoder(pak.tree);
  const BlockCoder coder{.codes = codes, .decoder = decoder};
  const int64_t count_line = lines.line_number();
  BlockPacker packer(lines, coder, txtfile, console, options.alphabet);
  using Batch = std::vector<std::unique_ptr<BlockPacker::Pending>>;
  Batch batch, next, spare;  // spare: sections told, their storage reused
  int32_t sections_read = 0;
  auto read_batch = [&](Batch* into) {
    size_t text = 0;
    while (sections_read < count && text < kBatchText) {
      if (spare.empty())
        spare.push_back(std::make_unique<BlockPacker::Pending>());
      into->push_back(std::move(spare.back()));
      spare.pop_back();
      packer.ReadSection(into->back().get());
      ++sections_read;
      const size_t size = TextSize(into->back()->section);
      if (size > kAloneText) break;
      text += size;
    }
  };
  // The blocks of one batch that both threads encode: each takes the next
  // not yet taken.
  struct Sharing {
    std::vector<BlockPacker::Pending*> blocks;
    std::atomic<size_t> taken{0};
    std::atomic<size_t> encoded{0};
  };
  auto encode = [&packer](Sharing* sharing) {
    for (size_t i; (i = sharing->taken++) < sharing->blocks.size();) {
      packer.EncodeSection(sharing->blocks[i], nullptr);
      ++sharing->encoded;
      sharing->encoded.notify_one();
    }
  };
  // Second threads not yet joined, with what they share (`done` is
  // declared last so that it is destroyed, waiting for its thread, first).
  // One that starts only after this thread took every block finds nothing
  // to do, and is not waited for until it has ended.
  struct Helper {
    std::unique_ptr<Sharing> sharing;
    std::future<void> done;
  };
  std::vector<Helper> helpers;
  read_batch(&batch);
  int64_t row = first_row;
  while (!batch.empty()) {
    const bool last_alone = TextSize(batch.back()->section) > kAloneText;
    const size_t shared = batch.size() - (last_alone ? 1 : 0);
    auto sharing = std::make_unique<Sharing>();
    for (size_t i = 0; i < shared; ++i) {
      sharing->blocks.push_back(batch[i].get());
    }
    Sharing* const both = sharing.get();
    if (shared > 1) {
      helpers.push_back(
          {std::move(sharing), std::async(std::launch::async, encode, both)});
    }
    read_batch(&next);  // while the second thread encodes
    encode(both);
    // The blocks the second thread took.
    for (size_t done; (done = both->encoded) < shared;) {
      both->encoded.wait(done);
    }
    std::erase_if(helpers, [](const Helper& helper) {
      return helper.done.wait_for(std::chrono::seconds(0)) ==
             std::future_status::ready;
    });
    for (size_t i = 0; i < batch.size(); ++i, ++row) {
      BlockPacker::Pending* const section = batch[i].get();
      console.Print(".");
      const size_t start = builder->image()->size();
      std::string why;
      const bool placed = refusal->refused() || builder->CanStartBlock(&why);
      if (i >= shared) packer.EncodeSection(section, builder->image());
      const PackedSection block =
          packer.TellSection(row, section, builder->image());
      if (!block.sound()) {
        refusal->Add(block.problem, block.problems);
      } else if (!placed) {
        refusal->Add(why);
      }
      if (refusal->refused()) {
        builder->DropBlocks(start);  // nothing more is kept
      } else {
        builder->EndBlock(section->block_id, start);
      }
    }
    for (auto& told : batch) {
      // A long section's storage is let go at once.
      if (TextSize(told->section) <= kAloneText)
        spare.push_back(std::move(told));
    }
    batch.clear();
    std::swap(batch, next);
  }
  helpers.clear();  // waits for any still running, with nothing to do
  // More text than the count line counts: a section left out.
  std::string left =
      packer.CheckNothingLeft(count_line, count, first_row + count - 1);
  if (!left.empty()) refusal->Add(std::move(left));
}

// A text file that could not be read to its end may have been cut anywhere,
// even where what was read looks complete.
void RefuseUnreadText(TextInput& input, const std::string& txtfile,
                      Refusal* refusal) {
  if (input.lines().read_failed()) {
    refusal->Add("'" + txtfile + "' could not be read to its end");
  }
}

std::string SummaryLine(const std::string& pakfile, int64_t size_before,
                        int64_t size_after, const ImageBuilder& packed,
                        const std::vector<int64_t>& old_extents) {
  const size_t written = packed.lengths().size();
  std::string line = pakfile + ": " + std::to_string(written) +
                     (written == 1 ? " block" : " blocks") + " written, " +
                     std::to_string(size_before) + " -> " +
                     std::to_string(size_after) + " bytes";
  int64_t most_row = -1;
  int64_t most_growth = 0;
  for (size_t k = 0; k < written; ++k) {
    const int64_t row = packed.first_row() + static_cast<int64_t>(k);
    const int64_t old_length = row < static_cast<int64_t>(old_extents.size())
                                   ? old_extents[static_cast<size_t>(row)]
                                   : 0;
    const int64_t growth = packed.lengths()[k] - old_length;
    if (growth > most_growth) {
      most_growth = growth;
      most_row = row;
    }
  }
  if (most_row < 0) return line + "; no block grew";
  return line + "; block " + std::to_string(most_row) + " grew most (+" +
         std::to_string(most_growth) + " bytes)";
}

// The way out where no temporary file fits beside the pakfile.
constexpr std::string_view kInPlaceHint =
    "; to write the pakfile in place instead, run again with --in-place (its "
    "old contents are saved in $TMPDIR or /tmp first and written back if "
    "writing fails)";

// Writes the image over the pakfile, unless something refused it, and ends
// the command with " ---- Done! ----" or " Error: Pakfile not changed!", or
// neither where writing in place left the pakfile damaged. A dry run checks
// that the pakfile may be rewritten, and writes nothing.
void Commit(const std::string& pakfile, std::string_view image,
            Refusal* refusal, FileSystem& files, const RunOptions& options,
            Console& console, const std::string& summary_if_done) {
  if (!refusal->refused()) {
    std::string why;
    if (!MayRewrite(files, pakfile, &why)) {
      refusal->Add(why);
    } else if (!options.dry_run) {
      switch (
          ReplaceFileContents(files, pakfile, image, options.in_place, &why)) {
        case Replaced::kYes:
          break;
        case Replaced::kNo:
          refusal->Add(why);
          break;
        case Replaced::kNoTemporaryFile:
          refusal->Add(why.append(kInPlaceHint));
          break;
        case Replaced::kDamaged:
          console.failure = true;
          console.Diagnose(why);
          return;
      }
    }
  }
  if (refusal->refused()) {
    console.PrintError(" Error: Pakfile not changed!");
    std::string line = "'" + pakfile + "' not changed: " + refusal->reason;
    if (refusal->count > 1) {
      const int64_t more = refusal->count - 1;
      line += " (and " + std::to_string(more) +
              (more == 1 ? " more problem)" : " more problems)");
    }
    console.Diagnose(line);
    return;
  }
  console.PrintLine(" ---- Done! ----");
  console.Note(summary_if_done);
}

// Ends a command after its block loop: the rest of the image laid out and
// written over the pakfile, unless something refused it.
void Finish(const std::string& pakfile, TextInput& input,
            const std::string& txtfile, int64_t size_before,
            const std::vector<int64_t>& old_extents, ImageBuilder* builder,
            Refusal* refusal, FileSystem& files, const RunOptions& options,
            Console& console) {
  RefuseUnreadText(input, txtfile, refusal);
  std::string why;
  if (!refusal->refused() &&
      !builder->Finish(/*keep_old_tail=*/!options.compact, &why)) {
    refusal->Add(why);
  }
  if (refusal->refused()) builder->result().clear();
  const int64_t size_after = static_cast<int64_t>(builder->result().size());
  std::string summary =
      SummaryLine(pakfile, size_before, size_after, *builder, old_extents);
  if (options.compact) {
    summary += "; --compact saved " +
               std::to_string(std::max<int64_t>(size_before - size_after, 0)) +
               " bytes";
  }
  Commit(pakfile, builder->result(), refusal, files, options, console, summary);
}

// --new-tree: reads the text file's `count` block sections once more and
// puts a new code tree made from their strings in place of the pakfile's.
// Returns the summary line, or the reason when the strings use more
// characters than a tree holds.
std::string PlantNewTree(const std::string& pakfile, const std::string& txtfile,
                         int32_t count, const RunOptions& options,
                         FileSystem& files, Console& console, LoadedPak* pak,
                         Refusal* refusal) {
  CharacterCounts counts{};
  {
    TextInput input(files, txtfile, console, options.alphabet != nullptr);
    ReadBlockCount(input.lines());
    const CodeTable codes = BuildCodeTable(pak->tree);
    const BlockDecoder decoder(pak->tree);
    BlockPacker packer(input.lines(), {.codes = codes, .decoder = decoder},
                       txtfile, console, options.alphabet);
    for (int32_t k = 0; k < count; ++k) packer.CountSection(&counts);
  }
  const NewTree made = BuildNewTree(counts);
  if (made.nodes.empty()) {
    refusal->Add("the strings use " + std::to_string(made.characters) +
                 " different characters; a new code tree holds at most " +
                 std::to_string(kMaxNewTreeCharacters));
    return "";
  }
  const int32_t old_count = pak->header.node_count;
  const auto new_count = static_cast<int32_t>(made.nodes.size());
  pak->tree = CodeTree{};
  pak->tree.nodes = made.nodes;
  PrepareCodeTree(&pak->tree);
  pak->header.node_count = new_count;
  return pakfile + ": new code tree of " + std::to_string(made.characters) +
         " characters, " + std::to_string(new_count) + " nodes (" +
         std::to_string(kNodeRecordSize * new_count) +
         " bytes); the old one had " + std::to_string(old_count) + " nodes (" +
         std::to_string(kNodeRecordSize * old_count) + " bytes)";
}

// The replace step of /R, and of /A after its add step (`added`, with the
// reason the add step was refused, if it was).
void ReplaceLast(const std::string& pakfile, const std::string& txtfile,
                 LoadedPak& pak, FileSystem& files, const RunOptions& options,
                 Console& console, bool added, const std::string& add_refusal,
                 int64_t size_before) {
  TextInput input(files, txtfile, console, options.alphabet != nullptr);
  const int64_t blocks = static_cast<int64_t>(pak.directory.size());
  const std::optional<int32_t> count =
      CheckedCount(ReadCount(input.lines(), console), blocks,
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
  const std::vector<int64_t> old_extents =
      BlockExtents(pak.directory, static_cast<int64_t>(pak.bytes.size()));
  ImageBuilder builder;
  std::string why;
  if (!refusal.refused() &&
      !builder.StartReplace(pak, blocks - *count, *count, &why)) {
    refusal.Add(why);
  }
  PackBlocks(input.lines(), pak, blocks - *count, *count, txtfile, options,
             console, &builder, &refusal);
  Finish(pakfile, input, txtfile, size_before, old_extents, &builder, &refusal,
         files, options, console);
}

}  // namespace

void RebuildPak(const std::string& pakfile, const std::string& txtfile,
                LoadedPak& pak, FileSystem& files, const RunOptions& options,
                Console& console) {
  TextInput input(files, txtfile, console, options.alphabet != nullptr);
  const std::optional<int32_t> count = CheckedCount(
      ReadCount(input.lines(), console), LimitMax(Limit::kBlockCount),
      std::string(LimitText(Limit::kBlockCount)), txtfile, console);
  if (!count) return;

  const std::vector<int64_t> old_extents =
      BlockExtents(pak.directory, static_cast<int64_t>(pak.bytes.size()));
  Refusal refusal;
  const std::string tree_summary =
      options.new_tree ? PlantNewTree(pakfile, txtfile, *count, options, files,
                                      console, &pak, &refusal)
                       : "";
  ImageBuilder builder;
  std::string why;
  // A text that no new tree can hold is refused before any block is read.
  if (!refusal.refused()) {
    if (!builder.StartRebuild(pak, *count, &why)) refusal.Add(why);
    PackBlocks(input.lines(), pak, 0, *count, txtfile, options, console,
               &builder, &refusal);
  }
  Finish(pakfile, input, txtfile, static_cast<int64_t>(pak.bytes.size()),
         old_extents, &builder, &refusal, files, options, console);
  if (!refusal.refused() && !tree_summary.empty()) console.Note(tree_summary);
}

void ReplaceLastBlocks(const std::string& pakfile, const std::string& txtfile,
                       LoadedPak& pak, FileSystem& files,
                       const RunOptions& options, Console& console) {
  ReplaceLast(pakfile, txtfile, pak, files, options, console, /*added=*/false,
              "", static_cast<int64_t>(pak.bytes.size()));
}

void AddBlock(const std::string& pakfile, const std::string& txtfile,
              LoadedPak& pak, FileSystem& files, const RunOptions& options,
              Console& console) {
  const int64_t size_before = static_cast<int64_t>(pak.bytes.size());
  std::string refusal;
  AddEmptyBlock(&pak, CanAddBlock(pak, &refusal));
  ReplaceLast(pakfile, txtfile, pak, files, options, console, /*added=*/true,
              refusal, size_before);
}

}  // namespace vorlex::core
