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
#include <string>
#include <string_view>
#include <vector>

#include "base/console.h"
#include "extract/extract_block.h"
#include "extract/text_writer.h"
#include "fuzz_check.h"
#include "pack/block_packer.h"
#include "pack/image_builder.h"
#include "pack/line_reader.h"
#include "pack/text_reader.h"

namespace vorlex::core::fuzz {
namespace {

using testing::TestBlock;

constexpr std::string_view kPakName = "fuzz.pak";

// The blocks of `content` split at `block_sep`, their strings at `string_sep`
// (one that ends a block ends its last string rather than starting another),
// each string ended by '|'. Past 127 distinct characters, which with '|' fill
// a tree of 256 nodes, new ones are left out too.
std::vector<TestBlock> ToBlocks(std::string_view content, char string_sep,
                                char block_sep, uint32_t id_seed) {
  std::vector<TestBlock> blocks(1);
  std::bitset<256> kept;
  bool open = false;  // a string is under way
  for (const char c : content) {
    std::vector<std::string>& strings = blocks.back().strings;
    if (c != block_sep && !open) strings.emplace_back();
    open = c != block_sep && c != string_sep;
    if (!open) {
      if (c == block_sep) blocks.emplace_back();
      continue;
    }
    const auto byte = static_cast<unsigned char>(c);
    if (c == '|' || c == kEndOfText || (!kept[byte] && kept.count() == 127)) {
      continue;
    }
    kept.set(byte);
    std::string& text = strings.back();
    while (c == '\n' && text.ends_with('\r')) text.pop_back();
    text += c;
  }
  for (size_t b = 0; b < blocks.size(); ++b) {
    blocks[b].id =
        static_cast<int32_t>((id_seed * 40503u + (b + 1) * 257u) & 0xFFFF);
    for (std::string& text : blocks[b].strings) text += '|';
  }
  return blocks;
}

// Interior nodes carry the character 0, and the encoder takes the lowest
// node that carries a character. A tree renumbered so that an interior node
// comes before the leaf of 0 cannot encode 0, which is the tree's fault, not
// the packer's: such a numbering is not used.
bool ZeroStaysALeaf(const std::vector<TreeNode>& nodes) {
  const auto leaf_of_zero = [](const TreeNode& node) {
    return node.char_ == 0 && node.child_l == 255;
  };
  return std::ranges::none_of(nodes, leaf_of_zero) ||
         leaf_of_zero(*std::ranges::find(nodes, 0, &TreeNode::char_));
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
  FUZZ_REQUIRE(ReadBlockCount(lines) == blocks, "the text file's block count");
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
  packer.CheckNothingLeft(1, blocks, blocks - 1);
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
  std::string extracted;
  AppendFileHeader(fuzz::kPakName, pak.header.node_count,
                   pak.header.block_count, &extracted);
  StringEndMemo memo(static_cast<int64_t>(pak.bytes.size()));
  std::vector<size_t> section_at;
  for (size_t b = 0; b < blocks.size(); ++b) {
    section_at.push_back(extracted.size());
    ExtractBlock(pak, *tables.decoder, b, &memo, &extracted);
  }
  FUZZ_REQUIRE(
      extracted == testing::ExpectedExtractText(
                       fuzz::kPakName, static_cast<int>(nodes.size()), blocks),
      "the extracted text differs");
  // The text of /L from block `first`: a header of its own, then the same
  // sections as /E from `first` on. Cut from the checked text: making the
  // text anew for each pack cost a seventh of the inputs per second.
  const auto text_from = [&](size_t first) {
    std::string text;
    AppendFileHeader(fuzz::kPakName, pak.header.node_count,
                     static_cast<int64_t>(blocks.size() - first), &text);
    return text.append(extracted, section_at[first]);
  };

  // /P gives the same pakfile back, and so does /L from one of the last three
  // blocks then /R (replacing more only repeats what /P did for each block).
  const size_t b = blocks.size();
  FUZZ_REQUIRE(fuzz::Pack(extracted, pak, 0, true, coder) == pak_bytes,
               "/P gives another pakfile");
  const size_t late = b - 1 - seed % std::min<size_t>(b, 3);
  FUZZ_REQUIRE(
      fuzz::Pack(text_from(late), pak, late, false, coder) == pak_bytes,
      "/L then /R from block " + std::to_string(late) + " gives another");

  // /A, then /R with the last block's section: that block is added again.
  LoadedPak added = pak;
  std::string why;
  FUZZ_REQUIRE(CanAddBlock(added, &why), "the add step refused: " + why);
  AddEmptyBlock(&added, /*change_bytes=*/true);
  std::vector<testing::TestBlock> grown = blocks;
  grown.push_back(blocks.back());
  FUZZ_REQUIRE(fuzz::Pack(text_from(b - 1), added, b, false, coder) ==
                   testing::MakePakfile(nodes, grown),
               "/A gives another pakfile");
  return 0;
}
