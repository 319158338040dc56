#include "driver/startup.h"

#include <optional>

#include "base/charset.h"
#include "base/file_io.h"
#include "driver/command_line.h"
#include "driver/options.h"
#include "extract/extract_commands.h"
#include "extract/pak_report.h"
#include "pack/pack_commands.h"
#include "pak/pak.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

void RunCommand(const CommandLine& command, LoadedPak& pak, FileSystem& files,
                const RunOptions& options, Console& console) {
  const std::string& pakfile = command.pakfile;
  const std::string& txtfile = command.txtfile;
  const int32_t block_nr = command.block_nr;
  switch (command.mode) {
    case CommandMode::kExtractAll:
      ExtractAll(pakfile, txtfile, pak, files, options, console);
      break;
    case CommandMode::kExtractOne:
      ExtractOne(pakfile, txtfile, block_nr, pak, files, options, console);
      break;
    case CommandMode::kExtractLast:
      ExtractLast(pakfile, txtfile, block_nr, pak, files, options, console);
      break;
    case CommandMode::kPak:
      RebuildPak(pakfile, txtfile, pak, files, options, console);
      break;
    case CommandMode::kReplaceLast:
      ReplaceLastBlocks(pakfile, txtfile, pak, files, options, console);
      break;
    case CommandMode::kAddBlock:
      AddBlock(pakfile, txtfile, pak, files, options, console);
      break;
  }
}

constexpr std::string_view kDryRunLine =
    "Dry run: nothing was written, the pakfile is as it was.\n";

// The switch as the user gave it, for messages.
std::string_view SwitchName(CommandMode mode) {
  switch (mode) {
    case CommandMode::kExtractAll:
      return "/E";
    case CommandMode::kExtractOne:
      return "/E with a block nr";
    case CommandMode::kExtractLast:
      return "/L";
    case CommandMode::kPak:
      return "/P";
    case CommandMode::kReplaceLast:
      return "/R";
    case CommandMode::kAddBlock:
      return "/A";
  }
  return "";
}

// An option that was not understood: standard error, and the usage status.
int OptionError(const std::string& message, Console& console) {
  console.Diagnose(message + " (vorlex --help lists the options)");
  return kExitUsage;
}

// Makes *alphabet from --charset and --table when either is given. Returns
// kExitOk when the run goes on, else its exit status after telling why: a
// code page that cannot be used is a command-line error, a character table
// that cannot, an error in a file.
int ChooseAlphabet(const RunOptions& run, FileSystem& files, Console& console,
                   std::optional<Alphabet>* alphabet) {
  if (run.charset.empty() && run.table.empty()) return kExitOk;
  std::string problem;
  if (!run.charset.empty() && !CodePageTexts(run.charset, &problem)) {
    return OptionError("--charset: " + problem, console);
  }
  std::string contents;
  if (!run.table.empty()) {
    // A table is a few hundred lines; a megabyte is more than any.
    std::string why;
    std::optional<std::string> read =
        ReadRegularFile(files, run.table, uint64_t{1} << 20, &why);
    if (!read) {
      console.Diagnose("cannot read the character table '" + run.table +
                       "': " + why);
      return kExitFailure;
    }
    contents = std::move(*read);
  }
  *alphabet = MakeAlphabet(run.charset, run.table, contents, &problem);
  if (*alphabet) return kExitOk;
  console.Diagnose(problem);
  return kExitFailure;
}

// --info: the report on the one pakfile named.
int ReportPakfile(const OptionReading& options, FileSystem& files,
                  Console& console) {
  if (options.positional.size() != 1) {
    return OptionError("--info takes one pakfile and nothing else", console);
  }
  const std::string misfit = CheckOptionsFit(options, kInfoRun, "--info");
  if (!misfit.empty()) return OptionError(misfit, console);
  std::optional<Alphabet> alphabet;
  if (const int status = ChooseAlphabet(options.run, files, console, &alphabet);
      status != kExitOk) {
    return status;
  }
  const std::string& pakfile = options.positional[0];
  std::string why;
  std::optional<std::string> bytes =
      ReadRegularFile(files, pakfile, kMaxPakfileSize, &why);
  if (!bytes) {
    console.Diagnose("cannot read pakfile '" + pakfile + "': " + why);
    return kExitFailure;
  }
  console.out(
      PakReport(LoadPak(std::move(*bytes)), alphabet ? &*alphabet : nullptr));
  return kExitOk;
}

bool IsPacking(CommandMode mode) {
  return mode == CommandMode::kPak || mode == CommandMode::kReplaceLast ||
         mode == CommandMode::kAddBlock;
}

}  // namespace

int RunVorlex(const std::vector<std::string>& args, FileSystem& files,
              Console& console) {
  const OptionReading options = ReadOptions(args);
  if (!options.error.empty()) return OptionError(options.error, console);
  if (options.request == Request::kHelp) {
    console.out(HelpText());
    return kExitOk;
  }
  if (options.request == Request::kVersion) {
    console.out(VersionText());
    return kExitOk;
  }
  if (options.request == Request::kInfo) {
    return ReportPakfile(options, files, console);
  }
  // With an option the arguments are taken whole, as the shell passed them;
  // without one they are the command tail split at blanks.
  const ParsedCommand parsed = ParseCommand(
      options.modern ? options.positional : SplitCommandTail(args));
  if (!parsed.ok) {
    console.out(parsed.message);
    return parsed.exit_status;
  }
  const CommandLine& command = parsed.command;
  const std::string misfit =
      CheckOptionsFit(options, ModeBit(command.mode), SwitchName(command.mode));
  if (!misfit.empty()) return OptionError(misfit, console);
  console.quiet = options.run.quiet;
  // A dry run's last line says that nothing was written, whatever ended it.
  struct DryRunLine {
    Console& console;
    bool dry_run;
    ~DryRunLine() {
      if (dry_run) console.Print(kDryRunLine);
    }
  } dry_run_line{console, options.run.dry_run};
  RunOptions run = options.run;
  std::optional<Alphabet> alphabet;
  if (const int status = ChooseAlphabet(run, files, console, &alphabet);
      status != kExitOk) {
    return status;
  }
  if (alphabet) run.alphabet = &*alphabet;

  // Writing the text file over the pakfile would destroy the very data being
  // read, so the pair is refused before either file is opened.
  if (SameFile(command.pakfile, command.txtfile)) {
    console.PrintError("Error: txtfile is the pakfile!");
    console.Diagnose("'" + command.txtfile + "' and '" + command.pakfile +
                     "' are the same file");
    return kExitFailure;
  }

  // The pakfile is read once, whole; a file that cannot be read, or is not
  // a regular file, counts as empty and is never created. A packing command
  // locks it from here to the end of the run, so that two runs that change
  // it take turns instead of one undoing the other's change.
  OpenFile pakfile;
  std::string bytes, why;
  if (!OpenRegularFile(files, command.pakfile, kMaxPakfileSize, &pakfile,
                       &why)) {
    console.Diagnose("cannot read pakfile '" + command.pakfile + "': " + why);
  } else if (IsPacking(command.mode) &&
             !LockExclusively(files, command.pakfile, kMaxPakfileSize,
                              kLockWaitMs, &pakfile, &why)) {
    console.PrintError(" Error: Pakfile not changed!");
    console.Diagnose("'" + command.pakfile + "' not changed: " + why);
    return kExitFailure;
  } else if (!ReadRest(files, pakfile.fd(), &bytes, &why)) {
    console.Diagnose("cannot read pakfile '" + command.pakfile + "': " + why);
  }
  LoadedPak pak = LoadPak(std::move(bytes));
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

  RunCommand(command, pak, files, run, console);
  return console.error_reported || console.failure ? kExitFailure : kExitOk;
}

}  // namespace vorlex::core
