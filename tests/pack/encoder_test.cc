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
  EXPECT_EQ(code("aab|"), "2C");     // the terminator last of four
  EXPECT_EQ(code("aaaaaa|"), "03");  // whole bytes get no padding byte
  EXPECT_EQ(code("aaaaaaaaaaaaaa|"), "00 03");
  EXPECT_EQ(code("ab|xyz"), "58");  // what follows the first '|' is not read
  EXPECT_EQ(code("|ab"), "C0");
  EXPECT_EQ(code("ab"), "40");
  EXPECT_EQ(code(""), "");
  // The bits before a character without code are kept and padded.
  EXPECT_EQ(code("xab|"), "stop 0: ");
  EXPECT_EQ(code("ab\351a|"), "stop 2: 40");
  EXPECT_EQ(code("aab\351|"), "stop 3: 20");
  EXPECT_EQ(code("r"), "stop 0: ");
  EXPECT_EQ(code(std::string_view("\0", 1)), "80");  // interior node 3 has 0
  EXPECT_EQ(Encode({{65, 0, 255, 255}}, "A"), "stop 0: ");  // a lone root
  EXPECT_EQ(Encode({}, "A"), "stop 0: ");
}

TEST(EncodeStringTest, CodesAtEveryPathsLongestMatchTheirHandMadeBits) {
  // Codes are joined in fours up to 14 bits, in twos up to 28 and fed in
  // slices past 56: each longest code at and one past those edges.
  for (int longest : {14, 15, 28, 29, 56, 57, 99}) {
    // Leaf d (the character 128 + d) has the code of d ones and a zero, the
    // last leaf ('|') `longest` ones. Leaves first, the root last.
    const int count = 2 * longest + 1;
    std::vector<TreeNode> nodes(static_cast<size_t>(count));
    for (int d = 0; d < longest; ++d) {
      nodes[count - 1 - d] = {0, d == 0 ? 0 : count - d, d,
                              d < longest - 1 ? count - 2 - d : longest};
      nodes[d] = {128 + d, count - 1 - d, 255, 255};
    }
    nodes[longest] = {'|', longest + 1, 255, 255};
    // Runs of the longest codes after codes of 1 to 3 bits, so that they
    // meet every number of pending bits.
    std::string text;
    for (int d : {0, 1, 2, 0, 1, 0, 2, 1}) {
      text += static_cast<char>(128 + d);
      text += std::string(4 + d, static_cast<char>(128 + longest - 1));
    }
    // Codes of 56 and 57 bits among longer ones.
    for (int d : {longest / 2, 55, 56}) {
      if (d < longest) text += static_cast<char>(128 + d);
    }
    text += '|';
    const CodeTree tree = MakeCodeTree(nodes);
    std::string block("\x01\0\0\0", 4);
    ASSERT_TRUE(EncodeString(text, BuildCodeTable(tree), &block).ok);
    std::string bits;  // each code by the tree's shape, then packed
    for (unsigned char c : text) {
      bits += c == '|' ? std::string(longest, '1')
                       : std::string(c - 128, '1') + '0';
    }
    std::string code((bits.size() + 7) / 8, '\0');
    for (size_t i = 0; i < bits.size(); ++i)
      code[i / 8] |= static_cast<char>((bits[i] & 1) << (7 - i % 8));
    EXPECT_EQ(Hex(block.substr(4)), Hex(code)) << longest;
    EXPECT_EQ(BlockDecoder(tree).Decode(block).text, text) << longest;
  }
}

}  // namespace
}  // namespace vorlex::core::testing
