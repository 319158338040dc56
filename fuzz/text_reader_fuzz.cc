// Arbitrary text-file bytes through ReadBlockCount and PackBlock, with a
// fixed code tree. The reference reader of tests/reference, written from the
// text file's rules alone, reads the same lines alongside; the two must
// consume the same lines, print the same messages and agree on which blocks
// can be packed. Every
// block both accept must be, byte for byte, the count, the relative offsets
// and the codes that the pakfile maker's own encoder gives for the strings
// read, and must decode back to them. A line reader over a file, reading in
// small chunks, must hand out the same lines as one over memory.
#include <sys/mman.h>
#include <unistd.h>

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

struct FixedTree {
  std::vector<TreeNode> nodes;
  CodeTree tree;
  CodeTable codes;
  std::array<reference::Coding, 256> coding{};

  FixedTree() {
    // Several strings, so that the codes differ in length.
    nodes = testing::BuildHuffmanTree(
        {std::string(kTreeText), "eeeeeeeetttttaaaoo  ||||", "\n|"});
    tree = testing::MakeCodeTree(nodes);
    codes = BuildCodeTable(tree);
    coding = reference::CodingsOf(nodes);
  }
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
  const DecodedBlock decoded = BlockDecoder(Tree().tree).Decode(got_bytes);
  FUZZ_REQUIRE(decoded.StringsDecoded() == want.strings.size(),
               where() + "decodes to another number of strings");
  for (size_t k = 0; k < want.strings.size(); ++k) {
    FUZZ_REQUIRE(decoded.String(k) == want.strings[k],
                 where() + "string " + std::to_string(k) + " decodes to " +
                     Hex(decoded.String(k)));
  }
}

// The lines of `text` read from a file in chunks of `chunk_size` bytes, so
// that lines and CR LF pairs are cut between reads, must be those read from
// memory.
void CheckFileLines(std::string_view text, size_t chunk_size) {
  const int fd = memfd_create("text", 0);
  FUZZ_REQUIRE(fd >= 0, "no memory file");
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    FUZZ_REQUIRE(n > 0, "cannot write the memory file");
    written += static_cast<size_t>(n);
  }
  FUZZ_REQUIRE(lseek(fd, 0, SEEK_SET) == 0, "cannot rewind the memory file");
  RealFileSystem files;
  LineReader from_file(files, fd, chunk_size);
  LineReader from_memory(text);
  while (true) {
    const bool at_end = from_memory.AtEnd();
    FUZZ_REQUIRE(from_file.AtEnd() == at_end,
                 "the file reader's end differs at line " +
                     std::to_string(from_memory.line_number() + 1));
    if (at_end) break;
    const std::string line(from_memory.NextLine());
    FUZZ_REQUIRE(from_file.NextLine() == line,
                 "line " + std::to_string(from_memory.line_number()) +
                     " read from the file differs");
  }
  FUZZ_REQUIRE(!from_file.read_failed(), "reading the memory file failed");
  close(fd);
}

}  // namespace
}  // namespace vorlex::core::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlex::core;
  const fuzz::FixedTree& fixed = fuzz::Tree();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  fuzz::CheckFileLines(text, size == 0 ? 1 : 1 + data[0] % 32);

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

  // The encoder on the whole input: it appends to what is there, and
  // encodes the text up to its first terminator or up to the first byte
  // the tree cannot encode.
  std::string code = "xyz";
  const EncodeResult result = EncodeString(text, fixed.codes, &code);
  const std::string_view cut = CutAfterTerminator(text);
  size_t encodable = 0;
  bool leaves_only = true;
  while (encodable < cut.size()) {
    const reference::Coding coding =
        fixed.coding[static_cast<unsigned char>(cut[encodable])];
    if (coding == reference::Coding::kNone) break;
    leaves_only = leaves_only && coding == reference::Coding::kLeaf;
    ++encodable;
  }
  FUZZ_REQUIRE(result.ok == (encodable == cut.size()), "EncodeString's result");
  FUZZ_REQUIRE(code.compare(0, 3, "xyz") == 0,
               "EncodeString changed its output");
  if (leaves_only) {
    FUZZ_REQUIRE(code == "xyz" + testing::EncodeTestString(
                                     fixed.nodes, cut.substr(0, encodable)),
                 "EncodeString's code differs from the maker's");
  }
  return 0;
}
