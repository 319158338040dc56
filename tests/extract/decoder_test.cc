#include "extract/decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "extract/worked_examples.h"
#include "support/command_test.h"
#include "support/pak_maker.h"

namespace vorlex::testing {
namespace {

std::vector<std::string> Strings(const DecodedBlock& decoded) {
  std::vector<std::string> strings;
  for (size_t k = 0; k < decoded.StringsDecoded(); ++k) {
    strings.emplace_back(decoded.String(k));
  }
  return strings;
}

using Words = std::vector<std::string>;

TEST(DecodeBlockTest, WorkedExampleFiveNodes) {
  const DecodedBlock decoded =
      DecodeBlock(FiveNodeBlock(), MakeCodeTree(FiveNodeTree()));
  EXPECT_EQ(decoded.string_count, 2);
  EXPECT_EQ(Strings(decoded), (Words{"ab|", "|"}));
}

TEST(DecodeBlockTest, WorkedExampleThreeNodePakfile) {
  const LoadedPak pak = LoadTestPak(ThreeNodePak());
  const DecodedBlock decoded =
      DecodeBlock(std::string_view(pak.bytes).substr(22), pak.tree);
  EXPECT_EQ(decoded.string_count, 1);
  EXPECT_EQ(Strings(decoded), (Words{"A|"}));
}

TEST(DecodeBlockTest, EmptyAndShortBlocksHoldNoStrings) {
  const CodeTree tree = MakeCodeTree(FiveNodeTree());
  for (const std::string& block :
       {std::string(), Unhex("00 00"), Unhex("00 00 58 C0"), Unhex("02")}) {
    const DecodedBlock decoded = DecodeBlock(block, tree);
    EXPECT_EQ(decoded.StringsDecoded(), 0u) << Hex(block);
    EXPECT_EQ(decoded.text, "");
  }
  // A block of one byte counts what that byte says.
  EXPECT_EQ(DecodeBlock(Unhex("02"), tree).string_count, 2);
  EXPECT_EQ(DecodeBlock(Unhex("34 12"), tree).string_count, 0x1234);
}

TEST(DecodeBlockTest, RestOfTheByteAfterTheTerminatorIsSkipped) {
  // A = 0, '|' = 1: eight A fill the first byte and the terminator is the
  // first bit of the second. Its other seven bits are set, and would read as
  // more strings if they were walked.
  const CodeTree tree = MakeCodeTree(BuildHuffmanTree({"A|"}));
  const DecodedBlock decoded =
      DecodeBlock(Unhex("02 00 00 00 02 00  00 FF  40"), tree);
  EXPECT_EQ(Strings(decoded), (Words{"AAAAAAAA|", "A|"}));
}

TEST(DecodeBlockTest, CodeRunsOnAcrossAByteBoundary) {
  // "aaaaaaab|": seven 0 bits, then b = 10 split by the byte boundary.
  const CodeTree tree = MakeCodeTree(FiveNodeTree());
  EXPECT_EQ(Strings(DecodeBlock(Unhex("01 00 00 00 01 60"), tree)),
            (Words{"aaaaaaab|"}));
  // Weights 1, 1, 2, 4, ... give codes of up to 12 bits: a and '|'.
  Words weights;
  for (int i = 0; i < 12; ++i) weights.push_back(std::string(1u << i, 'a' + i));
  const std::vector<TreeNode> deep = BuildHuffmanTree(weights);
  ASSERT_EQ(EncodeTestString(deep, "a").size(), 2u);
  const Words strings = {"aja|", "lkjihgfedcba|", "|", "a|"};
  EXPECT_EQ(
      Strings(DecodeBlock(EncodeTestBlock(deep, strings), MakeCodeTree(deep))),
      strings);
}

TEST(DecodeBlockTest, BlockCutShortKeepsTheWholeStringsBeforeTheCut) {
  const Words strings = {"first|", "second|", "a third, longer string|",
                         "fourth|", "fifth|"};
  const std::vector<TreeNode> nodes = BuildHuffmanTree(strings);
  const std::string block = EncodeTestBlock(nodes, strings);
  const size_t third = 12 + EncodeTestString(nodes, strings[0]).size() +
                       EncodeTestString(nodes, strings[1]).size();
  const DecodedBlock decoded =
      DecodeBlock(block.substr(0, third + 2), MakeCodeTree(nodes));
  EXPECT_EQ(decoded.string_count, 5);
  EXPECT_EQ(Strings(decoded), (Words{"first|", "second|"}));
  EXPECT_EQ(decoded.text, "first|second|");
}

TEST(DecodeBlockTest, StaleBytesAfterTheLastStringAreNotRead) {
  const CodeTree tree = MakeCodeTree(FiveNodeTree());
  EXPECT_EQ(Strings(DecodeBlock(FiveNodeBlock() + Unhex("FF 00 C0 C0"), tree)),
            (Words{"ab|", "|"}));
  // A count below the strings present stops early.
  EXPECT_EQ(Strings(DecodeBlock(Unhex("01 00 00 00 58 C0"), tree)),
            (Words{"ab|"}));
}

TEST(DecodeBlockTest, BitDataStartsAfterTheRelativeOffsets) {
  // The relative offsets are skipped unread, whatever they hold.
  const CodeTree tree = MakeCodeTree(FiveNodeTree());
  EXPECT_EQ(Strings(DecodeBlock(Unhex("02 00 C0 C0 C0 C0 58 C0"), tree)),
            (Words{"ab|", "|"}));
}

TEST(DecodeBlockTest, AnyByteValueButTheTerminatorIsDecoded) {
  Words strings;
  for (int c = 0; c < 256; c += 2) {
    if (c != '|') strings.push_back(std::string(1, static_cast<char>(c)) + "|");
  }
  const std::vector<TreeNode> nodes = BuildHuffmanTree(strings);
  EXPECT_EQ(Strings(DecodeBlock(EncodeTestBlock(nodes, strings),
                                MakeCodeTree(nodes))),
            strings);
}

TEST(DecodeBlockTest, NoNodesDecodeNothing) {
  const DecodedBlock decoded =
      DecodeBlock(Unhex("01 00 00 00 40 40 40"), MakeCodeTree({}));
  EXPECT_EQ(decoded.string_count, 1);
  EXPECT_EQ(decoded.StringsDecoded(), 0u);
}

// The damaged trees below are exactly as large as their node count, so that
// any read past the table shows under AddressSanitizer.
TEST(DecodeBlockTest, ChildBeyondTheTableReadsAsAnAllZeroNode) {
  // The root's right child 7 lies beyond N = 3: an all-zero node, not a
  // leaf, whose children are node 0.
  const std::vector<TreeNode> nodes = {
      {'x', 2, 255, 255}, {'|', 2, 255, 255}, {0, 0, 1, 7}};
  // 1 0 -> node 7, then node 0: x; 0 -> '|'.
  EXPECT_EQ(Strings(DecodeBlock(Unhex("02 00 00 00 01 00 80 C0"),
                                MakeCodeTree(nodes))),
            (Words{"x|", "x|"}));
}

TEST(DecodeBlockTest, HalfLeafIsALeafFromOneSideOnly) {
  // Node 0 has no left child but a right one: reached by a 0 bit it is the
  // leaf h, reached by a 1 bit a node to walk on from. Its missing left child
  // 255 lies beyond the table.
  const std::vector<TreeNode> nodes = {
      {'h', 2, 255, 1}, {'|', 0, 255, 255}, {0, 0, 0, 0}};
  // 0 -> h; 1 1 -> node 0, node 1: '|'.
  // 1 0 0 -> node 0, node 255, node 0 from the left: h; 1 1 -> '|'.
  EXPECT_EQ(Strings(DecodeBlock(Unhex("02 00 00 00 01 00 60 98"),
                                MakeCodeTree(nodes))),
            (Words{"h|", "h|"}));
}

TEST(DecodeBlockTest, WalksThatNeverReachALeafEndWithTheBytes) {
  // The root is its own left child; zero bits circle forever.
  const std::vector<TreeNode> loop = {{'|', 1, 255, 255}, {0, 0, 1, 0}};
  const DecodedBlock decoded = DecodeBlock(
      Unhex("03 00 00 00 00 00 00 00 00 80 00"), MakeCodeTree(loop));
  EXPECT_EQ(decoded.string_count, 3);
  EXPECT_EQ(Strings(decoded), (Words{"|"}));
}

TEST(DecodeBlockTest, SingleNodeTreeIsItsOwnLeafFromBeyondTheTable) {
  // N = 1: the root's children 255 lie beyond the table; from that all-zero
  // node every bit leads back to node 0, the root, whose child fields mark it
  // as a leaf on both sides.
  const std::vector<TreeNode> one = {{'|', 0, 255, 255}};
  EXPECT_EQ(
      Strings(DecodeBlock(Unhex("02 00 00 00 00 00 00 40"), MakeCodeTree(one))),
      (Words{"|", "|"}));
}

TEST(DecodeBlockTest, RootNumberedAbove255) {
  std::vector<TreeNode> nodes(257);
  nodes[0] = {'a', 256, 255, 255};
  nodes[1] = {'|', 256, 255, 255};
  nodes[256] = {0, 0, 0, 1};
  EXPECT_EQ(Strings(DecodeBlock(Unhex("02 00 00 00 01 00 40 80"),
                                MakeCodeTree(nodes))),
            (Words{"a|", "|"}));
}

TEST(DecodeBlockTest, HandMadeChildNumbersAbove255AreFollowed) {
  // Only a tree made in memory has such links; a pakfile's are bytes.
  std::vector<TreeNode> nodes(300);
  nodes[280] = {'q', 299, 255, 255};
  nodes[1] = {'|', 299, 255, 255};
  nodes[299] = {0, 0, 280, 1000};
  nodes[0] = {0, 0, 280, 1};
  // 0 -> q; 1 -> node 1000 (all zero), 1 -> node 0, 1 -> '|'.
  EXPECT_EQ(Strings(DecodeBlock(Unhex("01 00 00 00 70"), MakeCodeTree(nodes))),
            (Words{"q|"}));
}

// The decoding rules stated plainly, one node record lookup per bit, for
// comparing with DecodeBlock on damaged trees.
Words ReferenceDecode(std::string_view block,
                      const std::vector<TreeNode>& nodes) {
  auto node = [&](int64_t k) {
    return k >= 0 && k < static_cast<int64_t>(nodes.size())
               ? nodes[static_cast<size_t>(k)]
               : TreeNode{};
  };
  const int64_t n =
      block.size() < 2
          ? (block.empty() ? 0 : static_cast<unsigned char>(block[0]))
          : static_cast<unsigned char>(block[0]) +
                256 * static_cast<unsigned char>(block[1]);
  Words strings;
  if (nodes.empty()) return strings;
  const int64_t root = static_cast<int64_t>(nodes.size()) - 1;
  int64_t current = root;
  std::string s;
  for (size_t p = 2 + 2 * n;
       p < block.size() && static_cast<int64_t>(strings.size()) < n; ++p) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool one = (block[p] >> bit) & 1;
      current = one ? node(current).child_r : node(current).child_l;
      if ((one ? node(current).child_r : node(current).child_l) != 255) {
        continue;
      }
      s.push_back(static_cast<char>(node(current).char_));
      current = root;
      if (s.back() == '|') {
        strings.push_back(s);
        s.clear();
        break;
      }
    }
  }
  return strings;
}

TEST(DecodeBlockTest, DamagedTreesDecodeByTheRules) {
  std::mt19937 random(17);
  for (int round = 0; round < 400; ++round) {
    // Mostly small tables, so that many links point beyond them; now and then
    // one with more than 256 nodes.
    const size_t count = round % 10 == 0 ? 256 + random() % 40 : random() % 40;
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
      node = {random() % 3 == 0 ? '|' : static_cast<int>(random() % 256),
              static_cast<int>(random() % 256), link(), link()};
    }
    std::string block = Unhex("05 00 00 00 00 00 00 00 00 00 00 00");
    for (size_t i = random() % 60; i > 0; --i) {
      block.push_back(static_cast<char>(random()));
    }
    const CodeTree tree = MakeCodeTree(nodes);
    EXPECT_EQ(Strings(DecodeBlock(block, tree)), ReferenceDecode(block, nodes))
        << "round " << round << ", block " << Hex(block);
  }
}

TEST(DecodeBlockTest, ReadsBackWhatThePakMakerEncodes) {
  std::mt19937 random(5);
  for (uint32_t seed = 1; seed <= 150; ++seed) {
    // An alphabet of 1 to 127 bytes of any value but the terminator.
    std::string alphabet;
    for (size_t size = 1 + random() % 127; alphabet.size() < size;) {
      const char c = static_cast<char>(random());
      if (c != '|' && alphabet.find(c) == std::string::npos) alphabet += c;
    }
    if (alphabet.find_first_not_of(" \n") == std::string::npos) alphabet += 'x';
    const std::vector<TestBlock> blocks =
        RandomBlocks(seed, 3, static_cast<int>(random() % 30), alphabet,
                     static_cast<int>(random() % 200));
    std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(blocks));
    if (seed % 2 == 0) nodes = RenumberTree(nodes, seed);
    const CodeTree tree = MakeCodeTree(nodes);
    for (const TestBlock& block : blocks) {
      const DecodedBlock decoded =
          DecodeBlock(EncodeTestBlock(nodes, block.strings), tree);
      EXPECT_EQ(decoded.string_count,
                static_cast<int32_t>(block.strings.size()));
      ASSERT_EQ(Strings(decoded), block.strings) << "seed " << seed;
    }
  }
}

}  // namespace
}  // namespace vorlex::testing
