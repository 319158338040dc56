// Coding strings with the pakfile's own tree.
#include "pack/encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extract/decoder.h"
#include "extract/worked_examples.h"

namespace vorlex::core::testing {
namespace {

// The code of `text` in hex, after "stop N: " when character N has no code.
// It is appended after a byte already there, which it must leave alone.
std::string Encode(const std::vector<TreeNode>& nodes, std::string_view text) {
  std::string out = "\xFF";
  const EncodeResult result =
      EncodeString(text, BuildCodeTable(MakeCodeTree(nodes)), &out);
  EXPECT_EQ(out[0], '\xFF');
  if (result.ok) return Hex(out.substr(1));
  EXPECT_EQ(result.byte, static_cast<unsigned char>(text[result.position]));
  return "stop " + std::to_string(result.position) + ": " + Hex(out.substr(1));
}

TEST(EncodeStringTest, CodesPaddingTerminatorsAndCharactersWithoutCode) {
  std::vector<TreeNode> nodes = FiveNodeTree();  // a 0, b 10, '|' 11
  nodes[4].char_ = 'r';  // the root's path is empty whatever it carries
  auto code = [&](std::string_view text) { return Encode(nodes, text); };
  EXPECT_EQ(code("a|"), "60");
  EXPECT_EQ(code("aaaaaaaaa|"), "00 60");
  EXPECT_EQ(code("ab|"), "58");
  EXPECT_EQ(code("aaaaaa|"), "03");  // whole bytes get no padding byte
  EXPECT_EQ(code("aaaaaaaaaaaaaa|"), "00 03");
  EXPECT_EQ(code("ab|xyz"), "58");  // what follows the first '|' is not read
  EXPECT_EQ(code("|ab"), "C0");
  EXPECT_EQ(code("ab"), "40");
  EXPECT_EQ(code(""), "");
  // The bits before a character without code are kept and padded.
  EXPECT_EQ(code("xab|"), "stop 0: ");
  EXPECT_EQ(code("ab\351a|"), "stop 2: 40");
  EXPECT_EQ(code("r"), "stop 0: ");
  EXPECT_EQ(code(std::string_view("\0", 1)), "80");  // interior node 3 has 0
  EXPECT_EQ(Encode({{65, 0, 255, 255}}, "A"), "stop 0: ");  // a lone root
  EXPECT_EQ(Encode({}, "A"), "stop 0: ");
}

TEST(EncodeStringTest, CodesLongerThanTheBitBufferMatchAnIndependentEncoder) {
  // The deepest tree: leaf d (the character 128 + d) has the code of d ones
  // and a zero, the last leaf ('|') 99 ones. Leaves first, the root last.
  std::vector<TreeNode> nodes(199);
  for (int d = 0; d < 99; ++d) {
    nodes[198 - d] = {0, d == 0 ? 0 : 199 - d, d, d < 98 ? 197 - d : 99};
    nodes[d] = {128 + d, 198 - d, 255, 255};
  }
  nodes[99] = {'|', 100, 255, 255};
  std::string text;
  for (int d : {98, 0, 57, 56, 55, 97, 3, 98})
    text += static_cast<char>(128 + d);
  text += '|';
  const CodeTree tree = MakeCodeTree(nodes);
  std::string block("\x01\0\0\0", 4);
  ASSERT_TRUE(EncodeString(text, BuildCodeTable(tree), &block).ok);
  EXPECT_EQ(Hex(block.substr(4)), Hex(EncodeTestString(nodes, text)));
  EXPECT_EQ(BlockDecoder(tree).Decode(block).text, text);
}

}  // namespace
}  // namespace vorlex::core::testing
