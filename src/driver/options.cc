#include "driver/options.h"

#include <getopt.h>

#include <algorithm>

namespace vorlex::core {
namespace {

// clang-format off
constexpr OptionSpec kOptions[] = {
    {.name = "help", .short_name = 'h', .request = Request::kHelp,
     .help = "show this help and exit"},
    {.name = "version", .short_name = 'V', .request = Request::kVersion,
     .help = "show the version and exit"},
    {.name = "info", .request = Request::kInfo, .fits = kInfoRun,
     .help = "report what a pakfile holds: vorlex --info pakfile"},
    {.name = "force", .short_name = 'f', .flag = &RunOptions::force,
     .fits = kExtractRuns,
     .help = "/E, /L: write a txtfile that is not a Vorlex text file"},
    {.name = "dry-run", .short_name = 'n', .flag = &RunOptions::dry_run,
     .fits = kPackRuns,
     .help = "/P, /R, /A: check and report everything, write nothing"},
    {.name = "quiet", .short_name = 'q', .flag = &RunOptions::quiet,
     .fits = kExtractRuns | kPackRuns,
     .help = "no progress, no success messages; errors still shown"},
    {.name = "compact", .flag = &RunOptions::compact,
     .fits = ModeBit(CommandMode::kPak),
     .help = "/P: end the pakfile where its last block ends"},
    {.name = "in-place", .flag = &RunOptions::in_place,
     .fits = kPackRuns | ModeBit(CommandMode::kExtractAll) |
             ModeBit(CommandMode::kExtractLast),
     .help = "/E, /L, /P, /R, /A: overwrite where no temporary file fits"},
    {.name = "charset", .value = &RunOptions::charset,
     .help = "the strings' code page (CP1252, latin2...): text is UTF-8",
     .value_name = "NAME"},
    {.name = "table", .value = &RunOptions::table,
     .help = "a character table (XX=text lines) over --charset",
     .value_name = "FILE"},
    {.name = "new-tree", .flag = &RunOptions::new_tree,
     .fits = ModeBit(CommandMode::kPak),
     .help = "/P: a new code tree that holds the text's characters"},
};
// clang-format on

// Stands in for a positional argument that getopt_long would otherwise take
// for an option ("-1", "-x"); the real argument is found by its index.
char kPositionalStandIn[] = "positional";

const OptionSpec* ByShortName(int c) {
  for (const OptionSpec& entry : kOptions) {
    if (entry.short_name != 0 && entry.short_name == c) return &entry;
  }
  return nullptr;
}

// Whether `arg` abbreviates more than one long option.
bool Ambiguous(std::string_view arg) {
  const std::string_view name = arg.substr(2, arg.find('=') - 2);
  int matches = 0;
  for (const OptionSpec& entry : kOptions)
    matches += entry.name.starts_with(name);
  return matches > 1;
}

}  // namespace

bool IsOption(std::string_view arg) {
  if (arg.starts_with("--")) return arg.size() > 2;
  return arg.size() == 2 && arg[0] == '-' && ByShortName(arg[1]) != nullptr;
}

OptionReading ReadOptions(const std::vector<std::string>& args) {
  OptionReading reading;
  // The arguments as getopt_long sees them: only options begin with '-'.
  std::vector<std::string> copies(args);
  std::vector<char*> argv = {const_cast<char*>("vorlex")};
  bool ended = false;
  for (std::string& arg : copies) {
    if (!ended && arg == "--") {
      ended = reading.modern = true;
    } else if (!ended && IsOption(arg)) {
      reading.modern = true;
    } else if (arg.starts_with("-")) {
      argv.push_back(kPositionalStandIn);
      continue;
    }
    argv.push_back(arg.data());
  }
  if (!reading.modern) return reading;
  argv.push_back(nullptr);

  // "-": every positional argument comes back in order as option 1; ":":
  // a missing value is told apart from an unknown option.
  std::string short_forms = "-:";
  std::vector<option> long_forms;
  for (const OptionSpec& entry : kOptions) {
    const int has_arg = entry.value ? required_argument : no_argument;
    if (entry.short_name != 0) {
      short_forms.push_back(entry.short_name);
      if (entry.value) short_forms.push_back(':');
    }
    long_forms.push_back({entry.name.data(), has_arg, nullptr,
                          0x100 + static_cast<int>(&entry - kOptions)});
  }
  long_forms.push_back({});

  const int argc = static_cast<int>(argv.size()) - 1;
  optind = 0;  // starts glibc's reading afresh
  opterr = 0;  // errors are reported here, not printed by getopt_long
  int c;
  while ((c = getopt_long(argc, argv.data(), short_forms.c_str(),
                          long_forms.data(), nullptr)) != -1) {
    // The argument just read (argv[0] is the program's name).
    const std::string& arg = args[static_cast<size_t>(optind - 2)];
    const OptionSpec* entry =
        c >= 0x100 ? &kOptions[c - 0x100] : ByShortName(c);
    if (c == 1) {
      reading.positional.push_back(arg);
    } else if (c == ':') {
      reading.error = "option '" + arg + "' needs a value";
    } else if (c == '?') {
      reading.error = optopt != 0      ? "option '" + arg + "' takes no value"
                      : Ambiguous(arg) ? "ambiguous option '" + arg + "'"
                                       : "unknown option '" + arg + "'";
    } else if (entry != nullptr && entry->value && optarg == argv[optind - 1] &&
               std::string_view(optarg) == "--") {
      // A lone "--" ends the options; it is never taken for a value.
      reading.error =
          "option '--" + std::string(entry->name) + "' needs a value";
    } else if (entry != nullptr) {
      if (entry->flag) reading.run.*entry->flag = true;
      if (entry->value) {
        // optarg is the stand-in when the value began with '-'.
        reading.run.*entry->value = optarg == kPositionalStandIn ? arg : optarg;
      }
      if (entry->request != Request::kNone && reading.request == Request::kNone)
        reading.request = entry->request;
      reading.given.push_back(entry);
    }
    if (!reading.error.empty()) return reading;
  }
  for (size_t k = static_cast<size_t>(optind - 1); k < args.size(); ++k) {
    reading.positional.push_back(args[k]);
  }
  for (const std::string& arg : reading.positional) {
    if (arg.empty()) {
      reading.error = "an empty argument names no file, switch or number";
      break;
    }
  }
  return reading;
}

std::string CheckOptionsFit(const OptionReading& reading, unsigned run,
                            std::string_view what) {
  for (const OptionSpec* entry : reading.given) {
    if ((entry->fits & run) == 0) {
      return "option '--" + std::string(entry->name) + "' does not fit " +
             std::string(what);
    }
  }
  return "";
}

std::string HelpText() {
  std::string text =
      "Usage: vorlex [options] pakfile txtfile /E|/P|/R|/L|/A [block nr]\n"
      "       vorlex --info pakfile\n"
      "\n"
      "Vorlex extracts the strings of a pakfile (a file that holds its own\n"
      "Huffman code tree, a directory of numbered blocks and the blocks of\n"
      "coded strings) into a text file that any editor can change, and packs\n"
      "the edited text back into the pakfile with the pakfile's own tree.\n"
      "\n"
      "Switches (either case):\n"
      "  /E       extract every block into a new text file\n"
      "  /E n     extract block n (from 0) and append it to the text file\n"
      "  /L n     extract blocks n to the last into a new text file\n"
      "  /P       pack the whole text file into the pakfile\n"
      "  /R       replace the last blocks with those of the text file\n"
      "  /A       add a block at the end, then fill it as /R does\n"
      "\n"
      "Options (any of them, or a lone \"--\", makes each other argument\n"
      "count whole, blanks included; without them the arguments are split at\n"
      "blanks as in the classic form):\n";
  for (const OptionSpec& entry : kOptions) {
    std::string line = entry.short_name != 0
                           ? std::string("  -") + entry.short_name + ", --"
                           : std::string("      --");
    line.append(entry.name);
    if (entry.value) line.append("=").append(entry.value_name);
    line.resize(std::max<size_t>(line.size() + 1, 22), ' ');
    text.append(line).append(entry.help).append("\n");
  }
  text.append(
      "  --                  end the options: every later argument is a\n"
      "                      file name, switch or block nr\n"
      "\n"
      "Examples:\n"
      "  vorlex game.pak game.txt /E\n"
      "  vorlex --dry-run \"My Game/game.pak\" game.txt /P\n"
      "  vorlex --info game.pak\n"
      "\n"
      "Exit statuses:\n"
      "  0  done, and no error reported\n"
      "  1  an error was reported (on standard output or standard error)\n"
      "  2  the command line was not understood\n");
  return text;
}

std::string VersionText() { return "vorlex " VORLEX_VERSION "\n"; }

}  // namespace vorlex::core
