#include "extract/extract_commands.h"

#include <cerrno>
#include <cstring>

#include "base/file_io.h"
#include "extract/extract_block.h"
#include "extract/text_writer.h"

namespace vorlex::core {
namespace {

constexpr std::string_view kCannotWrite = "Error: Cannot write txtfile!";
constexpr std::string_view kBlockNotExist = " Error: Block not Exist!";

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
                Console& console) {
  const std::string name = "block " + std::to_string(block);
  if (decoded.StringsDecoded() < static_cast<size_t>(decoded.string_count)) {
    console.failure = true;
    console.Diagnose(name + " (ID " + std::to_string(pak.directory[block].id) +
                     ") is damaged or cut short: its count is " +
                     std::to_string(decoded.string_count) + " strings, " +
                     std::to_string(decoded.StringsDecoded()) + " decoded");
  }
  // A terminator ends every string, so no CR LF spans two of them.
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

// Writes the file header and the sections of blocks `first` to B - 1, one dot
// per block. With `first` at or beyond B the header stands alone and counts
// B - first sections.
void ExtractFrom(int64_t first, const std::string& pakfile,
                 const std::string& txtfile, const LoadedPak& pak,
                 FileSystem& files, const RunOptions&, Console& console) {
  OutputFile file;
  if (!OpenTextFile(files, txtfile, /*append=*/false, &file, console)) return;
  std::string text;
  AppendFileHeader(pakfile, pak.header.node_count,
                   pak.header.block_count - first, &text);
  const BlockDecoder decoder(pak.tree);
  for (size_t block = static_cast<size_t>(first); block < pak.directory.size();
       ++block) {
    console.Print(".");
    const DecodedBlock decoded = ExtractBlock(pak, decoder, block, &text);
    CheckBlock(block, pak, decoded, console);
    WriteOutput(&file, text);
    text.clear();
  }
  WriteOutput(&file, text);
  // A write that failed on the way is reported where "Ok.." would stand.
  if (!CloseTextFile(txtfile, &file, console)) {
    console.PrintError(kCannotWrite);
    return;
  }
  console.PrintLine("Ok..");
}

}  // namespace

void ExtractAll(const std::string& pakfile, const std::string& txtfile,
                const LoadedPak& pak, FileSystem& files,
                const RunOptions& options, Console& console) {
  ExtractFrom(0, pakfile, txtfile, pak, files, options, console);
}

void ExtractOne(const std::string&, const std::string& txtfile,
                int32_t block_nr, const LoadedPak& pak, FileSystem& files,
                const RunOptions&, Console& console) {
  if (block_nr < 0 || static_cast<size_t>(block_nr) >= pak.directory.size()) {
    console.PrintError(kBlockNotExist);
    console.Diagnose("block " + std::to_string(block_nr) +
                     " is not in the pakfile, which has blocks 0 to " +
                     std::to_string(pak.directory.size() - 1));
    return;
  }
  const size_t block = static_cast<size_t>(block_nr);
  OutputFile file;
  if (!OpenTextFile(files, txtfile, /*append=*/true, &file, console)) return;
  std::string text;
  const DecodedBlock decoded =
      ExtractBlock(pak, BlockDecoder(pak.tree), block, &text);
  CheckBlock(block, pak, decoded, console);
  WriteOutput(&file, text);
  if (!CloseTextFile(txtfile, &file, console)) console.PrintError(kCannotWrite);
}

void ExtractLast(const std::string& pakfile, const std::string& txtfile,
                 int32_t block_nr, const LoadedPak& pak, FileSystem& files,
                 const RunOptions& options, Console& console) {
  // Rows before the first block do not exist; counting them would make the
  // header promise more sections than follow.
  if (block_nr < 0) {
    console.PrintError(kBlockNotExist);
    console.Diagnose("/L needs a block nr of 0 or more, not " +
                     std::to_string(block_nr));
    return;
  }
  ExtractFrom(block_nr, pakfile, txtfile, pak, files, options, console);
}

}  // namespace vorlex::core
