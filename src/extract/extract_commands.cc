#include "extract/extract_commands.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <utility>
#include <vector>

#include "base/charset.h"
#include "base/file_io.h"
#include "extract/extract_block.h"
#include "extract/text_writer.h"

namespace vorlex::core {
namespace {

constexpr std::string_view kCannotWrite = "Error: Cannot write txtfile!";
constexpr std::string_view kBlockNotExist = " Error: Block not Exist!";
constexpr std::string_view kNotTextFile =
    "Error: txtfile is not a Vorlex text file!";
constexpr std::string_view kFileStart = "Strings extracted from: ";
constexpr std::string_view kSectionStart = "Block Nr: ";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The first bytes of a file, as many as `count` where it holds them; nothing
// when it cannot be read.
std::optional<std::string> FileHead(FileSystem& files, const std::string& path,
                                    size_t count) {
  const int fd = files.Open(path.c_str(), O_RDONLY, 0);
  if (fd < 0) return std::nullopt;
  std::string head(count, '\0');
  size_t got = 0;
  bool failed = false;
  while (got < count && !failed) {
    const ssize_t n = files.Read(fd, head.data() + got, count - got);
    if (n < 0 && errno == EINTR) continue;
    failed = n < 0;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  files.Close(fd);
  if (failed) return std::nullopt;
  head.resize(got);
  return head;
}

// Whether the txtfile may be emptied (or, `appending`, appended to): it is
// missing, empty, not a regular file (a pipe or a device holds no work to
// lose), or begins like a text file that Vorlex wrote. A swapped pair of
// names would otherwise write the text over the pakfile.
bool MayWriteTextFile(FileSystem& files, const std::string& txtfile,
                      bool appending, const RunOptions& options,
                      Console& console) {
  struct stat info;
  if (options.force || files.Stat(txtfile.c_str(), &info) != 0 ||
      !S_ISREG(info.st_mode) || info.st_size == 0) {
    return true;
  }
  const std::optional<std::string> head =
      FileHead(files, txtfile, kByteOrderMark.size() + kFileStart.size());
  if (head) {
    std::string_view text = *head;
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(3);
    if (text.starts_with(kFileStart) ||
        (appending && text.starts_with(kSectionStart))) {
      return true;
    }
  }
  console.PrintError(kNotTextFile);
  console.Diagnose(
      "txtfile '" + txtfile + "' " +
      (head
           ? std::string("is not empty and does not begin with \"") +
                 std::string(kFileStart) + "\"" +
                 (appending ? " or \"" + std::string(kSectionStart) + "\"" : "")
           : "cannot be read to see what it holds") +
      "; --force " + (appending ? "appends to" : "overwrites") + " it");
  return false;
}
// The way out where no temporary file fits beside the text file.
constexpr const char* kInPlaceHint =
    "; to write it in place instead, run again with --in-place (its old "
    "contents are saved in $TMPDIR or /tmp first and written back if "
    "writing fails)";

// Opens the text file, or reports that it cannot be written.
bool OpenTextFile(FileSystem& files, const std::string& txtfile, bool append,
                  OutputFile* file, Console& console) {
  if (OpenOutput(files, txtfile, append, file)) return true;
  const int error = errno;
  console.PrintError(kCannotWrite);
  console.Diagnose("cannot open txtfile '" + txtfile +
                   "' for writing: " + std::strerror(error));
  return false;
}

// Closes the text file; false, with the reason on standard error, when any of
// it could not be written.
bool CloseTextFile(const std::string& txtfile, OutputFile* file,
                   Console& console) {
  if (CloseOutput(file)) return true;
  console.Diagnose("writing txtfile '" + txtfile +
                   "' failed: " + std::strerror(errno));
  return false;
}

// Warns about what a block section cannot carry: strings missing from a
// damaged block make the run fail; strings that packing would not read back
// unchanged are only named.
void CheckBlock(size_t block, const LoadedPak& pak, const DecodedBlock& decoded,
                const Alphabet* alphabet, Console& console) {
  const std::string name = "block " + std::to_string(block);
  if (decoded.StringsDecoded() < static_cast<size_t>(decoded.string_count)) {
    console.failure = true;
    console.Diagnose(name + " (ID " + std::to_string(pak.directory[block].id) +
                     ") is damaged or cut short: its count is " +
                     std::to_string(decoded.string_count) + " strings, " +
                     std::to_string(decoded.StringsDecoded()) + " decoded");
  }
  // A terminator ends every string, so no CR LF spans two of them. With an
  // alphabet EveryStringReadsBack has refused such strings already.
  if (alphabet) return;
  if (!HoldsCrLf(decoded.text) && !HoldsEndOfText(decoded.text)) return;
  for (size_t k = 0; k < decoded.StringsDecoded(); ++k) {
    const std::string_view text = decoded.String(k);
    const std::string where = name + ", string " + std::to_string(k);
    if (HoldsCrLf(text)) {
      console.Diagnose(where +
                       " holds CR LF, which packing reads back as LF alone");
    }
    if (HoldsEndOfText(text)) {
      console.Diagnose(where +
                       " holds the byte 26, which ends the text file for "
                       "packing: nothing after it is read back");
    }
  }
}

// Whether CheckBlock has anything to say about a block.
bool WorthChecking(const DecodedBlock& decoded, const Alphabet* alphabet) {
  return decoded.StringsDecoded() < static_cast<size_t>(decoded.string_count) ||
         (!alphabet &&
          (HoldsCrLf(decoded.text) || HoldsEndOfText(decoded.text)));
}

// Blocks `first` to `end` - 1, decoded and laid out ahead of the writing.
// Its buffers are kept from run to run.
struct LaidOutRun {
  size_t first = 0;
  size_t end = 0;
  std::string text;  // their sections
  // The blocks that CheckBlock has something to say about, in order.
  std::vector<std::pair<size_t, DecodedBlock>> noted;

  void Start(size_t block) {
    first = end = block;
    text.clear();
    noted.clear();
  }
};

// What one run holds at most, sections and noted blocks together (and one
// block more): the rest of its blocks wait for the next.
constexpr size_t kRunBytes = size_t{4} << 20;

// Decodes and lays out the blocks from run->end on, up to `stop`, until the
// run holds kRunBytes.
void LayOut(const LoadedPak& pak, const BlockDecoder& decoder,
            StringEndMemo* memo, size_t stop, const Alphabet* alphabet,
            LaidOutRun* run) {
  size_t noted_bytes = 0;
  while (run->end < stop && run->text.size() + noted_bytes < kRunBytes) {
    const size_t block = run->end++;
    DecodedBlock decoded =
        ExtractBlock(pak, decoder, block, memo, &run->text, alphabet);
    if (!WorthChecking(decoded, alphabet)) continue;
    // Damaged blocks may decode nothing yet keep room for many strings.
    noted_bytes += decoded.text.capacity() +
                   decoded.ends.capacity() * sizeof(size_t) + sizeof decoded;
    run->noted.emplace_back(block, std::move(decoded));
  }
}

// Where the runs of blocks from `first` on end. The two cores take turns,
// this one with runs of `own_bytes` of the file and the other with runs of
// `ahead_bytes` (this one writes too); a block counts the bytes of the file
// that no block before it covers, and a few more, so that blocks that
// overlap or lie past the end of the file are not all one run's.
std::vector<size_t> RunEnds(const LoadedPak& pak, size_t first,
                            int64_t own_bytes, int64_t ahead_bytes) {
  const int64_t file_length = static_cast<int64_t>(pak.bytes.size());
  constexpr int64_t kPerBlock = 64;
  std::vector<size_t> ends;
  int64_t covered = 0;  // bytes of the file before this end are counted
  int64_t weight = 0;
  for (size_t b = first; b < pak.directory.size(); ++b) {
    const int64_t begin = pak.directory[b].offset;
    const int64_t end = std::min(
        file_length, begin + BlockExtent(pak.directory, file_length, b));
    weight += kPerBlock + std::max<int64_t>(0, end - std::max(begin, covered));
    covered = std::max(covered, end);
    if (weight >= (ends.size() % 2 == 0 ? own_bytes : ahead_bytes) ||
        b + 1 == pak.directory.size()) {
      ends.push_back(b + 1);
      weight = 0;
    }
  }
  return ends;
}

// Why the text of `bytes` through the alphabet would not pack back to them,
// or the empty text.
std::string ReadBackProblem(std::string_view bytes, const Alphabet& alphabet) {
  std::string text, back;
  if (TextReadsBack(bytes, alphabet, &text, &back)) {
    // The reader takes CR LF for one line end, whatever stands around it.
    if (!HoldsCrLf(text)) return "";
    return "it holds CR LF, which the text file reads as one line end (a "
           "character table entry such as 0D=[CR] shows the CR)";
  }
  const size_t at = static_cast<size_t>(
      std::mismatch(bytes.begin(), bytes.end(), back.begin(), back.end())
          .first -
      bytes.begin());
  std::string what = "byte " + HexByte(static_cast<uint8_t>(bytes[at])) +
                     " (character " + std::to_string(at + 1) + ", shown as \"" +
                     alphabet.texts[static_cast<uint8_t>(bytes[at])] + "\")";
  if (at >= back.size()) return what + " would not pack back at all";
  return what + " would pack back as byte " +
         HexByte(static_cast<uint8_t>(back[at])) + " (\"" +
         alphabet.texts[static_cast<uint8_t>(back[at])] + "\")";
}

// Whether every string of blocks `first` to `end` - 1 packs back to its own
// bytes through the alphabet. Those that would not (a text of a character
// table standing in a string literally, combining marks that the composed
// form joins or reorders, CR LF) are named, and the run fails: a text file
// that packs back as other bytes is not written at all.
bool EveryStringReadsBack(size_t first, size_t end, const LoadedPak& pak,
                          const BlockDecoder& decoder, const Alphabet& alphabet,
                          Console& console) {
  int64_t refused = 0;
  StringEndMemo memo(static_cast<int64_t>(pak.bytes.size()));
  for (size_t block = first; block < end; ++block) {
    const DecodedBlock decoded = DecodePakBlock(pak, decoder, block, &memo);
    for (size_t k = 0; k < decoded.StringsDecoded(); ++k) {
      const std::string why = ReadBackProblem(decoded.String(k), alphabet);
      if (why.empty() || ++refused > 20) continue;
      console.Diagnose("block " + std::to_string(block) + ", string " +
                       std::to_string(k) + " cannot be shown with " +
                       alphabet.name + ": " + why);
    }
  }
  if (refused == 0) return true;
  console.failure = true;
  console.Diagnose("txtfile not written: " + std::to_string(refused) +
                   (refused == 1 ? " string" : " strings") +
                   " would not pack back to the pakfile's bytes with " +
                   alphabet.name);
  return false;
}

// Whether the blocks from `first` on lie each wholly inside the file or
// wholly past its end, so that no two of them decode the same bytes.
bool BlocksLieApart(const LoadedPak& pak, size_t first) {
  const int64_t file_length = static_cast<int64_t>(pak.bytes.size());
  for (size_t b = first; b < pak.directory.size(); ++b) {
    const int64_t begin = pak.directory[b].offset;
    if (begin < file_length &&
        begin + BlockExtent(pak.directory, file_length, b) > file_length) {
      return false;
    }
  }
  return true;
}

// Writes the file header and the sections of blocks `first` to B - 1, one dot
// per block. With `first` at B the header stands alone and counts none. The
// text file is replaced all at once, so that a run that fails or is stopped
// leaves the old one (or none) in its place. Both cores decode and lay out
// runs of blocks, taking turns, while this one writes them in order (where no
// thread can be started, this one does it all). Each core has its own memo.
// The output is the same either way.
void ExtractFrom(int64_t first, const std::string& pakfile,
                 const std::string& txtfile, const LoadedPak& pak,
                 FileSystem& files, const RunOptions& options,
                 Console& console) {
  if (!MayWriteTextFile(files, txtfile, /*appending=*/false, options,
                        console)) {
    return;
  }
  const BlockDecoder decoder(pak.tree);
  const Alphabet* alphabet = options.alphabet;
  if (alphabet &&
      !EveryStringReadsBack(static_cast<size_t>(first), pak.directory.size(),
                            pak, decoder, *alphabet, console)) {
    return;
  }
  WholeFileOutput file;
  std::string why;
  if (!file.Open(files, txtfile, options.in_place, &why)) {
    console.PrintError(kCannotWrite);
    console.Diagnose("cannot write txtfile '" + txtfile + "': " + why +
                     (file.refused_in_place() ? kInPlaceHint : ""));
    return;
  }
  {
    std::string header;
    AppendFileHeader(pakfile, pak.header.node_count,
                     pak.header.block_count - first, &header);
    file.Write(header);
  }
  // Runs of a fiftieth of the file or so, short enough that both cores are
  // busy soon and long enough that a thread per run costs little. The other
  // core's runs are twice as long: this one writes both.
  const int64_t own_bytes =
      std::clamp<int64_t>(static_cast<int64_t>(pak.bytes.size()) / 48,
                          int64_t{16} << 10, int64_t{512} << 10);
  const std::vector<size_t> ends =
      RunEnds(pak, static_cast<size_t>(first), own_bytes, 2 * own_bytes);
  auto run_start = [&](size_t r) {
    return r == 0 ? static_cast<size_t>(first) : ends[r - 1];
  };
  const int64_t file_size = static_cast<int64_t>(pak.bytes.size());
  StringEndMemo memo(file_size), ahead_memo(file_size);
  LaidOutRun own, ahead_runs[2];
  // Writes run r, laying out here what it had no room for.
  auto write = [&](LaidOutRun* run, size_t r) {
    while (true) {
      auto noted = run->noted.begin();
      for (size_t block = run->first; block < run->end; ++block) {
        console.Print(".");
        if (noted != run->noted.end() && noted->first == block) {
          CheckBlock(block, pak, noted->second, alphabet, console);
          ++noted;
        }
      }
      file.Write(run->text);
      if (run->end == ends[r]) return;
      run->Start(run->end);
      LayOut(pak, decoder, &memo, ends[r], alphabet, run);
    }
  };
  // Where blocks run past the end of the file, many of them may walk the
  // same long strings, which a memo learns once: the other core then decodes
  // every run, one after another, and this one only writes.
  const bool apart = BlocksLieApart(pak, static_cast<size_t>(first));
  const size_t step = apart ? 2 : 1;  // from one run of the other core's on
  std::future<void> ahead;            // waited for before the runs and memos go
  auto start_ahead = [&](size_t r) {
    if (r >= ends.size()) return;
    LaidOutRun* run = &ahead_runs[(r / step) % 2];
    run->Start(run_start(r));
    ahead = std::async(std::launch::async | std::launch::deferred,
                       [&, run, stop = ends[r]] {
                         LayOut(pak, decoder, &ahead_memo, stop, alphabet, run);
                       });
  };
  start_ahead(step - 1);
  for (size_t r = 0; r < ends.size(); ++r) {
    if (apart && r % 2 == 0) {
      own.Start(run_start(r));
      LayOut(pak, decoder, &memo, ends[r], alphabet, &own);
      write(&own, r);
      continue;
    }
    ahead.get();
    LaidOutRun* run = &ahead_runs[(r / step) % 2];
    start_ahead(r + step);
    write(run, r);
  }
  // A write that failed on the way is reported where "Ok.." would stand.
  switch (file.Finish(&why)) {
    case Replaced::kYes:
      console.PrintLine("Ok..");
      return;
    case Replaced::kDamaged:
      console.PrintError(kCannotWrite);
      console.Diagnose(why);
      return;
    default:
      console.PrintError(kCannotWrite);
      console.Diagnose(why + "; txtfile '" + txtfile + "' is as it was");
  }
}

}  // namespace

void ExtractAll(const std::string& pakfile, const std::string& txtfile,
                const LoadedPak& pak, FileSystem& files,
                const RunOptions& options, Console& console) {
  ExtractFrom(0, pakfile, txtfile, pak, files, options, console);
}

void ExtractOne(const std::string&, const std::string& txtfile,
                int32_t block_nr, const LoadedPak& pak, FileSystem& files,
                const RunOptions& options, Console& console) {
  if (block_nr < 0 || static_cast<size_t>(block_nr) >= pak.directory.size()) {
    console.PrintError(kBlockNotExist);
    console.Diagnose("block " + std::to_string(block_nr) +
                     " is not in the pakfile, which has blocks 0 to " +
                     std::to_string(pak.directory.size() - 1));
    return;
  }
  if (!MayWriteTextFile(files, txtfile, /*appending=*/true, options, console)) {
    return;
  }
  const size_t block = static_cast<size_t>(block_nr);
  const BlockDecoder decoder(pak.tree);
  if (options.alphabet && !EveryStringReadsBack(block, block + 1, pak, decoder,
                                                *options.alphabet, console)) {
    return;
  }
  OutputFile file;
  if (!OpenTextFile(files, txtfile, /*append=*/true, &file, console)) return;
  std::string text;
  StringEndMemo memo(static_cast<int64_t>(pak.bytes.size()));
  const DecodedBlock decoded =
      ExtractBlock(pak, decoder, block, &memo, &text, options.alphabet);
  CheckBlock(block, pak, decoded, options.alphabet, console);
  WriteOutput(&file, text);
  if (!CloseTextFile(txtfile, &file, console)) console.PrintError(kCannotWrite);
}

void ExtractLast(const std::string& pakfile, const std::string& txtfile,
                 int32_t block_nr, const LoadedPak& pak, FileSystem& files,
                 const RunOptions& options, Console& console) {
  // Rows outside the directory do not exist; counting them would make the
  // header promise more sections, or fewer than none.
  const size_t blocks = pak.directory.size();
  if (block_nr < 0 || static_cast<size_t>(block_nr) > blocks) {
    console.PrintError(kBlockNotExist);
    console.Diagnose("/L needs a block nr from 0 to " + std::to_string(blocks) +
                     " (the block count), not " + std::to_string(block_nr));
    return;
  }
  ExtractFrom(block_nr, pakfile, txtfile, pak, files, options, console);
}

}  // namespace vorlex::core
