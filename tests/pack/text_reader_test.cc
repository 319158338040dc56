// Reading the text file: its lines and its block sections.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "extract/worked_examples.h"
#include "pack/block_packer.h"
#include "support/faulty_files.h"

namespace vorlex::core::testing {
namespace {

// The lines left, each ended by LF, checking the line count on the way.
std::string Rest(LineReader& lines) {
  std::string rest;
  for (int64_t n = lines.line_number() + 1; !lines.AtEnd(); ++n) {
    rest.append(lines.NextLine()).push_back('\n');
    EXPECT_EQ(lines.line_number(), n);
  }
  EXPECT_EQ(lines.NextLine(), "");
  return rest;
}

// The lines of `text`, the same from memory and from a file read in chunks
// of any size (so that every byte falls on a chunk boundary).
std::string LinesOf(std::string_view text) {
  LineReader from_memory(text);
  const std::string lines = Rest(from_memory);
  TempDir dir;
  WriteFileOrDie(dir.Path("t"), text);
  RealFileSystem real;
  for (size_t chunk : {1, 2, 3, 4, 5, 1 << 16}) {
    const int fd = ::open(dir.Path("t").c_str(), O_RDONLY);
    LineReader from_file(real, fd, chunk);
    EXPECT_EQ(Rest(from_file), lines) << chunk;
    EXPECT_FALSE(from_file.read_failed());
    ::close(fd);
  }
  return lines;
}

TEST(LineReaderTest, LfAndCrLfEndLinesALoneCrStaysByte26EndsTheInput) {
  EXPECT_EQ(LinesOf("ab\nb\r\n\r\nc"), "ab\nb\n\nc\n");
  EXPECT_EQ(LinesOf("a\rb\r\r\nc\r"), "a\rb\r\nc\r\n");
  EXPECT_EQ(LinesOf("a\r\nb\032c\r\nd\r\n"), "a\nb\n");
  EXPECT_EQ(LinesOf("\032a\r\n"), "");
  EXPECT_EQ(LinesOf("ab\r\032\n"), "ab\r\n");
}

TEST(LineReaderTest, AReadErrorEndsTheInputAndIsReported) {
  TempDir dir;
  WriteFileOrDie(dir.Path("t"), "ab\r\ncd\r\nef\r\n");
  FaultyFiles files;
  files.FailAt(FaultyFiles::kRead, 3);
  const int fd = ::open(dir.Path("t").c_str(), O_RDONLY);
  LineReader lines(files, fd, 4);
  EXPECT_EQ(Rest(lines), "ab\ncd\n");
  EXPECT_TRUE(lines.read_failed());
  ::close(fd);
  EXPECT_TRUE(LineReader(files, -1).AtEnd());
}

// What `calls` calls of PackBlock made of one text.
struct Reading {
  std::vector<PackedSection> blocks;
  std::vector<std::string> hex;  // each block's bytes
  std::vector<int32_t> ids;      // the current block id after each call
  std::string out, err, rest;
};

Reading Read(std::string_view text, const std::vector<TreeNode>& nodes,
             int calls = 1) {
  Reading r;
  LineReader lines(text);
  const CodeTree tree = MakeCodeTree(nodes);
  const CodeTable codes = BuildCodeTable(tree);
  Console console = StringConsole(&r.out, &r.err);
  const BlockDecoder decoder(tree);
  const BlockCoder coder{.codes = codes, .decoder = decoder};
  BlockPacker packer(lines, coder, "t.txt", console);
  std::string bytes = "(before)";  // blocks are appended to what is there
  for (int k = 0; k < calls; ++k) {
    r.blocks.push_back(packer.PackBlock(k, &bytes));
    r.hex.push_back(Hex(bytes.substr(r.blocks.back().start)));
    r.ids.push_back(packer.current_block_id());
  }
  r.rest = Rest(lines);
  return r;
}

// A block section with ID 3 and `count` strings, then `lines`.
std::string Block(int count, std::vector<std::string> lines) {
  lines.insert(lines.begin(), {"B: 0", "ID: 3", "N: " + std::to_string(count)});
  return CrLf(lines);
}

// `text` gives the block of `strings`, coded with a tree made for them, or
// with FiveNodeTree as `hex` when that is given.
void ExpectSound(const std::string& text,
                 const std::vector<std::string>& strings, int32_t id,
                 std::string_view rest = "", const char* hex = "") {
  SCOPED_TRACE(text);
  const std::vector<TreeNode> nodes =
      *hex ? FiveNodeTree() : BuildHuffmanTree(strings);
  const Reading r = Read(text, nodes);
  EXPECT_TRUE(r.blocks[0].sound() && r.blocks[0].complete);
  EXPECT_EQ(r.hex[0], *hex ? hex : Hex(EncodeTestBlock(nodes, strings)));
  EXPECT_EQ(r.ids[0], id);
  EXPECT_EQ(r.rest, rest);
  EXPECT_EQ(r.out + r.err, "");
}

TEST(PackBlockTest, SoundSections) {
  ExpectSound(CrLf({"Any: 99", "00: 7", "0.0: 2", "x", "", "0:  a|", "1:  b|"}),
              {"a|", "b|"}, 7);  // header lines go by position
  // Once the count is known, every line with a colon is a string.
  ExpectSound(Block(2, {"Hello:  ab|", "1:  b|"}), {"ab|", "b|"}, 3);
  ExpectSound(CrLf({"Block Nr: 0", "ID:  2.5", "Nr: 0", "0:  a|", "----"}), {},
              2, "0:  a|\n----\n", "00 00");  // a count of 0 ends it at once
  // Continuation lines are joined with LF; CR LF inside a string comes back
  // as LF, a lone CR stays; blanks after the terminator end the string.
  ExpectSound(Block(2, {"0:  a", "   b: ab", "  |", "1:  |"}),
              {"a\n   b: ab\n  |", "|"}, 3);
  ExpectSound(Block(2, {"0:  one", "two|", "1:  x\ry|"}),
              {"one\ntwo|", "x\ry|"}, 3);
  ExpectSound(Block(2, {"0:  ab|   ", "1:    b|"}), {"ab|", "  b|"}, 3);
  // A '|' inside a line ends the string; lines up to one ending in '|' go.
  ExpectSound(Block(1, {"0:  ab|ba", "1:  b|x", "junk|", "after"}), {"ab|"}, 3,
              "after\n");
  // Offsets point at each string's code, in line order.
  ExpectSound(Block(3, {"1:  b|", "0:  ab|", "2:  a|"}), {}, 3, "",
              "03 00 01 00 00 00 02 00 B0 58 60");
}

TEST(HoldsNumberTest, ADigitAfterBlanksASignAPointOrARadixPrefix) {
  for (const char* value :
       {"7", " \t7x", "-1", "+1", ".5", "&Hf", "&o7", "&B1"})
    EXPECT_TRUE(HoldsNumber(value)) << '"' << value << '"';
  for (const char* value :
       {".", "-", "-.5", "&hG", "&O8", "&b2", "&", "-&H1", "", "x1"})
    EXPECT_FALSE(HoldsNumber(value)) << '"' << value << '"';
}

// `text` gives a block that cannot be written, having printed `out` and told
// `told` on standard error.
void ExpectRefused(const std::string& text, const std::string& out,
                   std::string_view told, bool complete,
                   const std::vector<TreeNode>& nodes = FiveNodeTree(),
                   std::string_view rest = "") {
  SCOPED_TRACE(text.substr(0, 100));
  const Reading r = Read(text, nodes);
  EXPECT_FALSE(r.blocks[0].sound());
  EXPECT_EQ(r.blocks[0].complete, complete);
  EXPECT_EQ(r.out, out);
  EXPECT_NE(r.err.find(told), std::string::npos) << r.err;
  EXPECT_EQ(r.rest, rest);
  EXPECT_EQ(r.hex[0], "");  // nothing of a refused block is kept
}

TEST(PackBlockTest, RefusedSections) {
  const std::string sbh = " Error: String Before Header!\r\n";
  const std::string cnf = " Error: Char not Found in Tree!\r\n";
  const std::vector<TreeNode> five = FiveNodeTree();
  ExpectRefused(CrLf({"0:  a|", "Block: 0", "ID: 1", "Nr: 1", "0:  b|"}), sbh,
                "t.txt:1: block 0: a string line before", true, five);
  // The two characters after the colon are dropped unseen.
  ExpectRefused(Block(3, {"0:xxab|", "1:|", "2:"}), cnf,
                "t.txt:5: block 0: string 1 does not end with '|', so it took "
                "in line 6, which reads like a line of its own (and 2 more "
                "problems in this block)",
                false);
  // The last index ends the block.
  ExpectRefused(Block(3, {"0:  a|", "2:  b|", "1:  ab|"}), "",
                "t.txt:3: block 0: no string has the index 1", true, five,
                "1:  ab|\n");
  // Keys of up to 9 digits are read at once, longer ones saturate.
  for (const std::string key : {"-1", "2", "999999999", "9999999999"}) {
    const std::string index = key.size() < 10 ? key : "2147483647";
    ExpectRefused(
        Block(2, {"0:  a|", key + ":  a|", "1:  a|"}), "",
        "t.txt:5: block 0: string index " + index + " lies outside 0 to 1",
        true);
  }
  const std::vector<TreeNode> lf = BuildHuffmanTree({"ab\nb|"});
  ExpectRefused(Block(1, {"0:  ab", "b"}), "",
                "t.txt:4: block 0: string 0 does not decode back", true, lf);
  // Up to 16 digits, no trailing point, a blank unless negative.
  ExpectRefused(
      CrLf({"Block: 0", "ID: 3", "Nr: -1", "   Extra  : 0.123456789012345678 x",
            "More: -1e20", "Last: -0", "0:  a|"}),
      "???:  0.1234567890123457\r\n(Extra  : 0.123456789012345678 x)\r\n"
      "???: -1E+20\r\n(More: -1e20)\r\n???:  0\r\n(Last: -0)\r\n" +
          sbh,
      "t.txt:3: block 0: a negative string count (-1) (and 5 more problems",
      false);
  ExpectRefused(CrLf({"Block: 0", "ID: 3", "Nr: -2", "More: 1", "0:  a|"}),
                sbh + sbh, "a negative string count (-2)", false);
  ExpectRefused(
      Block(2, {"0:  a|", "1:  ab", "bxa|"}), cnf,
      "t.txt:6: block 0: byte 120 'x' (character 5 of string 1, column 2)",
      true, lf);
  std::vector<TreeNode> interior_c = five;  // 'c' only on an interior node
  interior_c[3].char_ = 'c';
  ExpectRefused(
      Block(2, {"0:  a|", "1:  c|"}), "",
      "t.txt:5: block 0: byte 99 'c' (character 1 of string 1) has no code in "
      "the pakfile's tree: the node that carries it, 3, is not a leaf",
      true, interior_c);
  ExpectRefused(Block(70000, {"0:  a|", "69999:  a|", "after"}), "",
                "t.txt:3: block 0: a string count of 70000", true, five,
                "after\n");
}

TEST(PackBlockTest, TheIdStaysAndTheEndOfTheTextIsToldOnce) {
  const Reading r = Read(Block(2, {"0:  a|"}), FiveNodeTree(), 3);
  EXPECT_EQ(r.ids, (std::vector<int32_t>{3, 3, 3}));
  EXPECT_FALSE(r.blocks[1].sound() || r.blocks[2].sound());
  EXPECT_EQ(r.err.find("t.txt:4: block 0: the text file ends before"), 8u);
  EXPECT_EQ(r.err.find("ends before"), r.err.rfind("ends before"));
}

}  // namespace
}  // namespace vorlex::core::testing
