// Writes examples/sample.pak, the pakfile that the quick start extracts: the
// signs, talk and items of a small lighthouse adventure. Run it as
//   make_sample examples/sample.pak
// to make the file again, byte for byte.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/pak_maker.h"

namespace {

using vorlex::core::testing::TestBlock;

std::vector<TestBlock> SampleBlocks() {
  return {
      // Signs along the harbour.
      {100,
       {"Welcome to Gullhaven. Mind the tides.|",
        "Ferry to the lighthouse: two coins, one way.|",
        "Closed until the fog lifts.|"}},
      // The keeper's talk: a line break, and a pause with nothing said.
      {101,
       {"Keeper: You came at last. The lamp went dark at dusk.|",
        "Keeper: Bring me oil from the cellar,\nand a match that is still "
        "dry.|",
        "|", "Keeper: Off you go, then.|"}},
      // Room for the second chapter, not written yet.
      {102, {}},
      // What the player carries.
      {103,
       {"A brass key, green with salt.|", "A tin of lamp oil.|",
        "A box of matches. Two are left.|"}},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample <pakfile to write>\n");
    return 2;
  }
  const std::vector<TestBlock> blocks = SampleBlocks();
  const std::string pak = vorlex::core::testing::MakePakfile(
      vorlex::core::testing::BuildHuffmanTree(
          vorlex::core::testing::AllStrings(blocks)),
      blocks);
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(pak.data(), static_cast<std::streamsize>(pak.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
