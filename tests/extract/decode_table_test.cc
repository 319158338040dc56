// The table-driven decoder against the plain walk: they must agree on every
// block, damaged trees, misleading relative offsets and cut blocks included.
#include "extract/decode_table.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "extract/decoder.h"
#include "support/command_test.h"
#include "support/pak_maker.h"

namespace vorlex::testing {
namespace {

void ExpectSameDecoding(std::string_view block, const CodeTree& tree,
                        const DecodeTable& table, const std::string& what) {
  const DecodedBlock plain = DecodeBlock(block, tree);
  const DecodedBlock fast = DecodeBlockWithTable(block, table);
  EXPECT_EQ(fast.string_count, plain.string_count) << what;
  EXPECT_EQ(fast.ends, plain.ends) << what;
  ASSERT_EQ(fast.text, plain.text) << what << "\nblock " << Hex(block);
}

std::vector<TreeNode> RandomDamagedTree(std::mt19937& random) {
  const size_t count = random() % 8 == 0 ? 256 + random() % 40 : random() % 60;
  std::vector<TreeNode> nodes(count);
  auto link = [&] {
    switch (random() % 4) {
      case 0:
        return 255;
      case 1:
        return static_cast<int>(random() % 256);
      default:
        return count == 0 ? 0 : static_cast<int>(random() % count % 256);
    }
  };
  for (TreeNode& node : nodes) {
    node = {random() % 4 == 0 ? '|' : static_cast<int>(random() % 256),
            static_cast<int>(random() % 256), link(), link()};
  }
  return nodes;
}

// A block of `n` strings whose relative offsets are random: they send the
// side-by-side streams to wrong places, which must not change the result.
std::string RandomBlock(std::mt19937& random, size_t n, size_t data_size) {
  std::string block;
  block.push_back(static_cast<char>(n & 0xFF));
  block.push_back(static_cast<char>(n >> 8));
  for (size_t i = 0; i < 2 * n; ++i) {
    block.push_back(static_cast<char>(random() % (i % 2 == 0 ? 256 : 8)));
  }
  for (size_t i = 0; i < data_size; ++i) {
    block.push_back(static_cast<char>(random()));
  }
  return block;
}

TEST(DecodeTableTest, AgreesWithTheWalkOnDamagedTrees) {
  std::mt19937 random(29);
  for (int round = 0; round < 300; ++round) {
    const CodeTree tree = MakeCodeTree(RandomDamagedTree(random));
    const DecodeTable table = MakeDecodeTable(tree);
    const std::string block =
        RandomBlock(random, random() % 40, random() % 3000);
    ExpectSameDecoding(block, tree, table, "round " + std::to_string(round));
  }
}

TEST(DecodeTableTest, AgreesOnSoundBlocksWholeCutAndMisled) {
  std::mt19937 random(31);
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    const std::vector<TestBlock> blocks =
        RandomBlocks(seed, 2, 8 + static_cast<int>(random() % 300),
                     kDefaultAlphabet, 5 + static_cast<int>(random() % 120));
    std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(blocks));
    if (seed % 2 == 0) nodes = RenumberTree(nodes, seed);
    const CodeTree tree = MakeCodeTree(nodes);
    const DecodeTable table = MakeDecodeTable(tree);
    for (const TestBlock& source : blocks) {
      const std::string block = EncodeTestBlock(nodes, source.strings);
      const std::string what = "seed " + std::to_string(seed);
      ExpectSameDecoding(block, tree, table, what);
      EXPECT_EQ(DecodeBlockWithTable(block, table).StringsDecoded(),
                source.strings.size());
      // Cut anywhere, the whole strings before the cut survive.
      for (int cut = 0; cut < 12; ++cut) {
        ExpectSameDecoding(block.substr(0, random() % block.size()), tree,
                           table, what + ", cut");
      }
      // Offsets that lie: shuffled, or pointing one byte off.
      std::string misled = block;
      const size_t n = source.strings.size();
      for (size_t i = 1; i < n; ++i) {
        const size_t j = 1 + random() % (n - 1);
        std::swap(misled[2 + 2 * i], misled[2 + 2 * j]);
        std::swap(misled[3 + 2 * i], misled[3 + 2 * j]);
      }
      ExpectSameDecoding(misled, tree, table, what + ", shuffled offsets");
      std::string off_by_one = block;
      off_by_one[2 + 2 * (n / 2)] = static_cast<char>(off_by_one[2 + n] + 1);
      ExpectSameDecoding(off_by_one, tree, table, what + ", offset off");
    }
  }
}

TEST(DecodeTableTest, CodesLongerThanTheTableAreWalked) {
  // A chain: the k-th character's code is k ones and a zero, so codes run
  // from 1 to 39 bits, far beyond one lookup.
  std::vector<std::string> strings;
  std::string alphabet = "|abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLM";
  std::vector<TreeNode> nodes;
  const int leaves = static_cast<int>(alphabet.size());
  // Leaves 0..leaves-1, then the chain's inner nodes from the bottom up.
  for (int k = 0; k < leaves; ++k) {
    nodes.push_back({static_cast<unsigned char>(alphabet[k]), 0, 255, 255});
  }
  int below = leaves - 1;  // the deepest leaf hangs off the last inner node
  for (int k = leaves - 2; k >= 0; --k) {
    const int inner = static_cast<int>(nodes.size());
    nodes.push_back({0, 0, k, below});
    nodes[static_cast<size_t>(k)].parent = inner;
    nodes[static_cast<size_t>(below)].parent = inner;
    below = inner;
  }
  const CodeTree tree = MakeCodeTree(nodes);
  const DecodeTable table = MakeDecodeTable(tree);
  std::mt19937 random(37);
  std::vector<std::string> texts;
  for (int s = 0; s < 60; ++s) {
    std::string text;
    for (size_t i = random() % 30; i > 0; --i) {
      text.push_back(alphabet[1 + random() % (alphabet.size() - 1)]);
    }
    texts.push_back(text + "|");
  }
  const std::string block = EncodeTestBlock(nodes, texts);
  ExpectSameDecoding(block, tree, table, "chain tree");
  EXPECT_EQ(DecodeBlockWithTable(block, table).StringsDecoded(), texts.size());
}

}  // namespace
}  // namespace vorlex::testing
