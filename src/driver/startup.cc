#include "driver/startup.h"

#include <optional>

#include "base/file_io.h"
#include "driver/command_line.h"
#include "extract/extract_commands.h"
#include "pack/pack_commands.h"
#include "pak/pak.h"

namespace vorlex::core {
namespace {

void RunCommand(const CommandLine& command, LoadedPak& pak, FileSystem& files,
                Console& console) {
  switch (command.mode) {
    case CommandMode::kExtractAll:
      ExtractAll(command.pakfile, command.txtfile, pak, files, console);
      break;
    case CommandMode::kExtractOne:
      ExtractOne(command.pakfile, command.txtfile, command.block_nr, pak, files,
                 console);
      break;
    case CommandMode::kExtractLast:
      ExtractLast(command.pakfile, command.txtfile, command.block_nr, pak,
                  files, console);
      break;
    case CommandMode::kPak:
      RebuildPak(command.pakfile, command.txtfile, pak, files, console);
      break;
    case CommandMode::kReplaceLast:
      ReplaceLastBlocks(command.pakfile, command.txtfile, pak, files, console);
      break;
    case CommandMode::kAddBlock:
      AddBlock(command.pakfile, command.txtfile, pak, files, console);
      break;
  }
}

}  // namespace

int RunVorlex(const std::vector<std::string>& args, FileSystem& files,
              Console& console) {
  const ParsedCommand parsed = ParseCommand(SplitCommandTail(args));
  if (!parsed.ok) {
    console.Print(parsed.message);
    return parsed.exit_status;
  }
  const CommandLine& command = parsed.command;

  // Writing the text file over the pakfile would destroy the very data being
  // read, so the pair is refused before either file is opened.
  if (SameFile(command.pakfile, command.txtfile)) {
    console.PrintError("Error: txtfile is the pakfile!");
    console.Diagnose("'" + command.txtfile + "' and '" + command.pakfile +
                     "' are the same file");
    return kExitFailure;
  }

  // The pakfile is read once, whole; a file that cannot be read counts as
  // empty and is never created.
  std::optional<std::string> bytes = ReadFileBytes(files, command.pakfile);
  if (!bytes) console.Diagnose("cannot read pakfile '" + command.pakfile + "'");
  LoadedPak pak = LoadPak(bytes ? std::move(*bytes) : std::string());
  if (pak.header.block_count == 0) {
    console.PrintError("Error: No blocks in Pakfile!");
    return kExitFailure;
  }
  for (int32_t node : pak.broken_nodes) {
    console.PrintError("Error in Tree!");
    console.Diagnose("code tree: node " + std::to_string(node) +
                     " has no sound path to the root (node " +
                     std::to_string(pak.header.node_count - 1) + ")");
  }

  RunCommand(command, pak, files, console);
  return console.error_reported || console.failure ? kExitFailure : kExitOk;
}

}  // namespace vorlex::core
