// Start-up through the real program: what it prints, how it exits, and which
// files it leaves, before and around the command it hands over to.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "driver/command_line.h"
#include "extract/worked_examples.h"

namespace vorlex::core::testing {
namespace {

using Args = std::vector<std::string>;

const std::string kNoBlocks = "Error: No blocks in Pakfile!\r\n";
const std::string kSameFile = "Error: txtfile is the pakfile!\r\n";
const std::string kDoneLine = " ---- Done! ----\r\n";
const std::string kNoFirst = "Error: First Block Must be specified!\r\n";

using StartupTest = CommandTest;

// Refusals before a command runs: the choice of the command and of its
// block nr is ParseCommand's, the ways of naming one file are SameFile's and
// the kinds of file read as empty are ReadRegularFile's to tell. Here: the
// order of the checks, and that neither file is made or changed.
TEST_F(StartupTest, RefusalsLeaveTheFilesAsTheyWere) {
  const std::string pak = ThreeNodePak();
  // The pakfile p.pak (nothing: no such file), the arguments, the output and
  // the exit status.
  using Bytes = std::optional<std::string>;
  std::vector<std::tuple<Bytes, Args, std::string, int>> cases = {
      // Without an option the arguments are one line split at blanks.
      {{}, {" p.pak ", "", " t.txt"}, UsageText(), 2},
      // The command is settled before the pair of names is looked at.
      {pak, {"p.pak", "p.pak", "/L"}, kNoFirst, 2},
      // A missing pakfile is not made, not even through a dangling link
      // as the txtfile; a FIFO and a file beyond 4 GiB read as empty,
      // without waiting or reading.
      {{}, {"p.pak", "link.txt", "/E"}, kNoBlocks, 1},
      {{}, {"fifo", "t.txt", "/P"}, kNoBlocks, 1},
      {{}, {"big.pak", "t.txt", "/A"}, kNoBlocks, 1}};
  for (const std::string tail :
       {" /E", " /e 3", " /L 0", " /P", " /R", " /A"}) {
    // No pakfile, an empty one, or a block count of 0 after a node table.
    for (const Bytes& bytes :
         {Bytes(), Bytes(""), Bytes(pak.substr(0, 14) + '\0' + '\0')}) {
      cases.push_back({bytes, {"p.pak t.txt" + tail}, kNoBlocks, 1});
    }
    // The same file twice is refused before it is opened, even a missing or
    // an empty one.
    cases.push_back({{}, {"p.pak ./p.pak" + tail}, kSameFile, 1});
    cases.push_back({"", {"link.txt p.pak" + tail}, kSameFile, 1});
  }
  ASSERT_EQ(::symlink("p.pak", Path("link.txt").c_str()), 0);
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0644), 0);
  Write("big.pak", "");
  ASSERT_EQ(::truncate(Path("big.pak").c_str(), (off_t{1} << 32) + 1), 0);
  for (const auto& [bytes, args, out, status] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args) + Hex(bytes.value_or("none")));
    std::filesystem::remove(Path("p.pak"));
    if (bytes) Write("p.pak", *bytes);
    const RunResult result = Vorlex(args);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.exit_status, status);
    EXPECT_EQ(Exists("p.pak") ? Hex(Read("p.pak")) : "no file",
              bytes ? Hex(*bytes) : "no file");
    EXPECT_FALSE(Exists("t.txt"));
  }
}

TEST_F(StartupTest, OptionsSwitchToTheModernReading) {
  for (const Args& args : {Args{"--help"}, Args{"p.pak", "-h", "/x"}}) {
    const RunResult help = Vorlex(args);
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: vorlex ")) << help.out;
    for (const char* part :
         {"/E n ", "/L n ", "/A ", "-h, --help", "-V, ", "-f, --force",
          "-n, --dry-run", "--compact", "-q, --quiet", "--in-place",
          "Examples:", "Exit statuses:\n  0 "}) {
      EXPECT_NE(help.out.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(help.out.find('\r'), std::string::npos);
  }
  EXPECT_EQ(Vorlex({"-V"}).out.substr(0, 12), "vorlex 1.22.");
  const std::string done = "Nr of Blocks: 1\r\n." + kDoneLine;
  const std::string not_exist = " Error: Block not Exist!\r\n";
  const std::string no_block = "Error: Nr of Blocks = 0!\r\n";
  // The arguments, standard output, exit status, and a part of standard
  // error (which is empty where none is given and the run succeeds).
  const std::tuple<Args, std::string, int, std::string> cases[] = {
      // Names with blanks: taken whole once an option is given.
      {{"my p.pak", "my t.txt", "/E"}, "Error: Unknown Command: my\r\n", 2, ""},
      {{"--", "my p.pak", "my t.txt", "/e"}, ".Ok..\r\n", 0, ""},
      {{"my p.pak", "my t.txt", "/P", "--in-place"}, done, 0, "1 block"},
      {{"-q", "my p.pak", "my t.txt", "/P"}, "", 0, ""},
      {{"my p.pak", "my t.txt", "/L", "1", "-q"}, "", 0, ""},
      // Errors still show when quiet; "-1" is a block nr, "-fq" no option.
      {{"my p.pak", "-q", "my t.txt", "/L", "-1"}, not_exist, 1, "not -1"},
      {{"-q", "my p.pak", "0.txt", "/R"}, no_block, 1, "0.txt"},
      {{"-fq", "p.pak", "t.txt"}, "Error: Unknown Command: t.txt\r\n", 2, ""},
      {{"--"}, UsageText(), 0, ""},
      {{"--", "-q", "t.txt", "/E"}, kNoBlocks, 1, "'-q'"},
      // Errors of the options themselves.
      {{"--frob", "my p.pak", "t.txt", "/E"}, "", 2, "unknown option '--frob'"},
      {{"--charset", "--", "p", "t", "/E"}, "", 2, "'--charset' needs a value"},
      {{"--quiet=yes", "my p.pak", "t.txt", "/E"}, "", 2, "takes no value"},
      {{"--in", "my p.pak"}, "", 2, "ambiguous option '--in'"},
      {{"--info", "my p.pak", "t.txt"}, "", 2, "one pakfile"},
      {{"-q", "--info", "my p.pak"}, "", 2, "'--quiet' does not fit --info"},
      {{"--info", "none.pak"}, "", 1, "cannot read pakfile 'none.pak'"},
      {{"--", "my p.pak", "", "/E"}, "", 2, "empty argument"},
      {{"--in-place", "p", "t", "/E", "0"}, "", 2, "fit /E with a block nr"},
      {{"--force", "my p.pak", "t.txt", "/A"}, "", 2, "fit /A"},
      {{"-n", "my p.pak", "t.txt", "/L", "0"}, "", 2, "fit /L"},
      {{"--compact", "my p.pak", "t.txt", "/R"}, "", 2, "fit /R"}};
  Write("my p.pak", ThreeNodePak());
  Write("0.txt", "Number of Blocks: 0\r\n");
  for (const auto& [args, out, status, err] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const RunResult result = Vorlex(args);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.exit_status, status);
    EXPECT_TRUE(!err.empty() || status != 0 || result.err.empty())
        << result.err;
    EXPECT_NE(result.err.find(err), std::string::npos) << result.err;
  }
  EXPECT_EQ(Read("my t.txt"),
            CrLf({"Strings extracted from: my p.pak", "Number of Nods: 3",
                  "Number of Blocks: 0", std::string(78, '-')}));
  EXPECT_EQ(Hex(Read("my p.pak")), Hex(ThreeNodePak()));
}

}  // namespace
}  // namespace vorlex::core::testing
