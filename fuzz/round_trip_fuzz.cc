// A whole cycle in memory: the input's strings become a pakfile (the maker's
// tree), then /E gives the text the maker expects, /P packs it back to the
// same pakfile, /L from a late block then /R too, and /A then /R with the last
// block's section gives the maker's pakfile with that block added.
// Input: byte 0 separates strings, byte 1 blocks, byte 2 renumbers the tree
// (0: as built) and picks the block for /L. What a text file cannot carry
// back is left out: '|' (the maker adds one), byte 26, CR directly before LF.
#include <algorithm>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/console.h"
#include "extract/decoder.h"
#include "extract/extract_block.h"
#include "extract/text_writer.h"
#include "fuzz_check.h"
#include "pack/block_packer.h"
#include "pack/image_builder.h"
#include "pack/line_reader.h"
#include "pack/text_reader.h"
#include "pak/code_tree.h"
#include "pak/pak.h"
#include "support/pak_maker.h"

namespace vorlex::core::fuzz {
namespace {

using testing::TestBlock;

constexpr std::string_view kPakName = "fuzz.pak";

// The characters other than '|' that the strings may use: with the
// terminator, at most 128 distinct characters fit a tree of 256 nodes.
constexpr size_t kMostCharacters = 127;

std::string CarriedBack(std::string_view raw, std::bitset<256>* kept) {
  std::string text;
  for (char c : raw) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '|' || c == kEndOfText ||
        (!kept->test(byte) && kept->count() == kMostCharacters)) {
      continue;
    }
    kept->set(byte);
    while (c == '\n' && !text.empty() && text.back() == '\r') text.pop_back();
    text += c;
  }
  return text + '|';
}

std::vector<TestBlock> ToBlocks(std::string_view content, char string_sep,
                                char block_sep, uint32_t id_seed) {
  std::vector<TestBlock> blocks;
  std::bitset<256> kept;  // the characters used so far
  while (true) {
    const size_t block_end = content.find(block_sep);
    std::string_view block = content.substr(0, block_end);
    TestBlock& made = blocks.emplace_back();
    made.id = static_cast<int32_t>((id_seed * 40503u + blocks.size() * 257u) &
                                   0xFFFF);
    // An empty block has no strings; a string separator at the end of a
    // block ends its last string rather than starting another.
    while (!block.empty()) {
      const size_t string_end = block.find(string_sep);
      made.strings.push_back(CarriedBack(block.substr(0, string_end), &kept));
      if (string_end == std::string_view::npos) break;
      block.remove_prefix(string_end + 1);
    }
    if (block_end == std::string_view::npos) break;
    content.remove_prefix(block_end + 1);
  }
  return blocks;
}

// Interior nodes carry the character 0, and the encoder takes the lowest
// node that carries a character. A tree renumbered so that an interior node
// comes before the leaf of 0 cannot encode 0, which is the tree's fault, not
// the packer's: such a numbering is not used.
bool ZeroStaysALeaf(const std::vector<TreeNode>& nodes) {
  bool zero_is_used = false;
  for (const TreeNode& node : nodes) {
    zero_is_used = zero_is_used || (node.char_ == 0 && node.child_l == 255);
  }
  for (const TreeNode& node : nodes) {
    if (node.char_ == 0) return !zero_is_used || node.child_l == 255;
  }
  return true;
}

// The text of /E, and where each block's section starts in it: /L from
// block b writes the same sections from b on, behind its own header.
struct Extracted {
  std::string text;
  std::vector<size_t> section_at;

  std::string From(const LoadedPak& pak, size_t first) const {
    std::string tail;
    AppendFileHeader(kPakName, pak.header.node_count,
                     static_cast<int64_t>(section_at.size() - first), &tail);
    return tail.append(text, section_at[first]);
  }
};

Extracted Extract(const LoadedPak& pak, const BlockDecoder& decoder) {
  StringEndMemo memo(static_cast<int64_t>(pak.bytes.size()));
  Extracted out;
  AppendFileHeader(kPakName, pak.header.node_count, pak.header.block_count,
                   &out.text);
  for (size_t b = 0; b < pak.directory.size(); ++b) {
    out.section_at.push_back(out.text.size());
    const DecodedBlock decoded =
        ExtractBlock(pak, decoder, b, &memo, &out.text);
    FUZZ_REQUIRE(
        decoded.StringsDecoded() == static_cast<size_t>(decoded.string_count),
        "block " + std::to_string(b) + " does not decode whole");
  }
  return out;
}

// Packs the block sections of `text` into `pak` from row `first` on (every
// row anew when `rebuild`), as the packing commands do: the finished image.
std::string Pack(std::string_view text, const LoadedPak& pak, size_t first,
                 bool rebuild, const BlockCoder& coder) {
  const auto blocks = static_cast<int64_t>(pak.directory.size() - first);
  ImageBuilder builder;
  std::string out, err, why;
  FUZZ_REQUIRE(rebuild ? builder.StartRebuild(pak, blocks, &why)
                       : builder.StartReplace(pak, static_cast<int64_t>(first),
                                              blocks, &why),
               why);
  Console console = StringConsole(&out, &err);
  LineReader lines(text);
  const std::optional<int32_t> count = ReadBlockCount(lines);
  FUZZ_REQUIRE(count && *count == blocks, "the text file's block count");
  BlockPacker packer(lines, coder, "fuzz.txt", console);
  for (int64_t k = 0; k < blocks; ++k) {
    FUZZ_REQUIRE(builder.CanStartBlock(&why), why);
    const size_t start = builder.image()->size();
    const PackedSection block =
        packer.PackBlock(builder.next_row(), builder.image());
    FUZZ_REQUIRE(block.complete && block.sound(),
                 "block " + std::to_string(k) + " refused: " + block.problem);
    builder.EndBlock(packer.current_block_id(), start);
  }
  // Only the rule line of the last section is left.
  while (!lines.AtEnd()) {
    FUZZ_REQUIRE(lines.NextLine().find(':') == std::string_view::npos,
                 "text left after the last block section");
  }
  FUZZ_REQUIRE(out.empty() && err.empty(), "packing printed " + out + err);
  FUZZ_REQUIRE(builder.Finish(/*keep_old_tail=*/true, &why), why);
  return std::move(builder.result());
}

}  // namespace
}  // namespace vorlex::core::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlex::core;
  if (size < 3) return 0;
  const uint8_t seed = data[2];
  const std::vector<testing::TestBlock> blocks = fuzz::ToBlocks(
      std::string_view(reinterpret_cast<const char*>(data) + 3, size - 3),
      static_cast<char>(data[0]), static_cast<char>(data[1]), seed);
  if (blocks.size() >= 65535) return 0;  // the add step needs room
  std::vector<TreeNode> nodes =
      testing::BuildHuffmanTree(testing::AllStrings(blocks));
  if (seed != 0) {
    std::vector<TreeNode> renumbered = testing::RenumberTree(nodes, seed);
    if (fuzz::ZeroStaysALeaf(renumbered)) nodes = std::move(renumbered);
  }
  const std::string pak_bytes = testing::MakePakfile(nodes, blocks);
  const LoadedPak pak = LoadPak(pak_bytes);
  FUZZ_REQUIRE(
      pak.broken_nodes.empty() && pak.directory.size() == blocks.size(),
      "the maker's pakfile does not load whole");

  // /E. Every step below, /A's copy of the pakfile included, uses its tree.
  const fuzz::TreeTables& tables = fuzz::TablesFor(pak.tree);
  const BlockCoder coder{.codes = tables.codes, .decoder = *tables.decoder};
  const fuzz::Extracted extracted = fuzz::Extract(pak, *tables.decoder);
  FUZZ_REQUIRE(extracted.text ==
                   testing::ExpectedExtractText(
                       fuzz::kPakName, static_cast<int>(nodes.size()), blocks),
               "the extracted text differs");

  // /P gives the same pakfile back, and so does /L from one of the last three
  // blocks then /R (replacing more only repeats what /P did for each block).
  const size_t b = blocks.size();
  FUZZ_REQUIRE(fuzz::Pack(extracted.text, pak, 0, true, coder) == pak_bytes,
               "/P gives another pakfile");
  const size_t late = b - 1 - seed % std::min<size_t>(b, 3);
  FUZZ_REQUIRE(
      fuzz::Pack(extracted.From(pak, late), pak, late, false, coder) ==
          pak_bytes,
      "/L then /R from block " + std::to_string(late) + " gives another");

  // /A, then /R with the last block's section: that block is added again.
  LoadedPak added = pak;
  std::string why;
  FUZZ_REQUIRE(CanAddBlock(added, &why), "the add step refused: " + why);
  AddEmptyBlock(&added, /*change_bytes=*/true);
  std::vector<testing::TestBlock> grown = blocks;
  grown.push_back(blocks.back());
  FUZZ_REQUIRE(fuzz::Pack(extracted.From(pak, b - 1), added, b, false, coder) ==
                   testing::MakePakfile(nodes, grown),
               "/A gives another pakfile");
  return 0;
}
