// The modern reading of the command line: options such as --help, --force or
// --dry-run, and the arguments taken whole as the shell passed them. Without
// any option the classic reading of command_line.h holds unchanged.
#ifndef VORLEX_DRIVER_OPTIONS_H_
#define VORLEX_DRIVER_OPTIONS_H_

#include <string>
#include <string_view>
#include <vector>

#include "base/run_options.h"
#include "driver/command_line.h"

namespace vorlex::core {

// What an option asks for besides a field of RunOptions.
enum class Request { kNone, kHelp, kVersion, kInfo };

// The runs an option applies to: one bit per CommandMode, and one for --info.
constexpr unsigned ModeBit(CommandMode mode) {
  return 1u << static_cast<unsigned>(mode);
}
inline constexpr unsigned kInfoRun = 1u << 7;
inline constexpr unsigned kExtractRuns = ModeBit(CommandMode::kExtractAll) |
                                         ModeBit(CommandMode::kExtractOne) |
                                         ModeBit(CommandMode::kExtractLast);
inline constexpr unsigned kPackRuns = ModeBit(CommandMode::kPak) |
                                      ModeBit(CommandMode::kReplaceLast) |
                                      ModeBit(CommandMode::kAddBlock);
inline constexpr unsigned kEveryRun = kExtractRuns | kPackRuns | kInfoRun;

// One option. A new option is one entry of kOptions (options.cc) and, when it
// changes how a command runs, one field of RunOptions.
struct OptionSpec {
  std::string_view name;  // the long form, without "--"
  char short_name = 0;    // the one-letter form, or 0 for none
  // Set to true when the option is given.
  bool RunOptions::*flag = nullptr;
  // Set to the option's value; such an option needs one (--name=value, or
  // the next argument).
  std::string RunOptions::*value = nullptr;
  Request request = Request::kNone;
  unsigned fits = kEveryRun;         // the runs it may be given to
  std::string_view help;             // one line for --help
  std::string_view value_name = "";  // for --help, with `value`
};

// The command line read in the modern way.
struct OptionReading {
  bool modern = false;  // an option or a lone "--" was given
  RunOptions run;
  Request request = Request::kNone;
  // The options given, as entries of kOptions, for the fit check.
  std::vector<const OptionSpec*> given;
  std::vector<std::string> positional;  // the other arguments, whole
  std::string error;  // a message for standard error; empty when fine
};

// Whether `arg` is an option: it begins with "--", or is exactly one of the
// one-letter forms. "-1" is a negative number, not an option.
bool IsOption(std::string_view arg);

// Reads the options out of `args` (the arguments after the program name),
// wherever they stand before a lone "--"; everything else, and everything
// after that "--", is positional.
OptionReading ReadOptions(const std::vector<std::string>& args);

// An error message when a given option does not fit `run` (ModeBit or
// kInfoRun; `what` names it in the message), else empty.
std::string CheckOptionsFit(const OptionReading& reading, unsigned run,
                            std::string_view what);

// The help text (--help) and the version line (--version), LF line ends.
std::string HelpText();
std::string VersionText();

}  // namespace vorlex::core

#endif  // VORLEX_DRIVER_OPTIONS_H_
