// Start-up through the real program: what it prints, how it exits, and which
// files it leaves, before and around the command it hands over to.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "driver/command_line.h"
#include "support/command_test.h"

namespace vorlex::core::testing {
namespace {

using Args = std::vector<std::string>;

// N = 3 (leaves 'A' and '|' under the root 2), B = 1: block 0 has ID 7 and
// starts at 22; it holds the one string "A|".
constexpr char kExamplePak[] =
    "03 00  41 02 FF FF  7C 02 FF FF  00 00 00 01  01 00  07 00 16 00 00 00"
    "  01 00 00 00 40";
const std::string kNoBlocks = "Error: No blocks in Pakfile!\r\n";
const std::string kSameFile = "Error: txtfile is the pakfile!\r\n";

using StartupTest = CommandTest;

TEST_F(StartupTest, RefusalsLeaveTheFilesAsTheyWere) {
  const std::string usage = UsageText(), pak = Unhex(kExamplePak);
  const std::string no_first = "Error: First Block Must be specified!\r\n";
  // The pakfile p.pak (nothing: no such file), the arguments, the output and
  // the exit status.
  std::vector<std::tuple<std::optional<std::string>, Args, std::string, int>>
      cases = {
          // Blanks and empty arguments vanish: none is the usage, two complain.
          {{}, {}, usage, 0},
          {{}, {"", "  ", ""}, usage, 0},
          {{}, {" p.pak ", "", " t.txt"}, usage, 2},
          {{}, {"p.pak", "t.txt", "/x"}, "Error: Unknown Command: /x\r\n", 2},
          {{}, {"p.pak t.txt /EX 1"}, "Error: Unknown Command: /EX\r\n", 2},
          {{}, {"p.pak", "t.txt", "/l"}, no_first, 2},
          // The command is settled before the pair of names is looked at.
          {pak, {"p.pak", "p.pak", "/L"}, no_first, 2},
          // A missing pakfile is not made, not even through a dangling link
          // as the txtfile; a folder reads as empty.
          {{}, {"p.pak", "link.txt", "/E"}, kNoBlocks, 1},
          {{}, {"folder", "t.txt", "/E"}, kNoBlocks, 1}};
  for (const char* tail : {"/E", "/e 3", "/L 0", "/P", "/R", "/A"}) {
    // No pakfile, an empty one, or a block count of 0 after a node table.
    for (const std::optional<std::string>& bytes :
         {std::optional<std::string>(),
          {""},
          {Unhex("03 00 41 02 FF FF 7C 02 FF FF 00 00 00 01 00 00")}}) {
      cases.push_back(
          {bytes, {"p.pak", "t.txt " + std::string(tail)}, kNoBlocks, 1});
    }
    // The same file twice is refused before it is opened, whatever it holds.
    cases.push_back({{}, {"p.pak ./p.pak " + std::string(tail)}, kSameFile, 1});
    for (const std::string& names :
         Args{"p.pak p.pak ", "./p.pak sub/../p.pak ", "link.txt p.pak ",
              Path("p.pak") + " p.pak "}) {
      for (const std::string& bytes : {std::string(), pak}) {
        cases.push_back({bytes, {names + tail}, kSameFile, 1});
      }
    }
  }
  ASSERT_EQ(::symlink("p.pak", Path("link.txt").c_str()), 0);
  ASSERT_EQ(::mkdir(Path("folder").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(Path("sub").c_str(), 0755), 0);
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

TEST_F(StartupTest, TreeErrorsComeFirstOncePerBrokenNode) {
  const std::tuple<std::string, const char*, int> cases[] = {
      {kExamplePak, "/E", 0},
      // Leaf 2 ('Z') claims the root 3, which holds leaves 0 and 1; block 0
      // ("A|") decodes all the same.
      {"04 00  41 03 FF FF  7C 03 FF FF  5A 03 FF FF  00 00 00 01  01 00"
       "  07 00 1A 00 00 00  01 00 00 00 40",
       "/E", 1},
      // N = 5: leaves 0 ('a'), 1 ('|'), 2 ('b'); node 3 holds 0 and 1; the
      // root 4 holds 3 and 2. Node 1 claims node 2 as its parent, and node 2
      // claims the root, which names node 0 in its place: 1 and 2 are broken.
      {"05 00  61 03 FF FF  7C 02 FF FF  62 04 FF FF  00 04 00 01  00 00 03 00"
       "  01 00  00 00 1E 00 00 00  01 00 00 00 40",
       "/P", 2}};
  for (const auto& [pak, a_switch, count] : cases) {
    SCOPED_TRACE(pak);
    Write("p.pak", Unhex(pak));
    const RunResult result = Vorlex({"p.pak", "t.txt", a_switch});
    std::string errors;
    for (int k = 0; k < count; ++k) errors += "Error in Tree!\r\n";
    ASSERT_EQ(result.out.substr(0, errors.size()), errors) << result.out;
    // The command still runs, and prints no tree error of its own.
    const std::string rest = result.out.substr(errors.size());
    EXPECT_FALSE(rest.empty()) << "the command did not run";
    EXPECT_EQ(rest.find("Error in Tree!"), std::string::npos) << rest;
    // The tree errors alone make the run fail.
    EXPECT_EQ(result.exit_status, count > 0 ? 1 : 0);
    EXPECT_EQ(Hex(Read("p.pak")), Hex(Unhex(pak)));
  }
}

}  // namespace
}  // namespace vorlex::core::testing
