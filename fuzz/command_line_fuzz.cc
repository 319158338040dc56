// Arguments (the input split at its 0 bytes) through ParseCommand and
// ReadOptions, each held against a model of its rule here, and every
// argument through NumericValue (never NaN; its values are held to a table
// in the unit tests) and RoundToInteger (to the nearest, ties to even,
// saturating).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "base/numbers.h"
#include "driver/command_line.h"
#include "driver/options.h"
#include "fuzz_check.h"

namespace vorlex::core::fuzz {
namespace {

void CheckNumber(std::string_view text) {
  const double value = NumericValue(text);
  FUZZ_REQUIRE(!std::isnan(value), "NumericValue gives NaN for " + Hex(text));
  const int32_t rounded = RoundToInteger(value);
  if (value >= 2147483647.0) {
    FUZZ_REQUIRE(rounded == std::numeric_limits<int32_t>::max(),
                 "no saturation");
  } else if (value <= -2147483648.0) {
    FUZZ_REQUIRE(rounded == std::numeric_limits<int32_t>::min(),
                 "no saturation");
  } else {
    const double off = std::fabs(value - rounded);
    FUZZ_REQUIRE(off < 0.5 || (off == 0.5 && rounded % 2 == 0),
                 "RoundToInteger(" + std::to_string(value) + ") is " +
                     std::to_string(rounded));
  }
}

void CheckCommand(const std::vector<std::string>& arguments) {
  const ParsedCommand parsed = ParseCommand(arguments);
  if (arguments.size() < 3) {
    FUZZ_REQUIRE(!parsed.ok && parsed.message == UsageText(), "no usage text");
    FUZZ_REQUIRE(parsed.exit_status == (arguments.empty() ? 0 : 2),
                 "usage status");
    return;
  }
  const std::string command = UpperAscii(arguments[2]);
  const bool known = command == "/E" || command == "/P" || command == "/R" ||
                     command == "/L" || command == "/A";
  if (!parsed.ok) {
    FUZZ_REQUIRE(parsed.exit_status == 2, "a refused command's status");
    FUZZ_REQUIRE(
        parsed.message.size() >= 2 &&
            parsed.message.compare(parsed.message.size() - 2, 2, "\r\n") == 0,
        "a message without its line end");
    FUZZ_REQUIRE(!known || (command == "/L" && arguments.size() == 3),
                 "a known command refused");
    return;
  }
  FUZZ_REQUIRE(known, "an unknown command chosen: " + Hex(arguments[2]));
  const CommandLine& line = parsed.command;
  FUZZ_REQUIRE(line.pakfile == arguments[0] && line.txtfile == arguments[1],
               "the file names");
  const bool numbered = line.mode == CommandMode::kExtractOne ||
                        line.mode == CommandMode::kExtractLast;
  FUZZ_REQUIRE(numbered == ((command == "/E" || command == "/L") &&
                            arguments.size() >= 4),
               "the block number's presence");
  FUZZ_REQUIRE(line.block_nr ==
                   (numbered ? RoundToInteger(NumericValue(arguments[3])) : 0),
               "the block number");
}

// Whether `arg` names, in full or by an unambiguous abbreviation, a long
// option that needs a value and does not carry it after a "=".
bool TakesNextArgument(std::string_view arg) {
  static constexpr std::string_view kLongNames[] = {
      "help",    "version",  "info",    "force", "dry-run", "quiet",
      "compact", "in-place", "charset", "table", "new-tree"};
  if (!arg.starts_with("--") || arg.find('=') != std::string_view::npos) {
    return false;
  }
  const std::string_view name = arg.substr(2);
  std::string_view match;
  int matches = 0;
  for (std::string_view candidate : kLongNames) {
    if (candidate == name) return name == "charset" || name == "table";
    if (candidate.starts_with(name)) match = candidate, ++matches;
  }
  return matches == 1 && (match == "charset" || match == "table");
}

// The options read against a model of the rule: the arguments before the
// first lone "--" that are not options, then every argument after it.
void CheckOptions(const std::vector<std::string>& args) {
  const OptionReading reading = ReadOptions(args);
  std::vector<std::string> positional;
  bool modern = false, ended = false;
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (!ended && arg == "--") {
      ended = modern = true;
    } else if (!ended && IsOption(arg)) {
      modern = true;
      // "--table FILE": an option that needs a value takes the next argument.
      // A lone "--" after it is refused as a value.
      if (TakesNextArgument(arg) && k + 1 < args.size() && args[k + 1] != "--")
        ++k;
    } else {
      positional.push_back(arg);
    }
  }
  FUZZ_REQUIRE(reading.modern == modern, "the reading chosen");
  if (!modern) {
    FUZZ_REQUIRE(reading.positional.empty() && reading.error.empty(),
                 "a classic reading with options read");
    return;
  }
  if (!reading.error.empty()) return;
  FUZZ_REQUIRE(reading.positional == positional, "the positional arguments");
  for (const std::string& arg : positional) {
    FUZZ_REQUIRE(!arg.empty(), "an empty positional argument kept");
  }
}

}  // namespace
}  // namespace vorlex::core::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlex::core;
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  std::vector<std::string> args;
  size_t begin = 0;
  while (true) {
    const size_t end = input.find('\0', begin);
    args.emplace_back(input.substr(begin, end - begin));
    if (end == std::string_view::npos) break;
    begin = end + 1;
  }

  fuzz::CheckCommand(SplitCommandTail(args));
  fuzz::CheckOptions(args);

  fuzz::CheckNumber(input);
  for (const std::string& arg : args) fuzz::CheckNumber(arg);
  return 0;
}
