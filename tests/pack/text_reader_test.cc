#include "pack/text_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pack/pack_fixtures.h"

namespace vorlex::testing {
namespace {

// What some calls of ReadTextBlock on one text made.
struct Reading {
  std::vector<TextBlock> blocks;
  std::vector<std::string> block_bytes;
  std::vector<int32_t> ids;  // CurrentBlockId after each call
  std::string out;
  std::string err;
  bool error_reported = false;
  int64_t problems = 0;
  std::string rest;  // the lines left unread, joined with LF
};

Reading Read(std::string_view text, int calls,
             const std::vector<TreeNode>& nodes = FiveNodeTree()) {
  Reading reading;
  LineReader lines(text);
  const CodeTree tree = MakeCodeTree(nodes);
  const CodeTable codes = BuildCodeTable(tree);
  Console console = StringConsole(&reading.out, &reading.err);
  TextReader reader(lines, tree, codes, "t.txt", console);
  std::string bytes = "(before)";
  for (int k = 0; k < calls; ++k) {
    reading.blocks.push_back(ReadTextBlock(reader, k, &bytes));
    reading.ids.push_back(reader.current_block_id);
  }
  for (size_t k = 0; k < reading.blocks.size(); ++k) {
    const size_t end = k + 1 < reading.blocks.size()
                           ? reading.blocks[k + 1].start
                           : bytes.size();
    reading.block_bytes.push_back(
        bytes.substr(reading.blocks[k].start, end - reading.blocks[k].start));
  }
  while (!lines.AtEnd()) {
    reading.rest.append(lines.NextLine()).push_back('\n');
  }
  reading.error_reported = console.error_reported;
  reading.problems = reader.problems;
  return reading;
}

// A block section as extraction writes it.
std::string Section(int id, const std::vector<std::string>& strings) {
  return ExpectedBlockSection(0, TestBlock{id, strings});
}

std::string Block(const std::vector<std::string>& strings) {
  return Hex(EncodeTestBlock(FiveNodeTree(), strings));
}

TEST(ReadBlockCountTest, FindsTheFirstCountLineInAnyCase) {
  std::string out, err;
  Console console = StringConsole(&out, &err);
  const std::string text =
      CrLf({"Strings extracted from: x", "Number of Nods: 5",
            "the NUMBER of blocks: 3", "Number of Blocks: 9", "rest"});
  LineReader lines(text);
  EXPECT_EQ(ReadBlockCount(lines, console), 3);
  EXPECT_EQ(out, "Nr of Blocks: 3\r\n");
  EXPECT_EQ(lines.NextLine(), "Number of Blocks: 9");
}

TEST(ReadBlockCountTest, TakesTheNumberAfterTheLinesFirstColon) {
  std::string out, err;
  Console console = StringConsole(&out, &err);
  auto count = [&](std::string_view text) {
    LineReader lines(text);
    return ReadBlockCount(lines, console);
  };
  EXPECT_EQ(count("x: Number of Blocks: 4"), 0);  // " Number of..." reads 0
  EXPECT_EQ(count("number of blocks:    2.5e0 blocks\r\n"), 2);
  EXPECT_EQ(count("Number of Blocks: -3"), -3);
  EXPECT_EQ(count("Number of Blocks:   &H10\r\n"), 16);
  EXPECT_EQ(out,
            "Nr of Blocks: 0\r\nNr of Blocks: 2\r\nNr of Blocks:-3\r\n"
            "Nr of Blocks: 16\r\n");
}

TEST(ReadBlockCountTest, NoCountLineGivesNothingAndPrintsNothing) {
  std::string out, err;
  Console console = StringConsole(&out, &err);
  const std::string text = CrLf({"Number of Blocks 3", "Number of  Blocks: 3"});
  LineReader lines(text);
  EXPECT_EQ(ReadBlockCount(lines, console), std::nullopt);
  LineReader empty("");
  EXPECT_EQ(ReadBlockCount(empty, console), std::nullopt);
  EXPECT_EQ(out, "");
}

TEST(FormatMessageNumberTest,
     SixteenDigitsNoTrailingPointBlankWhenNotNegative) {
  EXPECT_EQ(FormatMessageNumber(12), " 12");
  EXPECT_EQ(FormatMessageNumber(-1), "-1");
  EXPECT_EQ(FormatMessageNumber(0), " 0");
  EXPECT_EQ(FormatMessageNumber(-0.0), " 0");
  EXPECT_EQ(FormatMessageNumber(2.5), " 2.5");
  EXPECT_EQ(FormatMessageNumber(1.0 / 3), " 0.3333333333333333");
  EXPECT_EQ(FormatMessageNumber(1e20), " 1E+20");
  EXPECT_EQ(FormatMessageNumber(12345678901234567.0), " 1.234567890123457E+16");
  EXPECT_EQ(FormatMessageNumber(1234567890123456.0), " 1234567890123456");
}

TEST(ReadTextBlockTest, ABlockSectionAsExtractionWritesIt) {
  const Reading r =
      Read(Section(301, {"ab|", "|", "ba|"}) + Section(302, {"b|"}), 2);
  ASSERT_TRUE(r.blocks[0].sound()) << r.err;
  ASSERT_TRUE(r.blocks[1].sound()) << r.err;
  EXPECT_EQ(Hex(r.block_bytes[0]), Block({"ab|", "|", "ba|"}));
  EXPECT_EQ(Hex(r.block_bytes[1]), Block({"b|"}));
  EXPECT_EQ(r.ids, (std::vector<int32_t>{301, 302}));
  EXPECT_EQ(r.blocks[0].string_count, 3);
  EXPECT_EQ(r.blocks[0].start, 8u);  // appended after what was there
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(ReadTextBlockTest, HeaderLinesCountByPositionNotByName) {
  const Reading r = Read(
      CrLf({"Anything: 99", "00: 7", "0.0: 2", "x", "", "0:  a|", "1:  b|"}),
      1);
  ASSERT_TRUE(r.blocks[0].sound()) << r.err;
  EXPECT_EQ(r.ids[0], 7);
  EXPECT_EQ(Hex(r.block_bytes[0]), Block({"a|", "b|"}));
}

TEST(ReadTextBlockTest, TheKeyZeroIsAStringLineBeforeTheHeader) {
  const Reading r =
      Read(CrLf({"0:  a|", "Block: 0", "ID: 1", "Nr: 1", "0:  b|"}), 1);
  EXPECT_EQ(r.out, " Error: String Before Header!\r\n");
  EXPECT_TRUE(r.error_reported);
  EXPECT_TRUE(Contains(r.err, "t.txt:1: block 0: a string line before"));
  EXPECT_EQ(Hex(r.block_bytes[0]), Block({"b|"}));
  EXPECT_FALSE(r.blocks[0].sound());
}

TEST(ReadTextBlockTest, OnceTheCountIsKnownEveryLineWithAColonIsAString) {
  // A key without a number is the index 0; "ID" after the count likewise.
  const Reading r =
      Read(CrLf({"B: 0", "ID: 3", "N: 2", "Hello:  ab|", "1:  b|"}), 1);
  ASSERT_TRUE(r.blocks[0].sound()) << r.err;
  EXPECT_EQ(Hex(r.block_bytes[0]), Block({"ab|", "b|"}));
}

TEST(ReadTextBlockTest, ACountOfZeroEndsTheSectionAtOnce) {
  const Reading r = Read(
      CrLf({"Block Nr: 0", "ID: 4", "Nr of Strings: 0", "0:  a|", "----"}), 1);
  EXPECT_EQ(Hex(r.block_bytes[0]), "00 00");
  EXPECT_TRUE(r.blocks[0].sound());
  EXPECT_TRUE(r.blocks[0].complete);
  EXPECT_EQ(r.rest, "0:  a|\n----\n");  // not read
}

TEST(ReadTextBlockTest, ThirtyStringsGetThirtyOffsets) {
  std::vector<std::string> strings;
  for (int i = 0; i < 30; ++i) strings.push_back(std::string(i % 7, 'b') + "|");
  const Reading r = Read(Section(1, strings), 1);
  ASSERT_TRUE(r.blocks[0].sound()) << r.err;
  EXPECT_EQ(Hex(r.block_bytes[0]), Block(strings));
}

TEST(ReadTextBlockTest, ContinuationLinesAreJoinedWithLfAndTakenWhole) {
  const std::vector<std::string> strings = {"a\n   b: ab\n  |", "|"};
  const std::vector<TreeNode> nodes = BuildHuffmanTree(strings);
  const Reading wide =
      Read(CrLf({"B: 0", "ID: 3", "N: 2", "0:  a", "   b: ab", "  |", "1:  |"}),
           1, nodes);
  ASSERT_TRUE(wide.blocks[0].sound()) << wide.err;
  EXPECT_EQ(Hex(wide.block_bytes[0]), Hex(EncodeTestBlock(nodes, strings)));
}

TEST(ReadTextBlockTest, CrLfInsideAStringComesBackAsLfALoneCrStays) {
  const std::vector<std::string> strings = {"one\ntwo|", "x\ry|"};
  const std::vector<TreeNode> nodes = BuildHuffmanTree(strings);
  const Reading r = Read(
      "B: 0\r\nID: 1\r\nN: 2\r\n0:  one\r\ntwo|\r\n1:  x\ry|\r\n", 1, nodes);
  ASSERT_TRUE(r.blocks[0].sound()) << r.err;
  EXPECT_EQ(Hex(r.block_bytes[0]), Hex(EncodeTestBlock(nodes, strings)));
}

TEST(ReadTextBlockTest, BlanksAfterTheTerminatorEndTheStringButAreNotCoded) {
  const Reading r =
      Read(CrLf({"B: 0", "ID: 3", "N: 2", "0:  ab|   ", "1:    b|"}), 1,
           BuildHuffmanTree({"ab|", "  b|"}));
  ASSERT_TRUE(r.blocks[0].sound()) << r.err;
  EXPECT_EQ(
      Hex(r.block_bytes[0]),
      Hex(EncodeTestBlock(BuildHuffmanTree({"ab|", "  b|"}), {"ab|", "  b|"})));
}

TEST(ReadTextBlockTest, TheTwoCharactersAfterTheColonAreDroppedUnseen) {
  const Reading r =
      Read(CrLf({"B: 0", "ID: 3", "N: 3", "0:xxab|", "1:|", "2:"}), 1);
  // "1:|" leaves an empty text, which goes on over the next line.
  EXPECT_EQ(Hex(r.block_bytes[0].substr(0, 8)), "03 00 00 00 01 00 00 00");
  EXPECT_FALSE(r.blocks[0].complete);
}

TEST(ReadTextBlockTest, ATerminatorInTheMiddleOfALineSwallowsLinesUpToAnEnd) {
  const Reading r = Read(
      CrLf({"B: 0", "ID: 3", "N: 1", "0:  ab|ba", "1:  b|x", "junk|", "after"}),
      1);
  ASSERT_TRUE(r.blocks[0].sound()) << r.err;
  EXPECT_EQ(Hex(r.block_bytes[0]), Block({"ab|"}));
  EXPECT_EQ(r.rest, "after\n");
}

TEST(ReadTextBlockTest, StringsOutOfOrderArePointedAtByTheirIndex) {
  const Reading r =
      Read(CrLf({"B: 0", "ID: 3", "N: 3", "1:  b|", "0:  ab|", "2:  a|"}), 1);
  ASSERT_TRUE(r.blocks[0].sound()) << r.err;
  // Bit data B0 58 60 in line order; string 0 at 1, 1 at 0, 2 at 2.
  EXPECT_EQ(Hex(r.block_bytes[0]), "03 00 01 00 00 00 02 00 B0 58 60");
}

TEST(ReadTextBlockTest, TheLastIndexEndsTheBlockAMissingIndexIsRefused) {
  const Reading r = Read(CrLf({"B: 0", "ID: 3", "N: 3", "0:  a|", "2:  b|",
                               "1:  ab|", "B: 1", "ID: 4", "N: 1", "0:  a|"}),
                         2);
  EXPECT_TRUE(r.blocks[0].complete);
  EXPECT_FALSE(r.blocks[0].sound());
  EXPECT_TRUE(Contains(r.blocks[0].problem, "t.txt:3: block 0: "));
  EXPECT_TRUE(Contains(r.blocks[0].problem, "index 1"));
  // The next call meets the string line before any header.
  EXPECT_EQ(r.out, " Error: String Before Header!\r\n");
  EXPECT_FALSE(r.blocks[1].sound());
  EXPECT_EQ(Hex(r.block_bytes[1]), Block({"a|"}));
}

TEST(ReadTextBlockTest, ADuplicateIndexIsRefused) {
  const Reading r =
      Read(CrLf({"B: 0", "ID: 3", "N: 2", "0:  a|", "0:  b|", "1:  ab|"}), 1);
  EXPECT_TRUE(r.blocks[0].complete);
  EXPECT_TRUE(Contains(r.blocks[0].problem,
                       "t.txt:5: block 0: string index 0 occurs twice"));
  EXPECT_EQ(r.out, "");  // no console message: the command refuses it
}

TEST(ReadTextBlockTest, AnIndexOutsideTheCountIsRefused) {
  for (const char* line : {"7:  a|", "-1:  a|", "5:  a|"}) {
    const Reading r = Read(CrLf({"B: 0", "ID: 3", "N: 5", "0:  a|", line,
                                 "1:  a|", "2:  a|", "3:  a|", "4:  a|"}),
                           1);
    EXPECT_TRUE(r.blocks[0].complete) << line;
    EXPECT_TRUE(Contains(r.blocks[0].problem, "lies outside 0 to 4")) << line;
  }
}

TEST(ReadTextBlockTest, TheTextEndingBeforeTheBlockIsCompleteIsRefused) {
  const Reading inside = Read(CrLf({"B: 0", "ID: 3", "N: 2", "0:  a|"}), 3);
  EXPECT_FALSE(inside.blocks[0].complete);
  EXPECT_TRUE(Contains(inside.blocks[0].problem, "ends before the block"));
  EXPECT_FALSE(inside.blocks[2].sound());  // later calls: nothing left
  EXPECT_EQ(inside.problems, 3);
  // Told once on standard error, however many blocks it cuts off.
  EXPECT_EQ(inside.err.find("ends before"), inside.err.rfind("ends before"));

  // Inside the last string's continuation lines: no terminator comes.
  const Reading last = Read(CrLf({"B: 0", "ID: 3", "N: 1", "0:  ab", "b"}), 1,
                            BuildHuffmanTree({"ab\nb|"}));
  EXPECT_TRUE(last.blocks[0].complete);
  EXPECT_TRUE(Contains(last.blocks[0].problem, "does not decode back"));
}

TEST(ReadTextBlockTest, Byte26EndsTheText) {
  const Reading r = Read(
      "B: 0\r\nID: 3\r\nN: 2\r\n0:  a|\r\n\x1A"
      "1:  b|\r\n",
      1);
  EXPECT_FALSE(r.blocks[0].complete);
  EXPECT_FALSE(r.blocks[0].sound());
}

TEST(ReadTextBlockTest, TheIdIsKeptWhenACallReadsNoIdLine) {
  const Reading r = Read(Section(77, {"a|"}), 2);
  EXPECT_EQ(r.ids, (std::vector<int32_t>{77, 77}));
  const Reading rounded = Read(CrLf({"B: 9", "ID:  2.5", "N: 0"}), 1);
  EXPECT_EQ(rounded.ids[0], 2);
}

TEST(ReadTextBlockTest, AFourthHeaderLineWhileTheCountIsMinusOne) {
  const Reading r = Read(CrLf({"Block: 0", "ID: 3", "Nr: -1",
                               "   Extra  : 12.5 more", "More: x", "0:  a|"}),
                         1);
  EXPECT_EQ(r.out,
            "???:  12.5\r\n(Extra  : 12.5 more)\r\n"
            "???:  0\r\n(More: x)\r\n"
            " Error: String Before Header!\r\n");
  EXPECT_TRUE(r.error_reported);
  EXPECT_TRUE(Contains(r.err, "t.txt:4: block 0: a fourth header line"));
  EXPECT_FALSE(r.blocks[0].sound());
}

TEST(ReadTextBlockTest, ANegativeCountMakesEveryLineAStringBeforeTheHeader) {
  const Reading r =
      Read(CrLf({"Block: 0", "ID: 3", "Nr: -2", "More: 1", "0:  a|"}), 1);
  EXPECT_EQ(r.out,
            " Error: String Before Header!\r\n"
            " Error: String Before Header!\r\n");
  EXPECT_FALSE(r.blocks[0].complete);
}

TEST(ReadTextBlockTest, ACharacterWithoutCodeIsReportedWithItsLine) {
  const std::vector<TreeNode> nodes = BuildHuffmanTree({"ab\nb|"});
  const Reading r = Read(
      CrLf({"B: 0", "ID: 3", "N: 2", "0:  a|", "1:  ab", "bxa|"}), 1, nodes);
  EXPECT_EQ(r.out, " Error: Char not Found in Tree!\r\n");
  EXPECT_TRUE(r.error_reported);
  EXPECT_TRUE(Contains(r.err,
                       "t.txt:6: block 0: byte 120 'x' (character 5 "
                       "of string 1)"));
  // The code holds the characters before it and no terminator.
  const std::string first = EncodeTestString(nodes, "a|");
  EXPECT_EQ(Hex(r.block_bytes[0]),
            Hex(std::string("\x02\0\0\0", 4) + static_cast<char>(first.size()) +
                '\0' + first + EncodeTestString(nodes, "ab\nb")));
  EXPECT_TRUE(r.blocks[0].complete);
  EXPECT_FALSE(r.blocks[0].sound());

  const Reading unprintable =
      Read(CrLf({"B: 0", "ID: 3", "N: 1", "0:  \t|"}), 1);
  EXPECT_TRUE(Contains(unprintable.err, "byte 9 (character 1"));
}

TEST(ReadTextBlockTest, ATreeThatCannotCarryAStringIsCaughtByTheReadBack) {
  // Node 3, an interior node, carries the Char 'c' and no leaf does: 'c'
  // encodes as node 3's path, which decodes as no character.
  std::vector<TreeNode> nodes = FiveNodeTree();
  nodes[3].char_ = 'c';
  const Reading interior = Read(Section(1, {"a|", "c|"}), 1, nodes);
  EXPECT_EQ(interior.out, "");
  EXPECT_TRUE(Contains(interior.blocks[0].problem,
                       "t.txt:5: block 0: this string does not decode back"));

  // A broken parent link: 'b' (node 1) is not named by its parent, so its
  // path lacks a step and it encodes as if it were 'a'.
  nodes = FiveNodeTree();
  nodes[3].child_l = 255;
  const Reading broken = Read(Section(1, {"a|", "ab|"}), 1, nodes);
  EXPECT_TRUE(Contains(broken.blocks[0].problem, "t.txt:5:"));
}

TEST(ReadTextBlockTest, CountsAndOffsetsBeyondTheirFieldsAreRefused) {
  const Reading count = Read(
      CrLf({"B: 0", "ID: 3", "N: 70000", "0:  a|", "69999:  a|", "after"}), 1);
  EXPECT_TRUE(count.blocks[0].complete);
  EXPECT_TRUE(Contains(count.blocks[0].problem, "a string count of 70000"));
  EXPECT_EQ(count.rest, "after\n");

  // 'b' is 2 bits: 270000 of them are 67500 bytes before string 1.
  const std::string text =
      "B: 0\r\nID: 3\r\nN: 2\r\n0:  " + std::string(270000, 'b') +
      "|\r\n1:  a|\r\n";
  const Reading offset = Read(text, 1);
  EXPECT_TRUE(Contains(offset.blocks[0].problem,
                       "string 1 starts 67501 bytes into the block"));
}

}  // namespace
}  // namespace vorlex::testing
