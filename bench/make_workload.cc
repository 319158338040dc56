// Writes a benchmark workload: a pakfile of about the size asked for, in 2047
// blocks of sentence-like strings over an alphabet of about 90 characters.
//
//   make_workload <bytes> <out.pak>
//
// The same size always gives the same file.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/pak_maker.h"

namespace {

constexpr int kBlocks = 2047;
constexpr char kAlphabet[] =
    "etaoinshrdlucmfwypvbgkjqxz ETAOINSHRDLUCMFWYPVBGKJQXZ0123456789"
    ".,;:!?'\"-()[]/&%$#@*+=<>_~\n";

std::string Make(int strings_per_block) {
  const auto blocks = vorlex::core::testing::RandomBlocks(
      20261206, kBlocks, strings_per_block, kAlphabet, 70);
  const auto nodes = vorlex::core::testing::BuildHuffmanTree(
      vorlex::core::testing::AllStrings(blocks));
  return vorlex::core::testing::MakePakfile(nodes, blocks);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_workload <bytes> <out.pak>\n");
    return 2;
  }
  const double target = std::atof(argv[1]);
  // A small trial tells how many bytes a string takes; one more run at the
  // scaled count lands close to the target.
  const int trial_strings = 8;
  const double trial_size = static_cast<double>(Make(trial_strings).size());
  const int strings =
      std::max(1, static_cast<int>(trial_strings * target / trial_size));
  const std::string pak = Make(strings);
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(pak.data(), static_cast<std::streamsize>(pak.size()));
  if (!out) {
    std::fprintf(stderr, "make_workload: cannot write %s\n", argv[2]);
    return 1;
  }
  std::printf("%s: %zu bytes, %d blocks of %d strings\n", argv[2], pak.size(),
              kBlocks, strings);
  return 0;
}
