// Start-up through the real program: what it prints, how it exits, and which
// files it leaves, before and around the command it hands over to.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "driver/command_line.h"
#include "support/command_test.h"

namespace vorlex::testing {
namespace {

// N = 3 (leaves 'A' and '|' under the root 2), B = 1: block 0 has ID 7 and
// starts at 22; it holds the one string "A|".
constexpr char kExamplePak[] =
    "03 00  41 02 FF FF  7C 02 FF FF  00 00 00 01  01 00  07 00 16 00 00 00"
    "  01 00 00 00 40";

const std::string kNoBlocks = "Error: No blocks in Pakfile!\r\n";
const std::string kSameFile = "Error: txtfile is the pakfile!\r\n";
const std::string kTreeError = "Error in Tree!\r\n";

class StartupTest : public CommandTest {
 protected:
  // Expects `args` to end with `out` and `status`, creating no file in the
  // test's folder.
  void ExpectRefusedWithoutFiles(const std::vector<std::string>& args,
                                 const std::string& out, int status) {
    const RunResult result = Vorlex(args);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.exit_status, status);
    EXPECT_FALSE(Exists("p.pak"));
    EXPECT_FALSE(Exists("t.txt"));
  }
};

TEST_F(StartupTest, NoArgumentsShowTheUsageAndSucceed) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {""}, {"", "  ", ""}}) {
    const RunResult result = Vorlex(args);
    EXPECT_EQ(result.out, UsageText()) << args.size() << " arguments";
    EXPECT_EQ(result.exit_status, 0);
  }
}

TEST_F(StartupTest, OneOrTwoArgumentsAreACommandLineError) {
  ExpectRefusedWithoutFiles({"p.pak"}, UsageText(), 2);
  ExpectRefusedWithoutFiles({"p.pak", "t.txt"}, UsageText(), 2);
  // Two words plus blanks and empty arguments are still two arguments.
  ExpectRefusedWithoutFiles({" p.pak ", "", " t.txt"}, UsageText(), 2);
}

TEST_F(StartupTest, UnknownCommandAndMissingFirstBlock) {
  ExpectRefusedWithoutFiles({"p.pak", "t.txt", "/x"},
                            "Error: Unknown Command: /x\r\n", 2);
  ExpectRefusedWithoutFiles({"p.pak", "t.txt", "/EX", "1"},
                            "Error: Unknown Command: /EX\r\n", 2);
  ExpectRefusedWithoutFiles({"p.pak", "t.txt", "/l"},
                            "Error: First Block Must be specified!\r\n", 2);
  // The command is settled before the pakfile or the pair of names is looked
  // at.
  Write("p.pak", Unhex(kExamplePak));
  const RunResult same = Vorlex({"p.pak", "p.pak", "/L"});
  EXPECT_EQ(same.out, "Error: First Block Must be specified!\r\n");
  EXPECT_EQ(same.exit_status, 2);
  EXPECT_EQ(Read("p.pak"), Unhex(kExamplePak));
}

TEST_F(StartupTest, MissingPakfileIsNeverCreated) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"p.pak", "t.txt", "/E"},
                                             {"p.pak", "t.txt", "/E", "3"},
                                             {"p.pak", "t.txt", "/L", "0"},
                                             {"p.pak", "t.txt", "/P"},
                                             {"p.pak", "t.txt", "/R"},
                                             {"p.pak", "t.txt", "/A"},
                                             {"p.pak t.txt /e"}}) {
    SCOPED_TRACE(args[0] + " " + (args.size() > 2 ? args[2] : ""));
    ExpectRefusedWithoutFiles(args, kNoBlocks, 1);
  }
}

TEST_F(StartupTest, PakfileWithoutBlocks) {
  // A 0-byte file.
  Write("p.pak", "");
  RunResult result = Vorlex({"p.pak", "t.txt", "/P"});
  EXPECT_EQ(result.out, kNoBlocks);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(Read("p.pak"), "");
  EXPECT_FALSE(Exists("t.txt"));

  // A stored block count of 0 after a whole node table.
  const std::string no_blocks =
      Unhex("03 00 41 02 FF FF 7C 02 FF FF 00 00 00 01 00 00");
  Write("p.pak", no_blocks);
  for (const char* a_switch : {"/E", "/P", "/A"}) {
    result = Vorlex({"p.pak", "t.txt", a_switch});
    EXPECT_EQ(result.out, kNoBlocks) << a_switch;
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(Hex(Read("p.pak")), Hex(no_blocks));
    EXPECT_FALSE(Exists("t.txt"));
  }

  // A folder in place of the pakfile reads as empty.
  ASSERT_EQ(::mkdir(Path("folder").c_str(), 0755), 0);
  result = Vorlex({"folder", "t.txt", "/E"});
  EXPECT_EQ(result.out, kNoBlocks);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_FALSE(Exists("t.txt"));
}

TEST_F(StartupTest, TxtfileNamingThePakfileIsRefused) {
  const std::string pak = Unhex(kExamplePak);
  Write("p.pak", pak);
  ASSERT_EQ(::mkdir(Path("sub").c_str(), 0755), 0);
  ASSERT_EQ(::link(Path("p.pak").c_str(), Path("hard.txt").c_str()), 0);
  ASSERT_EQ(::symlink("p.pak", Path("soft.txt").c_str()), 0);
  struct Case {
    const char* pakfile;
    const char* txtfile;
  };
  for (const Case& c : {Case{"p.pak", "p.pak"}, Case{"p.pak", "./p.pak"},
                        Case{"./p.pak", "sub/../p.pak"},
                        Case{"p.pak", "hard.txt"}, Case{"hard.txt", "p.pak"},
                        Case{"p.pak", "soft.txt"}, Case{"soft.txt", "p.pak"}}) {
    for (const char* a_switch : {"/E", "/P", "/R", "/A"}) {
      SCOPED_TRACE(std::string(c.pakfile) + " " + c.txtfile + " " + a_switch);
      const RunResult result = Vorlex({c.pakfile, c.txtfile, a_switch});
      EXPECT_EQ(result.out, kSameFile);
      EXPECT_EQ(result.exit_status, 1);
      EXPECT_EQ(Hex(Read("p.pak")), Hex(pak));
    }
  }
  const RunResult absolute = Vorlex({Path("p.pak"), "p.pak", "/L", "0"});
  EXPECT_EQ(absolute.out, kSameFile);
  EXPECT_EQ(Hex(Read("p.pak")), Hex(pak));
}

TEST_F(StartupTest, SamePairIsRefusedBeforeAnyFileIsOpened) {
  // A pakfile that does not exist: the refusal, not "No blocks", and still
  // no file appears.
  ExpectRefusedWithoutFiles({"p.pak", "p.pak", "/E"}, kSameFile, 1);
  ExpectRefusedWithoutFiles({"p.pak", "./p.pak", "/P"}, kSameFile, 1);
  // A 0-byte pakfile likewise.
  Write("p.pak", "");
  const RunResult result = Vorlex({"./p.pak", "p.pak", "/A"});
  EXPECT_EQ(result.out, kSameFile);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(Read("p.pak"), "");
}

TEST_F(StartupTest, DanglingLinkIsNotTheMissingPakfile) {
  // The txtfile points at a pakfile that does not exist: they are not one
  // existing file, and the missing pakfile must not be created through the
  // link either.
  ASSERT_EQ(::symlink("p.pak", Path("t.txt").c_str()), 0);
  const RunResult result = Vorlex({"p.pak", "t.txt", "/E"});
  EXPECT_EQ(result.out, kNoBlocks);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_FALSE(Exists("p.pak"));
}

TEST_F(StartupTest, SoundTreePrintsNoTreeError) {
  Write("p.pak", Unhex(kExamplePak));
  const RunResult result = Vorlex({"p.pak", "t.txt", "/E"});
  EXPECT_EQ(result.out.find("Error in Tree!"), std::string::npos) << result.out;
  EXPECT_EQ(Hex(Read("p.pak")), Hex(Unhex(kExamplePak)));
}

TEST_F(StartupTest, TreeErrorsComeFirstAndTheCommandStillRuns) {
  // The root names neither leaf: nodes 0 and 1 have broken walks.
  std::string pak = Unhex(kExamplePak);
  pak[12] = '\x05';
  pak[13] = '\x05';
  Write("p.pak", pak);
  const RunResult result = Vorlex({"p.pak", "t.txt", "/E"});
  const std::string two_errors = kTreeError + kTreeError;
  ASSERT_EQ(result.out.substr(0, two_errors.size()), two_errors) << result.out;
  const std::string rest = result.out.substr(two_errors.size());
  EXPECT_FALSE(rest.empty()) << "the command did not run";
  EXPECT_EQ(rest.find("Error in Tree!"), std::string::npos) << rest;
  // The tree errors alone make the run fail.
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(Hex(Read("p.pak")), Hex(pak));
}

TEST_F(StartupTest, OneTreeErrorPerBrokenNode) {
  // N = 5: leaves 0 ('a'), 1 ('|'), 2 ('b'); node 3 holds 0 and 1; the root 4
  // holds 3 and 2. Node 1 claims node 2 as its parent, and node 2 claims the
  // root but the root names node 0 in place of node 2: nodes 1 and 2 are
  // broken, node 0 and node 3 are sound.
  const std::string pak = Unhex(
      "05 00  61 03 FF FF  7C 02 FF FF  62 04 FF FF  00 04 00 01"
      "  00 00 03 00  01 00  00 00 1E 00 00 00  01 00 00 00 40");
  Write("p.pak", pak);
  const RunResult result = Vorlex({"p.pak", "t.txt", "/P", "5"});
  ASSERT_GE(result.out.size(), 2 * kTreeError.size());
  EXPECT_EQ(result.out.substr(0, 2 * kTreeError.size()),
            kTreeError + kTreeError);
  EXPECT_EQ(result.out.find("Error in Tree!", 2 * kTreeError.size()),
            std::string::npos)
      << result.out;
  EXPECT_EQ(result.exit_status, 1);
}

}  // namespace
}  // namespace vorlex::testing
