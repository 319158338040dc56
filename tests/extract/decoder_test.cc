// A block's bytes and their decoding by the walk and the lookup table, which
// must agree: worked examples, damaged trees, cut and overlong blocks.
#include "extract/decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "extract/extract_block.h"
#include "extract/worked_examples.h"
#include "reference/reference_walk.h"

namespace vorlex::core::testing {
namespace {

using Nodes = std::vector<TreeNode>;
constexpr int kL = 255;  // no child

// "n: s0 s1 ...", the count and the strings.
std::string Show(const DecodedBlock& decoded) {
  std::string text = std::to_string(decoded.string_count) + ":";
  for (size_t k = 0; k < decoded.StringsDecoded(); ++k) {
    text += " " + std::string(decoded.String(k));
  }
  return text;
}

// The block as Show gives it, which both engines, Decode, decoding in pieces
// and the reference walk bit by bit must agree on.
std::string Decode(std::string_view block, const CodeTree& tree) {
  const BlockDecoder decoder(tree);
  const std::string walked = Show(decoder.DecodeByWalk(block));
  EXPECT_EQ(Show(reference::WalkBitByBit(block, tree.nodes)), walked);
  EXPECT_EQ(Show(decoder.DecodeByTable(block)), walked) << Hex(block);
  EXPECT_EQ(Show(decoder.Decode(block)), walked) << Hex(block);
  std::string pieces = walked.substr(0, walked.find(':') + 1);
  std::string string;
  decoder.DecodeInPieces(block, [&](std::string_view chars, bool ended) {
    string += chars;
    if (ended) pieces += " " + std::exchange(string, "");
    return true;
  });
  EXPECT_EQ(pieces, walked) << Hex(block);
  return walked;
}

// Decodes the block that `hex` stands for with a tree of `nodes`.
void Check(const Nodes& nodes, std::string_view hex, std::string_view want) {
  EXPECT_EQ(Decode(Unhex(hex), MakeCodeTree(nodes)), want) << hex;
}

TEST(DecodeBlockTest, WorkedExamplesAndDamagedTrees) {
  const Nodes five = FiveNodeTree();                    // a 0 b 10 | 11
  const Nodes ab = LoadPak(ThreeNodePak()).tree.nodes;  // A 0 | 1
  Check(five, "02 00 00 00 01 00 58 C0", "2: ab| |");
  // Empty and short blocks; one byte counts what it says.
  Check(five, "", "0:");
  Check(five, "00 00", "0:");
  Check(five, "02", "2:");
  // The terminator on a byte's first bit: the rest of it is skipped.
  Check(ab, "02 00 00 00 02 00  00 FF  40", "2: AAAAAAAA| A|");
  // A code across a byte boundary, and a block cut in that code.
  Check(five, "01 00 00 00  01 60", "1: aaaaaaab|");
  Check(five, "05 00  00 00 01 00 02 00 04 00 06 00  60 B0 01", "5: a| b|");
  // A count below the strings present.
  Check(five, "01 00 00 00 58 C0", "1: ab|");
  Check({}, "01 00 00 00 40 40 40", "1:");  // no nodes
  // Child 7 lies beyond N = 3: an all-zero node, whose children are 0.
  Check({{'x', 2, kL, kL}, {'|', 2, kL, kL}, {0, 0, 1, 7}},
        "02 00 00 00 01 00 80 C0", "2: x| x|");
  // Node 0 is a leaf from its left side only.
  Check({{'h', 2, kL, 1}, {'|', 0, kL, kL}, {0, 0, 0, 0}},
        "02 00 00 00 01 00 60 98", "2: h| h|");
}

// `count` random nodes, a third of them '|', with links that often lie
// beyond the table, up to `reach` (or 255, no child).
Nodes RandomNodes(std::mt19937& random, size_t count, size_t reach) {
  Nodes nodes(count);
  for (TreeNode& node : nodes) {
    auto link = [&] {
      const size_t range = random() % 2 ? reach : std::min(count + 1, reach);
      return random() % 4 ? static_cast<int>(random() % range) : kL;
    };
    const int c = random() % 3 == 0 ? '|' : static_cast<int>(random() % 256);
    node = {c, static_cast<int>(random() % 256), link(), link()};
  }
  return nodes;
}

// The k-th of `chars` has the code of k zeros and a one, the last that of
// zeros alone: codes of any length.
Nodes Chain(std::string_view chars) {
  Nodes nodes;
  for (char c : chars) nodes.push_back({c & 0xFF, 0, kL, kL});
  for (int k = std::ssize(chars) - 2, below = k + 1; k >= 0; --k) {
    nodes[k].parent = nodes[below].parent = std::ssize(nodes);
    nodes.push_back({0, 0, below, k});
    below = std::ssize(nodes) - 1;
  }
  return nodes;
}

// `bytes` as a loaded pakfile whose directory holds `offsets`.
LoadedPak WithOffsets(std::string bytes, const std::vector<int64_t>& offsets) {
  LoadedPak pak = LoadPak(std::move(bytes));
  pak.directory.clear();
  for (int64_t offset : offsets) pak.directory.push_back({9, offset});
  return pak;
}

// Each block as "length:bytes".
TEST(BlockBytesTest, ExtentAndPositionsOutsideTheFile) {
  const std::tuple<std::string, std::vector<int64_t>, const char*> cases[] = {
      {"0123456789", {2, 5, 5, 8}, "3:32 33 34 0: 3:35 36 37 2:38 39 "},
      // Offsets that fall give empty blocks; past the end reads as 0.
      {"0123456789", {6, 3, 12}, "0: 9:33 34 35 36 37 38 39 00 00 0: "},
      // An Offset of 2^31 or more loads as the lowest integer: its count lies
      // before the file, and nothing of its two gigabytes is kept.
      {Unhex("05 00 01 02 03"), {INT32_MIN}, "2147483653:00 00 "},
      {Unhex("01 00 40"), {-1, 3}, "4:00 01 00 40 0: "}};
  for (const auto& [bytes, offsets, expected] : cases) {
    const LoadedPak pak = WithOffsets(bytes, offsets);
    std::string text, scratch;
    for (size_t b = 0; b < offsets.size(); ++b) {
      text += std::to_string(BlockExtent(pak.directory, std::ssize(bytes), b)) +
              ":" + Hex(BlockBytes(pak, b, &scratch)) + " ";
    }
    EXPECT_EQ(text, expected);
  }
}

// Blocks that run past the end of the file, some by two gigabytes: only the
// zeros that decoding can use are made, and they decode as the whole would.
TEST(BlockBytesTest, OnlyTheUsefulZerosAreKept) {
  const Nodes deep = Chain(std::string(126, 'a') + "|");  // 126 zeros end it
  std::mt19937 random(3);
  for (int round = 0; round < 200; ++round) {
    // Small tables, so that zeros often reach a terminator.
    const Nodes nodes =
        round % 10 == 5 ? deep : RandomNodes(random, 1 + random() % 12, 14);
    const size_t n = random() % 40 + (random() % 8 ? 0 : 256);
    std::string block = {static_cast<char>(n), static_cast<char>(n >> 8)};
    for (size_t i = random() % 30; i > 0; --i) {
      block += static_cast<char>(random() % 4 == 0 ? 0 : random());
    }
    const int64_t extra = round % 10 ? random() % 20000 : INT32_MAX - 99;
    LoadedPak pak = WithOffsets(block, {0, std::ssize(block) + extra});
    pak.tree = MakeCodeTree(nodes);
    std::string scratch;
    const std::string kept(BlockBytes(pak, 0, &scratch));
    ASSERT_LE(kept.size(), block.size() + 2 * n + 258 * (n + 2));
    const std::string whole =  // all of it, or far more than is kept
        block + std::string(std::min<int64_t>(extra, 100000), '\0');
    ASSERT_EQ(kept, whole.substr(0, kept.size()));
    EXPECT_EQ(Decode(kept, pak.tree), Decode(whole, pak.tree)) << round;
    StringEndMemo memo(std::ssize(block));
    EXPECT_EQ(Show(DecodePakBlock(pak, BlockDecoder(pak.tree), 0, &memo)),
              Decode(kept, pak.tree))
        << round;
  }
}

// Each block of `bytes` at `offsets`, decoded in place with one memo, as
// Show gives it; each must be what its own bytes give decoded alone.
std::string InPlace(const std::string& bytes,
                    const std::vector<int64_t>& offsets, const Nodes& nodes) {
  LoadedPak pak = WithOffsets(bytes, offsets);
  pak.tree = MakeCodeTree(nodes);
  const BlockDecoder decoder(pak.tree);
  StringEndMemo memo(std::ssize(bytes));
  std::string text, scratch;
  for (size_t b = 0; b < offsets.size(); ++b) {
    const std::string shown = Show(DecodePakBlock(pak, decoder, b, &memo));
    EXPECT_EQ(shown, Show(decoder.Decode(BlockBytes(pak, b, &scratch))))
        << "block " << b;
    text += shown + " ";
  }
  return text;
}

// Blocks decoded in place, at the edges: a string far longer than the table
// decoder keeps at that ends exactly at the extent's end or one byte past it
// (its end walked once, then found in the memo), and strings from the zeros
// past the end of the file, exactly as many as fit. Last, zeros end a string
// from the root within a byte, but the string under way sits deep in a chain
// of zero codes that takes 15 more bytes to leave: the zeros kept must serve
// it too, not only the strings after it.
TEST(BlockBytesTest, InPlaceAtTheEdges) {
  Nodes far = Chain(std::string(120, 'x') + "y");  // 'y': 120 zeros
  far.back().parent = 242;
  far.push_back({'|', 242, kL, kL});  // '|': one zero from the root
  far.push_back({0, 0, 241, 240});
  const std::string a = std::string(40000, 'A');
  const std::string long_string =
      Unhex("01 00 00 00") + std::string(5000, '\xFF') + '\0';  // 5005
  const std::string cut = Unhex("05 00") + std::string(10, '\0') + "\xFF";
  const std::tuple<std::string, std::vector<int64_t>, std::string> cases[] = {
      {long_string, {0, 5005, 0, 5004}, "1: " + a + "| 0: 1: 0: "},
      {long_string, {0, 5006, 0, 5005}, "1: " + a + "| 0: 1: " + a + "| 0: "},
      {cut, {0, 16}, "5: AAAAAAAA| | | 0: "},
      {cut, {0, 15, 0, 14}, "5: AAAAAAAA| | 0: 5: AAAAAAAA| 0: "}};
  for (const auto& [bytes, offsets, expected] : cases) {
    EXPECT_EQ(InPlace(bytes, offsets, ZeroIsTerminatorTree()), expected);
  }
  EXPECT_EQ(InPlace(Unhex("01 00 00 00 80"), {0, 5000}, far), "1: y| 0: ");
}

// Codes of three bits for zeros keep a walk's bit phase from byte to byte, so
// blocks that start at other bytes cross a checkpoint in other walk states;
// a run of 21 ones ends a string ('|' is twenty ones) in some phases only. A
// memo that gave one state's end to another would be caught here.
TEST(BlockBytesTest, RememberedEndsBelongToTheirWalkState) {
  Nodes nodes = {{'p', 4, kL, kL}, {'q', 4, kL, kL}, {'r', 5, kL, kL},
                 {'s', 5, kL, kL}, {0, 6, 0, 1},     {0, 6, 2, 3},
                 {0, 46, 4, 5}};
  for (int k = 1; k <= 19; ++k) nodes.push_back({'a' + k - 1, 0, kL, kL});
  nodes.push_back({'|', 27, kL, kL});  // node 26
  for (int k = 19; k >= 1; --k) {      // node 27 + 19 - k: ones to depth k
    const int at = 27 + 19 - k;
    nodes[7 + k - 1].parent = at;
    nodes.push_back(
        {0, k == 1 ? 46 : at + 1, 7 + k - 1, k == 19 ? 26 : at - 1});
  }
  nodes.push_back({0, 0, 6, 45});  // the root, node 46
  std::mt19937 random(5);
  std::string bytes(40000, '\0');
  for (int64_t bit = 3000; bit + 21 < 8 * std::ssize(bytes);
       bit += 2000 + random() % 3000) {
    for (int64_t k = bit; k < bit + 21; ++k) bytes[k / 8] |= 0x80 >> (k % 8);
  }
  std::vector<int64_t> offsets;
  for (int b = 0; b < 120; ++b) {  // every other block runs past the end
    offsets.push_back(b % 2 ? 41000 + random() % 9000 : random() % 39000);
    if (b % 2 == 0) bytes.replace(offsets.back(), 4, "\1\0\0\0", 4);
  }
  InPlace(bytes, offsets, nodes);
}

}  // namespace
}  // namespace vorlex::core::testing
