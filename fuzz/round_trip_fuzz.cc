// A whole cycle in memory: the input's strings become a pakfile (the maker's
// tree), then /E gives the text the maker expects, /P packs it back to the
// same pakfile, /L from a late block then /R too, and /A then /R with the last
// block's section gives the maker's pakfile with that block added.
// Input: byte 0 separates strings, byte 1 blocks, byte 2 renumbers the tree
// (0: as built) and picks the block for /L. What a text file cannot carry
// back is left out: '|' (the maker adds one), byte 26, CR directly before LF.
#include <algorithm>
#include <array>
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
#include "pack/encoder.h"
#include "pack/image_builder.h"
#include "pack/line_reader.h"
#include "pack/text_reader.h"
#include "pak/code_tree.h"
#include "pak/pak.h"
#include "pak/pak_format.h"
#include "support/pak_maker.h"

namespace vorlex::core::fuzz {
namespace {

using testing::TestBlock;

constexpr std::string_view kPakName = "fuzz.pak";

// The characters other than '|' that the strings may use: with the
// terminator, at most 128 distinct characters fit a tree of 256 nodes.
constexpr size_t kMostCharacters = 127;

// The characters kept so far, and how many.
struct Kept {
  std::array<bool, 256> has{};
  size_t size = 0;
};

std::string CarriedBack(std::string_view raw, Kept* alphabet) {
  std::string text;
  for (char c : raw) {
    if (c == '|' || c == kEndOfText) continue;
    if (c == '\n' && !text.empty() && text.back() == '\r') text.pop_back();
    bool& has = alphabet->has[static_cast<unsigned char>(c)];
    if (!has) {
      if (alphabet->size == kMostCharacters) continue;
      has = true;
      ++alphabet->size;
    }
    text += c;
  }
  // Dropping bytes may have put a CR before an LF again.
  while (!text.empty()) {
    const size_t cr_lf = text.find("\r\n");
    if (cr_lf == std::string::npos) break;
    text.erase(cr_lf, 1);
  }
  return text + '|';
}

std::vector<TestBlock> ToBlocks(std::string_view content, char string_sep,
                                char block_sep, uint32_t id_seed) {
  std::vector<TestBlock> blocks;
  Kept alphabet;
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
      made.strings.push_back(
          CarriedBack(block.substr(0, string_end), &alphabet));
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

// Loads a pakfile as start-up does; its tree must be sound.
LoadedPak Load(const std::string& bytes) {
  LoadedPak pak = LoadPak(bytes);
  FUZZ_REQUIRE(pak.broken_nodes.empty(), "the maker's tree is broken");
  return pak;
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

// Reads the block sections of `text` into the rows `builder` was started
// for, as the packing commands do, and returns the finished image.
std::string Pack(std::string_view text, const LoadedPak& pak,
                 const BlockCoder& coder, ImageBuilder builder) {
  std::string out, err;
  Console console = StringConsole(&out, &err);
  LineReader lines(text);
  const std::optional<int32_t> count = ReadBlockCount(lines);
  const int64_t blocks =
      static_cast<int64_t>(pak.directory.size()) - builder.first_row();
  FUZZ_REQUIRE(count && *count == blocks, "the text file's block count");
  BlockPacker packer(lines, coder, "fuzz.txt", console);
  for (int64_t k = 0; k < *count; ++k) {
    std::string why;
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
  std::string why;
  FUZZ_REQUIRE(builder.Finish(/*keep_old_tail=*/true, &why), why);
  return std::move(builder.result());
}

}  // namespace
}  // namespace vorlex::core::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlex::core;
  if (size < 3) return 0;
  const std::string_view content(reinterpret_cast<const char*>(data) + 3,
                                 size - 3);
  const uint8_t seed = data[2];
  const std::vector<testing::TestBlock> blocks = fuzz::ToBlocks(
      content, static_cast<char>(data[0]), static_cast<char>(data[1]), seed);

  std::vector<TreeNode> nodes =
      testing::BuildHuffmanTree(testing::AllStrings(blocks));
  if (seed != 0) {
    std::vector<TreeNode> renumbered = testing::RenumberTree(nodes, seed);
    if (fuzz::ZeroStaysALeaf(renumbered)) nodes = std::move(renumbered);
  }
  // Each block is encoded once: the pakfile with the last block added again
  // is made from the same bytes.
  std::vector<std::string> encoded;
  std::vector<int32_t> ids;
  for (const testing::TestBlock& block : blocks) {
    encoded.push_back(testing::EncodeTestBlock(nodes, block.strings));
    ids.push_back(block.id);
  }
  const std::string pak_bytes =
      testing::MakePakfileFromBlockBytes(nodes, encoded, ids);
  const LoadedPak pak = fuzz::Load(pak_bytes);
  FUZZ_REQUIRE(pak.directory.size() == blocks.size(), "the block count");

  // /E. Every step below, /A's copy of the pakfile included, uses the same
  // tree.
  const fuzz::TreeTables& tables = fuzz::TablesFor(pak.tree);
  const BlockDecoder& decoder = *tables.decoder;
  const BlockCoder coder{.codes = tables.codes, .decoder = decoder};
  const fuzz::Extracted extracted = fuzz::Extract(pak, decoder);
  const int node_count = static_cast<int>(nodes.size());
  FUZZ_REQUIRE(extracted.text == testing::ExpectedExtractText(
                                     fuzz::kPakName, node_count, blocks),
               "the extracted text differs");

  // /P.
  {
    ImageBuilder builder;
    std::string why;
    FUZZ_REQUIRE(
        builder.StartRebuild(pak, static_cast<int64_t>(blocks.size()), &why),
        why);
    const std::string image =
        fuzz::Pack(extracted.text, pak, coder, std::move(builder));
    FUZZ_REQUIRE(image == pak_bytes, "/P gives " + fuzz::Hex(image, 256) +
                                         "\nexpected " +
                                         fuzz::Hex(pak_bytes, 256));
  }

  // /L from one of the last three blocks, then /R: replacing more blocks
  // only repeats what /P did for each of them.
  {
    const size_t first =
        blocks.size() - 1 - seed % std::min<size_t>(blocks.size(), 3);
    ImageBuilder builder;
    std::string why;
    const int64_t replaced = static_cast<int64_t>(blocks.size() - first);
    FUZZ_REQUIRE(
        builder.StartReplace(pak, static_cast<int64_t>(first), replaced, &why),
        why);
    const std::string image =
        fuzz::Pack(extracted.From(pak, first), pak, coder, std::move(builder));
    FUZZ_REQUIRE(image == pak_bytes, "/L then /R from block " +
                                         std::to_string(first) + " gives " +
                                         fuzz::Hex(image, 256));
  }

  // /A with the last block's section: the block is added again.
  if (blocks.size() < 65535) {
    LoadedPak added = pak;
    std::string why;
    FUZZ_REQUIRE(CanAddBlock(added, &why), "the add step refused: " + why);
    AddEmptyBlock(&added, /*change_bytes=*/true);
    const size_t last = added.directory.size() - 1;
    ImageBuilder builder;
    FUZZ_REQUIRE(
        builder.StartReplace(added, static_cast<int64_t>(last), 1, &why), why);
    const std::string image = fuzz::Pack(extracted.From(pak, blocks.size() - 1),
                                         added, coder, std::move(builder));
    encoded.push_back(encoded.back());
    ids.push_back(ids.back());
    FUZZ_REQUIRE(
        image == testing::MakePakfileFromBlockBytes(nodes, encoded, ids),
        "/A gives " + fuzz::Hex(image, 256));
  }
  return 0;
}
