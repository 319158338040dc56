// Arguments (the input split at its 0 bytes) through ParseCommand, through
// ReadOptions held against a model of its rule here, and through
// NumericValue.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/numbers.h"
#include "driver/command_line.h"
#include "driver/options.h"
#include "fuzz_check.h"

namespace vorlex::core::fuzz {
namespace {

// Whether `arg` names, in full or by an unambiguous abbreviation, a long
// option that takes the next argument as its value (one that does not carry
// it after a "=").
bool TakesNextArgument(std::string_view arg) {
  // No name is the start of another; the first two take a value.
  static constexpr std::string_view kLongNames[] = {
      "charset", "table", "help",    "version",  "info",    "force",
      "dry-run", "quiet", "compact", "in-place", "new-tree"};
  const auto abbreviates = [arg](std::string_view name) {
    return name.starts_with(arg.substr(2));
  };
  return arg.starts_with("--") && arg.find('=') == std::string_view::npos &&
         std::ranges::count_if(kLongNames, abbreviates) == 1 &&
         std::ranges::find_if(kLongNames, abbreviates) < kLongNames + 2;
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
  } else if (reading.error.empty()) {
    FUZZ_REQUIRE(reading.positional == positional &&
                     std::ranges::count(positional, "") == 0,
                 "the positional arguments, none of them empty");
  }
}

}  // namespace
}  // namespace vorlex::core::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlex::core;
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  std::vector<std::string> args;
  for (size_t begin = 0, end = 0; end != std::string_view::npos;
       begin = end + 1) {
    end = input.find('\0', begin);
    args.emplace_back(input.substr(begin, end - begin));
  }

  // ParseCommand's rules are held to a table in the unit tests; here, any
  // arguments give a command or a message that ends its line.
  const ParsedCommand parsed = ParseCommand(SplitCommandTail(args));
  FUZZ_REQUIRE(parsed.ok || parsed.message.ends_with("\r\n"),
               "a message without its line end");
  fuzz::CheckOptions(args);

  // The unit tests hold the values to tables; here, none is NaN.
  FUZZ_REQUIRE(!std::isnan(NumericValue(input)), "NaN for " + fuzz::Hex(input));
  for (const std::string& arg : args) {
    FUZZ_REQUIRE(!std::isnan(NumericValue(arg)), "NaN for " + fuzz::Hex(arg));
  }
  return 0;
}
