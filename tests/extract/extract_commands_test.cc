#include "extract/extract_commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "extract/worked_examples.h"
#include "pak/file_io.h"
#include "support/command_test.h"
#include "support/pak_maker.h"

namespace vorlex::testing {
namespace {

const std::string kRule(78, '-');

// Three blocks: strings with a colon, an empty string and a line break, and
// an empty block in the middle.
const std::vector<TestBlock>& DemoBlocks() {
  static const std::vector<TestBlock> blocks = {
      {300, {"Open the gate|", "|", "Price: 40 coins|"}},
      {301, {}},
      {302, {"First line\nsecond line|", "Goodbye.|"}}};
  return blocks;
}

class ExtractCommandTest : public CommandTest {
 protected:
  void SetUp() override {
    nodes_ = BuildHuffmanTree(AllStrings(DemoBlocks()));
    Write("demo.pak", MakePakfile(nodes_, DemoBlocks()));
  }
  int NodeCount() const { return static_cast<int>(nodes_.size()); }
  std::string Header(int count) const {
    return CrLf({"Strings extracted from: demo.pak",
                 "Number of Nods: " + std::to_string(NodeCount()),
                 "Number of Blocks: " + std::to_string(count), kRule});
  }
  std::string Section(int b) const {
    return ExpectedBlockSection(b, DemoBlocks()[static_cast<size_t>(b)]);
  }

  std::vector<TreeNode> nodes_;
};

TEST_F(ExtractCommandTest, ExtractAllOfAOneBlockPakfile) {
  Write("a.pak", ThreeNodePak());
  const RunResult run = Vorlex({"a.pak", "a.txt", "/E"});
  EXPECT_EQ(run.out, ".Ok..\r\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(Read("a.txt"),
            CrLf({"Strings extracted from: a.pak", "Number of Nods: 3",
                  "Number of Blocks: 1", kRule, "Block Nr: 0", "ID: 7",
                  "Nr of Strings: 1", "0:  A|", kRule}));
}

TEST_F(ExtractCommandTest, ExtractAllWritesEveryBlockInOrder) {
  const RunResult run = Vorlex({"demo.pak", "demo.txt", "/e"});
  EXPECT_EQ(run.out, "...Ok..\r\n");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(Read("demo.txt"),
            ExpectedExtractText("demo.pak", NodeCount(), DemoBlocks()));
  EXPECT_NE(
      Read("demo.txt")
          .find(CrLf({"Block Nr: 1", "ID: 301", "Nr of Strings: 0", kRule})),
      std::string::npos);
}

TEST_F(ExtractCommandTest, PakfileIsNamedAsTyped) {
  const RunResult run = Vorlex({"./demo.pak", "demo.txt", "/E"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(Read("demo.txt").substr(0, 37),
            "Strings extracted from: ./demo.pak\r\nN");
}

TEST_F(ExtractCommandTest, ExtractAllEmptiesALongerTextFileFirst) {
  Write("demo.txt", std::string(5000, 'x'));
  EXPECT_EQ(Vorlex({"demo.pak", "demo.txt", "/E"}).exit_status, 0);
  EXPECT_EQ(Read("demo.txt"),
            ExpectedExtractText("demo.pak", NodeCount(), DemoBlocks()));
}

TEST_F(ExtractCommandTest, StaleBytesAfterTheLastBlockChangeNothing) {
  Write("demo.pak", MakePakfile(nodes_, DemoBlocks()) + Unhex("FF FF 00 C3"));
  const RunResult run = Vorlex({"demo.pak", "demo.txt", "/E"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(Read("demo.txt"),
            ExpectedExtractText("demo.pak", NodeCount(), DemoBlocks()));
}

TEST_F(ExtractCommandTest, ExtractLastFromBlockZeroEqualsExtractAll) {
  const RunResult run = Vorlex({"demo.pak", "demo.txt", "/L", "0"});
  EXPECT_EQ(run.out, "...Ok..\r\n");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(Read("demo.txt"),
            ExpectedExtractText("demo.pak", NodeCount(), DemoBlocks()));
}

TEST_F(ExtractCommandTest, ExtractLastFromTheLastBlock) {
  const RunResult run = Vorlex({"demo.pak", "demo.txt", "/L", "2"});
  EXPECT_EQ(run.out, ".Ok..\r\n");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(Read("demo.txt"), Header(1) + Section(2));
}

TEST_F(ExtractCommandTest, ExtractLastFromTheEndOrBeyondWritesTheHeaderAlone) {
  for (const auto& [block_nr, count] :
       std::vector<std::pair<std::string, int>>{{"3", 0}, {"5", -2}}) {
    Write("demo.txt", "old text");
    const RunResult run = Vorlex({"demo.pak", "demo.txt", "/L", block_nr});
    EXPECT_EQ(run.out, "Ok..\r\n");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(Read("demo.txt"), Header(count)) << block_nr;
  }
}

TEST_F(ExtractCommandTest, ExtractLastRefusesANegativeBlockNr) {
  Write("demo.txt", "old text");
  const RunResult run = Vorlex({"demo.pak", "demo.txt", "/L", "-1"});
  EXPECT_EQ(run.out, " Error: Block not Exist!\r\n");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(Read("demo.txt"), "old text");
  EXPECT_EQ(Vorlex({"demo.pak", "new.txt", "/L", "-7"}).exit_status, 1);
  EXPECT_FALSE(Exists("new.txt"));
}

TEST_F(ExtractCommandTest, ExtractOneWritesOneSectionAndPrintsNothing) {
  const RunResult run = Vorlex({"demo.pak", "demo.txt", "/E", "2"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(Read("demo.txt"), Section(2));
}

TEST_F(ExtractCommandTest, ExtractOneAppends) {
  EXPECT_EQ(Vorlex({"demo.pak", "demo.txt", "/E", "0"}).exit_status, 0);
  EXPECT_EQ(Vorlex({"demo.pak", "demo.txt", "/E", "0"}).exit_status, 0);
  EXPECT_EQ(Read("demo.txt"), Section(0) + Section(0));

  EXPECT_EQ(Vorlex({"demo.pak", "all.txt", "/E"}).exit_status, 0);
  EXPECT_EQ(Vorlex({"demo.pak", "all.txt", "/E", "1"}).exit_status, 0);
  EXPECT_EQ(
      Read("all.txt"),
      ExpectedExtractText("demo.pak", NodeCount(), DemoBlocks()) + Section(1));
}

TEST_F(ExtractCommandTest, ExtractOneOfABlockThatDoesNotExist) {
  Write("demo.txt", "old text");
  for (const std::string block_nr : {"3", "-1", "65536"}) {
    const RunResult run = Vorlex({"demo.pak", "demo.txt", "/E", block_nr});
    EXPECT_EQ(run.out, " Error: Block not Exist!\r\n") << block_nr;
    EXPECT_EQ(run.exit_status, 1);
  }
  EXPECT_EQ(Read("demo.txt"), "old text");
}

TEST_F(ExtractCommandTest, BlockNrThatIsNoNumberMeansBlockZero) {
  const RunResult run = Vorlex({"demo.pak", "demo.txt", "/E", "abc"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(Read("demo.txt"), Section(0));
}

TEST_F(ExtractCommandTest, TextFileThatCannotBeCreated) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"demo.pak", "missing/demo.txt", "/E"},
        std::vector<std::string>{"demo.pak", "missing/demo.txt", "/E", "1"},
        std::vector<std::string>{"demo.pak", "missing/demo.txt", "/L", "0"},
        std::vector<std::string>{"demo.pak", "missing/demo.txt", "/L", "9"}}) {
    const RunResult run = Vorlex(args);
    EXPECT_EQ(run.out, "Error: Cannot write txtfile!\r\n") << args[3 % 4];
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_NE(run.err.find("missing/demo.txt"), std::string::npos);
  }
  EXPECT_FALSE(Exists("missing"));
}

TEST_F(ExtractCommandTest, TextFileThatCannotBeWrittenToTheEnd) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  RunResult run = Vorlex({"demo.pak", "/dev/full", "/E"});
  EXPECT_EQ(run.out, "...Error: Cannot write txtfile!\r\n");
  EXPECT_EQ(run.exit_status, 1);
  run = Vorlex({"demo.pak", "/dev/full", "/E", "0"});
  EXPECT_EQ(run.out, "Error: Cannot write txtfile!\r\n");
  EXPECT_EQ(run.exit_status, 1);
}

TEST_F(ExtractCommandTest, DamagedBlockIsWrittenAndFailsTheRun) {
  // Block 0 counts 5 strings but its bits end in the third.
  const std::vector<std::string> strings = {"one|", "two|", "three and more|",
                                            "four|", "five|"};
  const std::vector<TreeNode> nodes = BuildHuffmanTree(strings);
  std::string block = EncodeTestBlock(nodes, strings);
  block.resize(12 + EncodeTestString(nodes, "one|").size() +
               EncodeTestString(nodes, "two|").size() + 1);
  Write("cut.pak", MakePakfileFromBlockBytes(
                       nodes, {block, EncodeTestBlock(nodes, {"one|"})}));
  const RunResult run = Vorlex({"cut.pak", "cut.txt", "/E"});
  EXPECT_EQ(run.out, "..Ok..\r\n");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.err.find("block 0 "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("5 strings, 2 decoded"), std::string::npos);
  EXPECT_EQ(run.err.find("block 1"), std::string::npos);
  const std::string text = Read("cut.txt");
  EXPECT_NE(text.find(CrLf({"Block Nr: 0", "ID: 0", "Nr of Strings: 5",
                            "0:  one|", "1:  two|", kRule, "Block Nr: 1"})),
            std::string::npos)
      << text;

  // The same for one block.
  const RunResult one = Vorlex({"cut.pak", "one.txt", "/E", "0"});
  EXPECT_EQ(one.out, "");
  EXPECT_EQ(one.exit_status, 1);
  EXPECT_NE(one.err.find("block 0 "), std::string::npos);
}

TEST_F(ExtractCommandTest, PakfileWithoutNodesDecodesNoString) {
  Write("bare.pak", Unhex("00 00  01 00  05 00 0A 00 00 00  01 00 00 00 40"));
  const RunResult run = Vorlex({"bare.pak", "bare.txt", "/E"});
  EXPECT_EQ(run.out, ".Ok..\r\n");
  EXPECT_EQ(run.exit_status, 1);  // one string counted, none decoded
  EXPECT_EQ(Read("bare.txt"),
            CrLf({"Strings extracted from: bare.pak", "Number of Nods: 0",
                  "Number of Blocks: 1", kRule, "Block Nr: 0", "ID: 5",
                  "Nr of Strings: 1", kRule}));
}

TEST_F(ExtractCommandTest, StringsThatDoNotComeBackUnchangedAreNamed) {
  const TestBlock plain{1, {"fine|"}};
  const TestBlock risky{2, {"ok|", "a\r\nb|", "x\x1ay|", "\r\n\x1a|", "\n\r|"}};
  const std::vector<TreeNode> nodes =
      BuildHuffmanTree(AllStrings({plain, risky}));
  Write("risky.pak", MakePakfile(nodes, {plain, risky}));
  const RunResult run = Vorlex({"risky.pak", "risky.txt", "/E"});
  EXPECT_EQ(run.out, "..Ok..\r\n");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(Read("risky.txt"),
            ExpectedExtractText("risky.pak", static_cast<int>(nodes.size()),
                                {plain, risky}));
  for (const char* where :
       {"block 1, string 1 holds CR LF", "block 1, string 2 holds the byte 26",
        "block 1, string 3 holds CR LF",
        "block 1, string 3 holds the byte 26"}) {
    EXPECT_NE(run.err.find(where), std::string::npos) << where << run.err;
  }
  EXPECT_EQ(run.err.find("string 0"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("string 4"), std::string::npos) << run.err;
}

TEST_F(ExtractCommandTest, DirectoryOffsetFarBeyondTheFile) {
  // Block 1 starts at 2^31 - 1, so block 0 runs two gigabytes past the end of
  // the file; its last three strings are the zeros there ('|' = 0).
  const std::vector<TreeNode> nodes = ZeroIsTerminatorTree();
  std::string block = EncodeTestBlock(nodes, {"A|", "AA|", "|", "|", "|"});
  block.resize(block.size() - 3);
  std::string pak = MakePakfileFromBlockBytes(nodes, {block, ""});
  pak.replace(4 + 4 * 3 + 6 + 2, 4, Unhex("FF FF FF 7F"));
  Write("far.pak", pak);
  const RunResult run = Vorlex({"far.pak", "far.txt", "/E"});
  EXPECT_EQ(run.out, "..Ok..\r\n");
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(
      Read("far.txt"),
      CrLf({"Strings extracted from: far.pak", "Number of Nods: 3",
            "Number of Blocks: 2", kRule, "Block Nr: 0", "ID: 0",
            "Nr of Strings: 5", "0:  A|", "1:  AA|", "2:  |", "3:  |", "4:  |",
            kRule, "Block Nr: 1", "ID: 1", "Nr of Strings: 0", kRule}));
}

TEST_F(ExtractCommandTest, TheSampleExtractsCleanly) {
  const RunResult run = Vorlex(
      {std::string(VORLEX_SOURCE_DIR) + "/examples/sample.pak", "s.txt", "/E"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.substr(run.out.size() - 6), "Ok..\r\n");
  const std::string text = Read("s.txt");
  EXPECT_NE(text.find(":  |\r\n"), std::string::npos);
  EXPECT_NE(text.find("Nr of Strings: 0\r\n" + kRule), std::string::npos);
  EXPECT_NE(text.find(",\nand"), std::string::npos);
}

// Writes that fail part of the way: the whole text file goes through one
// buffer, so the failure shows when it is written at the end.
class FailingWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Files().write = [](int, const void*, size_t) -> ssize_t {
      errno = ENOSPC;
      return -1;
    };
  }
  void TearDown() override { Files() = SystemFileLayer(); }
  TempDir dir_;
};

TEST_F(FailingWriteTest, ReportedInPlaceOfOk) {
  const std::vector<TreeNode> nodes =
      BuildHuffmanTree(AllStrings(DemoBlocks()));
  const LoadedPak pak = LoadTestPak(MakePakfile(nodes, DemoBlocks()));
  std::string out, err;
  Console console = StringConsole(&out, &err);
  ExtractAll("demo.pak", dir_.Path("demo.txt"), pak, console);
  EXPECT_EQ(out, "...Error: Cannot write txtfile!\r\n");
  EXPECT_TRUE(console.error_reported);
  EXPECT_NE(err.find("demo.txt"), std::string::npos);

  out.clear();
  console = StringConsole(&out, &err);
  ExtractLast("demo.pak", dir_.Path("demo.txt"), 3, pak, console);
  EXPECT_EQ(out, "Error: Cannot write txtfile!\r\n");

  out.clear();
  console = StringConsole(&out, &err);
  ExtractOne("demo.pak", dir_.Path("demo.txt"), 2, pak, console);
  EXPECT_EQ(out, "Error: Cannot write txtfile!\r\n");
  EXPECT_TRUE(console.error_reported);
}

}  // namespace
}  // namespace vorlex::testing
