// Arbitrary text-file bytes through ReadBlockCount and PackBlock with a fixed
// code tree, and the reference reader of tests/reference alongside: both
// consume the same lines, print the same messages and accept the same blocks,
// and an accepted block is byte for byte what the pakfile maker encodes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/console.h"
#include "base/numbers.h"
#include "extract/decoder.h"
#include "fuzz_check.h"
#include "pack/block_packer.h"
#include "pack/encoder.h"
#include "pack/line_reader.h"
#include "pack/text_reader.h"
#include "pak/code_tree.h"
#include "reference/reference_text.h"
#include "support/pak_maker.h"

namespace vorlex::core::fuzz {
namespace {

// Block sections read per input.
constexpr int kMaxBlocks = 32;

// The characters the fixed tree can encode: letters, digits, blank, LF, CR,
// the terminator, some punctuation and a few control bytes.
constexpr std::string_view kTreeText =
    "the quick brown fox jumps over the lazy dog THE QUICK BROWN FOX JUMPS "
    "OVER THE LAZY DOG 0123456789 0 1 2 3 :.,-&\n\n\r|\t\x01\x1b\x7f\xe9";

// Several strings, so that the codes differ in length.
struct FixedTree {
  std::vector<TreeNode> nodes = testing::BuildHuffmanTree(
      {std::string(kTreeText), "eeeeeeeetttttaaaoo  ||||", "\n|"});
  CodeTree tree = testing::MakeCodeTree(nodes);
  CodeTable codes = BuildCodeTable(tree);
  std::array<reference::Coding, 256> coding = reference::CodingsOf(nodes);
};

const FixedTree& Tree() {
  static const FixedTree* const tree = new FixedTree();
  return *tree;
}

void CheckBlock(const PackedSection& got, std::string_view got_bytes,
                const reference::SectionModel& want, int b) {
  const auto where = [b] {
    return "block section " + std::to_string(b) + ": ";
  };
  FUZZ_REQUIRE(got.string_count == want.n,
               where() + "string count " + std::to_string(got.string_count) +
                   ", expected " + std::to_string(want.n));
  FUZZ_REQUIRE(got.complete == want.complete, where() + "complete differs");
  FUZZ_REQUIRE(
      got.sound() == want.sound,
      where() + (got.sound() ? "accepted a block that cannot be packed"
                             : "refused a sound block: " + got.problem));
  if (!want.sound) return;
  FUZZ_REQUIRE(got_bytes == want.bytes, where() + "block bytes " +
                                            Hex(got_bytes) + ", expected " +
                                            Hex(want.bytes));
}

}  // namespace
}  // namespace vorlex::core::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlex::core;
  const fuzz::FixedTree& fixed = fuzz::Tree();
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::string out, err, expected_out;
  Console console = StringConsole(&out, &err);
  LineReader lines(text);
  reference::TextLines expected_lines(text);

  const std::optional<int32_t> count = ReadBlockCount(lines);
  if (count) console.PrintLine("Nr of Blocks:" + ConsoleInteger(*count));
  const std::optional<int32_t> expected_count =
      reference::ReadCountLine(expected_lines, &expected_out);
  FUZZ_REQUIRE(count == expected_count, "the block counts differ");
  FUZZ_REQUIRE(lines.line_number() == expected_lines.Consumed(),
               "the count line is not where it should be");

  const BlockDecoder decoder(fixed.tree);
  const BlockCoder coder{.codes = fixed.codes, .decoder = decoder};
  BlockPacker packer(lines, coder, "fuzz.txt", console);
  int32_t expected_id = 0;
  std::string image;
  for (int b = 0; b < fuzz::kMaxBlocks && !lines.AtEnd(); ++b) {
    const PackedSection block = packer.PackBlock(b, &image);
    const reference::SectionModel expected = reference::ReadSection(
        expected_lines, fixed.nodes, fixed.coding, &expected_id, &expected_out);
    FUZZ_REQUIRE(lines.line_number() == expected_lines.Consumed(),
                 "block section " + std::to_string(b) + " ends at line " +
                     std::to_string(lines.line_number()) + ", expected " +
                     std::to_string(expected_lines.Consumed()));
    FUZZ_REQUIRE(packer.current_block_id() == expected_id,
                 "the block ids differ");
    fuzz::CheckBlock(block, std::string_view(image).substr(block.start),
                     expected, b);
    FUZZ_REQUIRE(out == expected_out, "standard output differs:\n" + out +
                                          "\nexpected:\n" + expected_out);
  }
  FUZZ_REQUIRE(lines.AtEnd() == expected_lines.AtEnd(), "the ends differ");

  return 0;
}
