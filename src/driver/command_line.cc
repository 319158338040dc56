#include "driver/command_line.h"

#include "base/console.h"
#include "base/exit_status.h"
#include "base/numbers.h"

namespace vorlex::core {
namespace {

constexpr std::string_view kBanner =
    "Vorlex V1.22   strings out of pakfiles and back, byte for byte";

}  // namespace

std::vector<std::string> SplitCommandTail(
    const std::vector<std::string>& args) {
  std::vector<std::string> arguments;
  for (const std::string& arg : args) {
    size_t i = 0;
    while (i < arg.size()) {
      while (i < arg.size() && arg[i] == ' ') ++i;
      const size_t start = i;
      while (i < arg.size() && arg[i] != ' ') ++i;
      if (i > start) arguments.push_back(arg.substr(start, i - start));
    }
  }
  return arguments;
}

std::string UsageText() {
  std::string text;
  for (std::string_view line :
       {std::string_view(), kBanner, std::string_view(),
        std::string_view(
            "VORLEX pakfile txtfile [/E] [/P] [/R] [/L] [/A] [block nr]"),
        std::string_view(), std::string_view(" /E  Extract"),
        std::string_view(" /P  Pak  (pakfile: must be an existing pakfile)"),
        std::string_view(" /R  Replace Last Block(s)"),
        std::string_view(
            " /L  Extract Last Block(s)  (block nr: specifies first block)"),
        std::string_view(" /A  Add a Block"), std::string_view()}) {
    text.append(line);
    text.append(kLineEnd);
  }
  return text;
}

ParsedCommand ParseCommand(const std::vector<std::string>& arguments) {
  ParsedCommand parsed;
  if (arguments.size() < 3) {
    parsed.message = UsageText();
    // The usage text is the answer to no arguments at all; to one or two it
    // is a complaint.
    parsed.exit_status = arguments.empty() ? kExitOk : kExitUsage;
    return parsed;
  }
  CommandLine& command = parsed.command;
  command.pakfile = arguments[0];
  command.txtfile = arguments[1];
  const std::string a_switch = UpperAscii(arguments[2]);
  const bool has_block_nr = arguments.size() >= 4;
  if (a_switch == "/E") {
    command.mode =
        has_block_nr ? CommandMode::kExtractOne : CommandMode::kExtractAll;
  } else if (a_switch == "/P") {
    command.mode = CommandMode::kPak;
  } else if (a_switch == "/R") {
    command.mode = CommandMode::kReplaceLast;
  } else if (a_switch == "/L") {
    if (!has_block_nr) {
      parsed.message =
          std::string("Error: First Block Must be specified!").append(kLineEnd);
      parsed.exit_status = kExitUsage;
      return parsed;
    }
    command.mode = CommandMode::kExtractLast;
  } else if (a_switch == "/A") {
    command.mode = CommandMode::kAddBlock;
  } else {
    parsed.message = "Error: Unknown Command: " + arguments[2];
    parsed.message.append(kLineEnd);
    parsed.exit_status = kExitUsage;
    return parsed;
  }
  if (command.mode == CommandMode::kExtractOne ||
      command.mode == CommandMode::kExtractLast) {
    command.block_nr = RoundToInteger(NumericValue(arguments[3]));
  }
  parsed.ok = true;
  return parsed;
}

}  // namespace vorlex::core
