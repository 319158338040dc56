// The command line: VORLEX pakfile txtfile [/E] [/P] [/R] [/L] [/A] [block nr]
#ifndef VORLEX_DRIVER_COMMAND_LINE_H_
#define VORLEX_DRIVER_COMMAND_LINE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorlex::core {

enum class CommandMode {
  kExtractAll = 1,
  kExtractOne = 2,
  kPak = 3,
  kReplaceLast = 4,
  kExtractLast = 5,
  kAddBlock = 6,
};

struct CommandLine {
  std::string pakfile;  // argument 1, as typed
  std::string txtfile;  // argument 2, as typed
  CommandMode mode = CommandMode::kExtractAll;
  int32_t block_nr = 0;  // argument 4 for /E and /L, else 0
};

// What ParseCommand makes of the arguments: a command to run, or a message to
// print and an exit status to end with.
struct ParsedCommand {
  bool ok = false;
  CommandLine command;
  std::string message;  // standard output, CR LF line ends included
  int exit_status = 0;
};

// The arguments as the maximal runs of non-blank bytes of the command tail
// (the arguments after the program name, joined with one blank each): only
// the blank separates, a tab is an ordinary byte, an empty argument vanishes.
std::vector<std::string> SplitCommandTail(const std::vector<std::string>& args);

// Chooses the command from the split arguments.
ParsedCommand ParseCommand(const std::vector<std::string>& arguments);

// The usage text, eleven lines ending in CR LF.
std::string UsageText();

}  // namespace vorlex::core

#endif  // VORLEX_DRIVER_COMMAND_LINE_H_
