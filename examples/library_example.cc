// Shows the strings of a pakfile through the Vorlex library and, when asked,
// changes one of them:
//
//   library_example game.pak                  lists every block
//   library_example game.pak 3 0 "New text"   sets string 0 of block 3
//
// The change is written back at once or not at all: when the new text holds
// a character that the pakfile's code tree has no code for, the example says
// which and the file stays as it was.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "vorlex/vorlex.h"

namespace {

// A string as one readable line, quoted: without its terminator, line feeds
// as \n, other control bytes as \xNN.
std::string Shown(std::string_view text) {
  if (!text.empty() && text.back() == vorlex::kStringTerminator) {
    text.remove_suffix(1);
  }
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\\' || c == '"') {
      shown += '\\';
      shown += c;
    } else if (byte < 32 || byte == 127) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    } else {
      shown += c;
    }
  }
  return '"' + shown + '"';
}

void PrintBlock(int number, const vorlex::Block& block) {
  std::printf("block %d, ID %d: ", number, block.id);
  if (block.strings.empty() && block.complete) {
    std::printf("no strings\n");
  } else {
    std::printf("%zu strings\n", block.strings.size());
  }
  for (size_t k = 0; k < block.strings.size(); ++k) {
    std::printf("  %zu  %s\n", k, Shown(block.strings[k]).c_str());
  }
  if (!block.complete) {
    std::printf("  (damaged: its count says %d strings)\n", block.stored_count);
  }
}

int Fail(const vorlex::Error& error) {
  std::fprintf(stderr, "library_example: %s\n", error.message.c_str());
  return 1;
}

// A whole number from the command line, or nothing.
std::optional<int> Number(const char* text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > 65535) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 5) {
    std::fprintf(stderr,
                 "usage: library_example pakfile [block string \"text\"]\n");
    return 2;
  }
  const std::string path = argv[1];
  vorlex::Error error;
  std::optional<vorlex::Pakfile> pak = vorlex::OpenPakfile(path, &error);
  if (!pak) return Fail(error);

  if (argc == 2) {
    std::printf("%s: %d nodes, %d blocks\n", path.c_str(),
                vorlex::NodeCount(*pak), vorlex::BlockCount(*pak));
    for (int b = 0; b < vorlex::BlockCount(*pak); ++b) {
      const std::optional<vorlex::Block> block =
          vorlex::ReadBlock(*pak, b, &error);
      if (!block) return Fail(error);
      PrintBlock(b, *block);
    }
    return 0;
  }

  const std::optional<int> block_nr = Number(argv[2]);
  const std::optional<int> string_nr = Number(argv[3]);
  if (!block_nr || !string_nr) {
    std::fprintf(stderr, "library_example: block and string are numbers\n");
    return 2;
  }
  std::optional<vorlex::Block> block =
      vorlex::ReadBlock(*pak, *block_nr, &error);
  if (!block) return Fail(error);
  if (*string_nr >= static_cast<int>(block->strings.size())) {
    std::fprintf(stderr, "library_example: block %d has no string %d\n",
                 *block_nr, *string_nr);
    return 1;
  }
  block->strings[static_cast<size_t>(*string_nr)] =
      std::string(argv[4]) + vorlex::kStringTerminator;

  // One call checks every string and replaces the file, or changes nothing.
  const bool written =
      vorlex::ReplaceBlocks(&*pak, *block_nr, {*block}, &error);
  if (written) {
    std::printf("%s: block %d, string %d changed\n", path.c_str(), *block_nr,
                *string_nr);
  } else {
    std::printf("refused: %s\n", error.message.c_str());
  }

  // What the file holds now, read afresh.
  std::optional<vorlex::Pakfile> again = vorlex::OpenPakfile(path, &error);
  if (!again) return Fail(error);
  const std::optional<vorlex::Block> now =
      vorlex::ReadBlock(*again, *block_nr, &error);
  if (!now) return Fail(error);
  PrintBlock(*block_nr, *now);
  return written ? 0 : 1;
}
