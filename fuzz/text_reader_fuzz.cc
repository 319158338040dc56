// Arbitrary text-file bytes through ReadBlockCount and PackBlock with a fixed
// code tree. The rules themselves are held to hand-made sections by the unit
// tests and to what extraction writes by round_trip_fuzz; here, what holds
// for any text: the count line is the first that names the count, every
// message printed is one of the reader's, every refusal names a line that
// has been read, nothing of a refused block is kept, and an accepted block
// decodes by the reference walk to as many strings as its count says.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/console.h"
#include "fuzz_check.h"
#include "pack/block_packer.h"
#include "pack/line_reader.h"
#include "pack/text_reader.h"
#include "reference/reference_walk.h"

namespace vorlex::core::fuzz {
namespace {

// Block sections read per input.
constexpr int kMaxBlocks = 32;

// The characters the fixed tree can encode: letters, digits, blank, LF, CR,
// the terminator, some punctuation and a few control bytes.
constexpr std::string_view kTreeText =
    "the quick brown fox jumps over the lazy dog THE QUICK BROWN FOX JUMPS "
    "OVER THE LAZY DOG 0123456789 0 1 2 3 :.,-&\n\n\r|\t\x01\x1b\x7f\xe9";

// The tree of several strings, so that the codes differ in length.
const CodeTree& Tree() {
  static const CodeTree* const tree =
      new CodeTree(testing::MakeCodeTree(testing::BuildHuffmanTree(
          {std::string(kTreeText), "eeeeeeeetttttaaaoo  ||||", "\n|"})));
  return *tree;
}

void CheckSection(const PackedSection& block, std::string_view bytes, int b,
                  int64_t lines_read) {
  const std::string where = "block section " + std::to_string(b) + ": ";
  if (!block.sound()) {
    FUZZ_REQUIRE(bytes.empty(), where + "a refused block was kept");
    // "fuzz.txt:<line>: block <b>: ...", b being this block or one before
    // it whose problem this one follows from.
    long long line = 0;
    int consumed = 0;
    FUZZ_REQUIRE(
        std::sscanf(block.problem.c_str(), "fuzz.txt:%lld: block %*d: %n",
                    &line, &consumed) == 1 &&
            consumed > 0 && line >= 1 && line <= lines_read,
        where + "the refusal " + block.problem);
    return;
  }
  FUZZ_REQUIRE(block.complete, where + "an incomplete block was accepted");
  const DecodedBlock decoded = reference::WalkBitByBit(bytes, Tree().nodes);
  FUZZ_REQUIRE(
      decoded.string_count == block.string_count &&
          decoded.StringsDecoded() == static_cast<size_t>(block.string_count),
      where + "the block " + Hex(bytes) + " does not decode whole");
}

}  // namespace
}  // namespace vorlex::core::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlex::core;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const fuzz::TreeTables& tables = fuzz::TablesFor(fuzz::Tree());

  std::string out, err;
  Console console = StringConsole(&out, &err);
  LineReader lines(text);
  ReadBlockCount(lines);
  const BlockCoder coder{.codes = tables.codes, .decoder = *tables.decoder};
  BlockPacker packer(lines, coder, "fuzz.txt", console);
  std::string image;
  for (int b = 0; b < fuzz::kMaxBlocks && !lines.AtEnd(); ++b) {
    const PackedSection block = packer.PackBlock(b, &image);
    fuzz::CheckSection(block, std::string_view(image).substr(block.start), b,
                       lines.line_number());
    image.clear();
  }
  return 0;
}
