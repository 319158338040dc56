// The packing commands through the real binary: console output, exit status
// and the pakfile's bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pack/pack_fixtures.h"

namespace vorlex::testing {
namespace {

const std::string kDone = " ---- Done! ----\r\n";
const std::string kNotChanged = " Error: Pakfile not changed!\r\n";

// A text file as extraction writes it for `blocks`.
std::string TextFor(const std::vector<TestBlock>& blocks, int node_count = 3) {
  return ExpectedExtractText("a.pak", node_count, blocks);
}

// 22 A's and a terminator: 23 bits, three bytes of code.
const std::string kLongA = std::string(22, 'A') + "|";

class PackCommandTest : public CommandTest {
 protected:
  // Runs `command` on a.pak with t.txt, after writing both.
  RunResult Pack(const std::string& command, const std::string& pak,
                 const std::string& text) {
    Write("a.pak", pak);
    Write("t.txt", text);
    return Vorlex({"a.pak", "t.txt", command});
  }

  // Checks a run that must leave a.pak as `pak` with exactly `out`.
  void ExpectRefused(const RunResult& run, const std::string& pak,
                     const std::string& out) {
    EXPECT_EQ(run.out, out);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(Hex(Read("a.pak")), Hex(pak));
  }
};

TEST_F(PackCommandTest, RebuildsTheWholeFileFromTheText) {
  const RunResult run =
      Pack("/P", ThreeNodePak(),
           TextFor({{300, {"A|", "A|", "A|"}}, {301, {"AA|"}}}));
  EXPECT_EQ(run.out, "Nr of Blocks: 2\r\n.." + kDone);
  EXPECT_EQ(run.exit_status, 0);
  // The head is 28 bytes; block 0 is 11 bytes at 28, block 1 at 39.
  EXPECT_EQ(Hex(Read("a.pak")),
            "03 00 41 02 FF FF 7C 02 FF FF 00 00 00 01 02 00 "
            "2C 01 1C 00 00 00 2D 01 27 00 00 00 "
            "03 00 00 00 01 00 02 00 40 40 40 "
            "01 00 00 00 20");
  EXPECT_EQ(run.err,
            "vorlex: a.pak: 2 blocks written, 27 -> 44 bytes; block 0 grew "
            "most (+6 bytes)\n");
}

TEST_F(PackCommandTest, TheCountLineMayBeInAnyCaseAnywhereInItsLine) {
  const std::string expected = MakePakfile(ThreeNodeTree(), {{5, {"AA|"}}});
  for (const char* line :
       {"number of blocks: 1", "Total NUMBER OF BLOCKS: 1 block"}) {
    const RunResult run = Pack(
        "/p", ThreeNodePak(),
        CrLf({line, "Block Nr: 0", "ID: 5", "Nr of Strings: 1", "0:  AA|"}));
    EXPECT_EQ(run.out, "Nr of Blocks: 1\r\n." + kDone) << line;
    EXPECT_EQ(Hex(Read("a.pak")), Hex(expected)) << line;
  }
}

TEST_F(PackCommandTest, AShorterRebuiltFileKeepsTheOldTail) {
  const std::vector<TestBlock> old_blocks = RandomBlocks(11, 3, 12);
  const std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(old_blocks));
  const std::string old_pak = MakePakfile(nodes, old_blocks);
  const std::vector<TestBlock> new_blocks = {
      {42, {old_blocks[1].strings[0], "|"}}};
  const std::string fresh = MakePakfile(nodes, new_blocks);
  ASSERT_LT(fresh.size(), old_pak.size());

  const RunResult run =
      Pack("/P", old_pak, TextFor(new_blocks, static_cast<int>(nodes.size())));
  EXPECT_EQ(run.out, "Nr of Blocks: 1\r\n." + kDone);
  EXPECT_EQ(Hex(Read("a.pak")), Hex(fresh + old_pak.substr(fresh.size())));
  EXPECT_TRUE(Contains(run.err, "no block grew"));
}

class ReplaceLastTest : public PackCommandTest {
 protected:
  void SetUp() override {
    blocks_ = RandomBlocks(5, 3, 6);
    nodes_ = BuildHuffmanTree(AllStrings(blocks_));
    pak_ = MakePakfile(nodes_, blocks_);
  }

  // The pakfile with its last blocks replaced by `last`, as /R lays it out.
  std::string Replaced(const std::vector<TestBlock>& last) const {
    std::vector<TestBlock> all(blocks_.begin(), blocks_.end() - last.size());
    all.insert(all.end(), last.begin(), last.end());
    std::string bytes = MakePakfile(nodes_, all);
    if (bytes.size() < pak_.size()) bytes += pak_.substr(bytes.size());
    return bytes;
  }

  std::vector<TestBlock> blocks_;
  std::vector<TreeNode> nodes_;
  std::string pak_;
};

TEST_F(ReplaceLastTest, OneBlockReplacesTheLastAtItsOldOffset) {
  // Shorter than before: the old bytes after it stay.
  const std::vector<TestBlock> last = {{900, {blocks_[0].strings[1]}}};
  const RunResult run = Pack("/R", pak_, TextFor(last));
  EXPECT_EQ(run.out, "Nr of Blocks: 1\r\n." + kDone);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(Hex(Read("a.pak")), Hex(Replaced(last)));
  EXPECT_EQ(Read("a.pak").size(), pak_.size());
}

TEST_F(ReplaceLastTest, AsManyBlocksAsThePakfileHasReplacesThemAll) {
  std::vector<TestBlock> all = blocks_;
  std::swap(all[0], all[2]);  // a longer block first
  all[1].strings.push_back(all[0].strings[0]);
  const RunResult run = Pack("/r", pak_, TextFor(all));
  EXPECT_EQ(run.out, "Nr of Blocks: 3\r\n..." + kDone);
  EXPECT_EQ(Hex(Read("a.pak")), Hex(Replaced(all)));
}

TEST_F(ReplaceLastTest, MoreBlocksThanThePakfileHasAreRefused) {
  std::vector<TestBlock> four = blocks_;
  four.push_back(blocks_[0]);
  ExpectRefused(Pack("/R", pak_, TextFor(four)), pak_,
                "Nr of Blocks: 4\r\nError: Too many Blocks!\r\n");
}

TEST_F(ReplaceLastTest, WhatExtractLastWritesPutsTheSameBlocksBack) {
  Write("a.pak", pak_);
  RunResult run = Vorlex({"a.pak", "t.txt", "/L", "1"});
  ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
  run = Vorlex({"a.pak", "t.txt", "/R"});
  EXPECT_EQ(run.out, "Nr of Blocks: 2\r\n.." + kDone);
  EXPECT_EQ(Hex(Read("a.pak")), Hex(pak_));

  // An edited string goes back into its own block.
  std::string text = Read("t.txt");
  const std::string& old_string = blocks_[2].strings[0];
  const size_t at = text.find("0:  " + old_string, text.find("Block Nr: 2"));
  ASSERT_NE(at, std::string::npos);
  const std::string new_string = blocks_[0].strings[0];
  text.replace(at + 4, old_string.size(), new_string);
  Write("t.txt", text);
  run = Vorlex({"a.pak", "t.txt", "/R"});
  EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
  std::vector<TestBlock> last(blocks_.begin() + 1, blocks_.end());
  last[1].strings[0] = new_string;
  EXPECT_EQ(Hex(Read("a.pak")), Hex(Replaced(last)));
}

TEST_F(ReplaceLastTest, AFirstBlockInsideTheDirectoryIsRefused) {
  // Block 2's Offset points into the directory.
  std::string pak = pak_;
  const size_t entry = 4 + 4 * nodes_.size() + 6 * 2;
  pak[entry + 2] = 10;
  pak[entry + 3] = 0;
  const RunResult run = Pack("/R", pak, TextFor({blocks_[2]}));
  ExpectRefused(run, pak, "Nr of Blocks: 1\r\n." + kNotChanged);
  EXPECT_TRUE(Contains(run.err, "inside the node table or the directory"));
}

class AddBlockTest : public PackCommandTest {
 protected:
  // N = 3, B = 1, block 0 of 10 bytes at 22: 32 bytes.
  void SetUp() override {
    pak_ = MakePakfile(ThreeNodeTree(), {{7, {"A|", kLongA}}});
    ASSERT_EQ(pak_.size(), 32u);
  }
  std::string pak_;
};

TEST_F(AddBlockTest, OneBlockFillsTheNewBlockAtTheEnd) {
  const RunResult run = Pack("/A", pak_, TextFor({{9, {"AA|"}}}));
  EXPECT_EQ(run.out, "Nr of Blocks: 1\r\n." + kDone);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(Hex(Read("a.pak")),
            Hex(pak_.substr(0, 14) +
                Unhex("02 00  07 00 1C 00 00 00  09 00 26 00 00 00") +
                pak_.substr(22, 10) + Unhex("01 00 00 00 20")));
  EXPECT_EQ(run.err,
            "vorlex: a.pak: 1 block written, 32 -> 43 bytes; block 1 grew "
            "most (+5 bytes)\n");
}

TEST_F(AddBlockTest, TwoBlocksRewriteTheFormerLastOneFromItsMovedOffset) {
  const std::vector<TestBlock> blocks = {{8, {"A|"}}, {9, {"AA|"}}};
  const RunResult run = Pack("/a", pak_, TextFor(blocks));
  EXPECT_EQ(run.out, "Nr of Blocks: 2\r\n.." + kDone);
  EXPECT_EQ(Hex(Read("a.pak")), Hex(MakePakfile(ThreeNodeTree(), blocks)));
}

TEST_F(AddBlockTest, MoreBlocksThanThereAreAfterTheAddStepLeaveTheFile) {
  ExpectRefused(
      Pack("/A", pak_, TextFor({{1, {"A|"}}, {2, {"A|"}}, {3, {"A|"}}})), pak_,
      "Nr of Blocks: 3\r\nError: Too many Blocks!\r\n");
}

TEST_F(AddBlockTest, TwiceAppendsTwoBlocks) {
  Pack("/A", pak_, TextFor({{9, {"AA|"}}}));
  Write("t.txt", TextFor({{10, {"A|"}}}));
  const RunResult run = Vorlex({"a.pak", "t.txt", "/A"});
  EXPECT_EQ(run.out, "Nr of Blocks: 1\r\n." + kDone);
  EXPECT_EQ(
      Hex(Read("a.pak")),
      Hex(MakePakfile(ThreeNodeTree(),
                      {{7, {"A|", kLongA}}, {9, {"AA|"}}, {10, {"A|"}}})));
}

TEST_F(AddBlockTest, BlocksThatDoNotLieWhereTheAddStepMovesThemAreRefused) {
  const std::string text = TextFor({{9, {"AA|"}}});
  struct Case {
    const char* what;
    std::string pak;
    const char* reason;
  };
  std::string inside = pak_;
  inside[18] = 20;  // block 0 at 20, inside the directory
  std::string at_end = pak_;
  at_end[18] = 32;  // block 0 where the file ends
  std::string before = MakePakfile(ThreeNodeTree(), {{1, {"A|"}}, {2, {"A|"}}});
  std::swap(before[18], before[24]);  // block 1 before block 0
  for (const Case& c : {Case{"inside", inside, "inside the node table"},
                        Case{"at end", at_end, "at or before block 0"},
                        Case{"before", before, "before block 0"}}) {
    const RunResult run = Pack("/A", c.pak, text);
    ExpectRefused(run, c.pak, "Nr of Blocks: 1\r\n." + kNotChanged);
    EXPECT_TRUE(Contains(run.err, c.reason)) << c.what;
  }
}

TEST_F(AddBlockTest, APakfileWithTheMostBlocksACountHoldsIsRefused) {
  const std::vector<TestBlock> empty(65535, TestBlock{});
  const std::string full = MakePakfile(ThreeNodeTree(), empty);
  const RunResult run = Pack("/A", full, TextFor({{9, {"AA|"}}}));
  EXPECT_EQ(run.out, "Nr of Blocks: 1\r\n." + kNotChanged);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(Read("a.pak") == full);
  EXPECT_TRUE(Contains(run.err, "65535 blocks"));
}

TEST_F(PackCommandTest, CountsThatEndTheCommandBeforeAnythingIsRead) {
  struct Case {
    const char* command;
    std::string text;
    std::string out;
  };
  const std::string header = "Block Nr: 0\r\nID: 1\r\nNr of Strings: 0\r\n";
  for (const Case& c : {
           Case{"/P", header, "Error: Nr of Blocks = 0!\r\n"},
           Case{"/P", "Number of Blocks: 0\r\n" + header,
                "Nr of Blocks: 0\r\nError: Nr of Blocks = 0!\r\n"},
           Case{"/R", "Number of Blocks: 0.4\r\n",
                "Nr of Blocks: 0\r\nError: Nr of Blocks = 0!\r\n"},
           Case{"/A", "", "Error: Nr of Blocks = 0!\r\n"},
           Case{"/P", "Number of Blocks: -1\r\n" + header,
                "Nr of Blocks:-1\r\nError: Nr of Blocks < 0!\r\n"},
           Case{"/R", "Number of Blocks: -5\r\n",
                "Nr of Blocks:-5\r\nError: Nr of Blocks < 0!\r\n"},
           Case{"/A", "Number of Blocks: -1e99\r\n",
                "Nr of Blocks:-2147483648\r\nError: Nr of Blocks < 0!\r\n"},
           Case{"/P", "Number of Blocks: 65536\r\n",
                "Nr of Blocks: 65536\r\nError: Too many Blocks!\r\n"},
           Case{"/R", "Number of Blocks: 2\r\n",
                "Nr of Blocks: 2\r\nError: Too many Blocks!\r\n"},
       }) {
    SCOPED_TRACE(std::string(c.command) + " " + c.text);
    ExpectRefused(Pack(c.command, ThreeNodePak(), c.text), ThreeNodePak(),
                  c.out);
  }
}

TEST_F(PackCommandTest, ATextFileThatCannotBeOpenedHasNoCount) {
  Write("a.pak", ThreeNodePak());
  for (const char* command : {"/P", "/R", "/A"}) {
    const RunResult run = Vorlex({"a.pak", "missing.txt", command});
    ExpectRefused(run, ThreeNodePak(), "Error: Nr of Blocks = 0!\r\n");
    EXPECT_TRUE(Contains(run.err, "cannot open txtfile 'missing.txt'"));
  }
}

TEST_F(PackCommandTest, AnyMessageWhileReadingLeavesThePakfileUnchanged) {
  const std::string two_blocks = TextFor({{1, {"AxA|"}}, {2, {"A|"}}});
  for (const char* command : {"/P", "/A"}) {
    SCOPED_TRACE(command);
    const RunResult run = Pack(command, ThreeNodePak(), two_blocks);
    // /A adds a block first: the text's two blocks are the last two then.
    ExpectRefused(run, ThreeNodePak(),
                  "Nr of Blocks: 2\r\n. Error: Char not Found in Tree!\r\n." +
                      kNotChanged);
    EXPECT_TRUE(Contains(run.err, "t.txt:8: block 0: byte 120 'x'"));
    EXPECT_TRUE(Contains(run.err, "'a.pak' not changed: t.txt:8:"));
  }
}

TEST_F(PackCommandTest, ATextFileThatEndsEarlyLeavesThePakfileUnchanged) {
  std::string text = TextFor({{1, {"A|"}}, {2, {"A|"}}});
  text.replace(text.find("Number of Blocks: 2"), 19, "Number of Blocks: 4");
  const RunResult run = Pack("/P", ThreeNodePak(), text);
  ExpectRefused(run, ThreeNodePak(), "Nr of Blocks: 4\r\n...." + kNotChanged);
  EXPECT_TRUE(Contains(run.err, "ends before the block is complete"));
}

TEST_F(PackCommandTest, DuplicateIndexesLeaveThePakfileUnchanged) {
  const RunResult run = Pack("/R", ThreeNodePak(),
                             CrLf({"Number of Blocks: 1", "B: 0", "ID: 1",
                                   "N: 2", "0:  A|", "0:  AA|", "1:  A|"}));
  ExpectRefused(run, ThreeNodePak(), "Nr of Blocks: 1\r\n." + kNotChanged);
  EXPECT_TRUE(
      Contains(run.err, "t.txt:6: block 0: string index 0 occurs twice"));
}

}  // namespace
}  // namespace vorlex::testing
