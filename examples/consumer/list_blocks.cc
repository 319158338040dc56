// Lists the blocks of a pakfile and the first string of each:
//   list_blocks game.pak
#include <cstdio>
#include <optional>

#include "vorlex/vorlex.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: list_blocks pakfile\n");
    return 2;
  }
  vorlex::Error error;
  const std::optional<vorlex::Pakfile> pak =
      vorlex::OpenPakfile(argv[1], &error);
  if (!pak) {
    std::fprintf(stderr, "list_blocks: %s\n", error.message.c_str());
    return 1;
  }
  for (int b = 0; b < vorlex::BlockCount(*pak); ++b) {
    const std::optional<vorlex::Block> block =
        vorlex::ReadBlock(*pak, b, &error);
    if (!block) {
      std::fprintf(stderr, "list_blocks: %s\n", error.message.c_str());
      return 1;
    }
    std::printf("block %d, ID %d: %zu strings%s%s\n", b, block->id,
                block->strings.size(), block->strings.empty() ? "" : ", first ",
                block->strings.empty() ? "" : block->strings[0].c_str());
  }
  return 0;
}
