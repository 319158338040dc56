#include "pack/encoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "extract/decoder.h"
#include "pack/pack_fixtures.h"

namespace vorlex::testing {
namespace {

struct Encoded {
  std::string bytes;
  EncodeResult result;
};

Encoded Encode(const std::vector<TreeNode>& nodes, std::string_view text) {
  const CodeTable table = BuildCodeTable(MakeCodeTree(nodes));
  Encoded encoded;
  encoded.result = EncodeString(text, table, &encoded.bytes);
  return encoded;
}

std::string Hexed(const std::vector<TreeNode>& nodes, std::string_view text) {
  return Hex(Encode(nodes, text).bytes);
}

TEST(EncodeStringTest, WorkedExamples) {
  // a = 0 and '|' = 11: "a|" is 011 and nine a's and '|' run into a 2nd byte.
  EXPECT_EQ(Hexed(FiveNodeTree(), "a|"), "60");
  EXPECT_EQ(Hexed(FiveNodeTree(), "aaaaaaaaa|"), "00 60");
  EXPECT_EQ(Hexed(FiveNodeTree(), "ab|"), "58");
}

TEST(EncodeStringTest, CodesThatFillWholeBytesGetNoPaddingByte) {
  EXPECT_EQ(Hexed(FiveNodeTree(), "aaaaaa|"), "03");             // 8 bits
  EXPECT_EQ(Hexed(FiveNodeTree(), "aaaaaaaaaaaaaa|"), "00 03");  // 16 bits
  EXPECT_EQ(Hexed(FiveNodeTree(), "bbbb"), "AA");                // 8, no '|'
  EXPECT_EQ(Hexed(FiveNodeTree(), "aaaaaaa|"), "01 80");         // 9 bits
}

TEST(EncodeStringTest, OnlyTheTextUpToTheFirstTerminatorIsEncoded) {
  EXPECT_EQ(Hexed(FiveNodeTree(), "ab|   "), "58");
  EXPECT_EQ(Hexed(FiveNodeTree(), "ab|b|a\nb|"), "58");
  EXPECT_EQ(Hexed(FiveNodeTree(), "ab|xyz"), "58");  // never looked at
  EXPECT_EQ(Hexed(FiveNodeTree(), "|ab"), "C0");
  EXPECT_EQ(Hexed(FiveNodeTree(), "ab"), "40");  // no terminator, no code
  EXPECT_EQ(Hexed(FiveNodeTree(), ""), "");
}

TEST(EncodeStringTest, ACharacterWithoutCodeStopsTheStringThere) {
  Encoded first = Encode(FiveNodeTree(), "xab|");
  EXPECT_FALSE(first.result.ok);
  EXPECT_EQ(first.result.position, 0u);
  EXPECT_EQ(first.result.byte, 'x');
  EXPECT_EQ(first.bytes, "");

  // The bits before it are kept and padded; nothing after it is encoded.
  Encoded middle = Encode(FiveNodeTree(),
                          "ab\xE9"
                          "a|");
  EXPECT_FALSE(middle.result.ok);
  EXPECT_EQ(middle.result.position, 2u);
  EXPECT_EQ(middle.result.byte, 0xE9);
  EXPECT_EQ(Hex(middle.bytes), "40");

  // After the terminator nothing is looked at, so nothing is missing.
  EXPECT_TRUE(Encode(FiveNodeTree(), "a|x").result.ok);
}

TEST(EncodeStringTest, TheRootAndCharactersOfNoNodeHaveNoCode) {
  // The root's bit path is empty, whatever Char it carries.
  std::vector<TreeNode> nodes = FiveNodeTree();
  nodes[4].char_ = 'r';
  EXPECT_FALSE(Encode(nodes, "r").result.ok);
  // An interior node's Char is taken like a leaf's: node 3 carries 0.
  EXPECT_TRUE(Encode(nodes, std::string(1, '\0')).result.ok);
  // A single node is the root: nothing can be encoded.
  EXPECT_FALSE(Encode({{65, 0, 255, 255}}, "A").result.ok);
  EXPECT_FALSE(Encode({}, "A").result.ok);
}

TEST(EncodeStringTest, CallsNeverShareAByte) {
  const CodeTable table = BuildCodeTable(MakeCodeTree(FiveNodeTree()));
  std::string out = "\xFF";
  EncodeString("a|", table, &out);
  EncodeString("|", table, &out);
  EXPECT_EQ(Hex(out), "FF 60 C0");
}

TEST(EncodeStringTest, CodesRunAcrossByteBoundaries) {
  // Codes of 1 to 10 bits in the chain tree: the 10-bit code starts in the
  // middle of the first byte and ends in the middle of the second.
  const std::vector<TreeNode> nodes = ChainTree(11);
  std::string text;
  text.push_back(ChainChar(0, 11));   // 0
  text.push_back(ChainChar(9, 11));   // 1111111110
  text.push_back(ChainChar(10, 11));  // 1111111111 ('|')
  // 0 1111111110 1111111111 -> 0111 1111 1101 1111 1111 1000
  EXPECT_EQ(Hexed(nodes, text), "7F DF F8");
}

TEST(EncodeStringTest, CodesLongerThanTheBitBufferStillWork) {
  // Up to 99 bits per character.
  const std::vector<TreeNode> nodes = ChainTree(100);
  std::string text;
  for (int d : {98, 0, 57, 56, 55, 97, 3, 98, 99}) {
    text.push_back(ChainChar(d, 100));
  }
  EXPECT_EQ(Encode(nodes, text).bytes, EncodeTestString(nodes, text));
}

TEST(EncodeStringTest, MatchesAnIndependentEncoderAndDecodesBack) {
  std::mt19937 random(20261206);
  for (int round = 0; round < 60; ++round) {
    const std::vector<TestBlock> blocks =
        RandomBlocks(static_cast<uint32_t>(round), 2, 8);
    std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(blocks));
    if (round % 2 == 1) nodes = RenumberTree(nodes, random());
    const CodeTree tree = MakeCodeTree(nodes);
    const CodeTable table = BuildCodeTable(tree);
    for (const TestBlock& block : blocks) {
      for (const std::string& text : block.strings) {
        std::string code;
        ASSERT_TRUE(EncodeString(text, table, &code).ok);
        ASSERT_EQ(Hex(code), Hex(EncodeTestString(nodes, text))) << text;
        const std::string one_string = std::string("\x01\0\0\0", 4) + code;
        const DecodedBlock decoded = DecodeBlock(one_string, tree);
        ASSERT_EQ(decoded.StringsDecoded(), 1u);
        EXPECT_EQ(decoded.String(0), text);
      }
    }
  }
}

}  // namespace
}  // namespace vorlex::testing
