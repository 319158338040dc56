// /E, /E with a block nr and /L through the built program: standard output,
// exit status and the text file, byte for byte.
#include "extract/extract_commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <ranges>
#include <string>
#include <vector>

#include "extract/worked_examples.h"
#include "support/faulty_files.h"

namespace vorlex::core::testing {
namespace {

using Strings = std::vector<std::string>;
const std::string kNotExist = " Error: Block not Exist!\r\n";
const std::string kCannotWrite = "Error: Cannot write txtfile!\r\n";

// A colon, an empty string, a line break, an index of 10; an empty block
// between; bytes after the last block, which nothing reads.
const std::vector<TestBlock> kDemo = {
    {300, {"Open the gate|", "|", "Price: 40 coins|"}},
    {301, {}},
    {302,
     {"First line\nsecond line|", "Goodbye.|", "c|", "d|", "e|", "f|", "g|",
      "h|", "i|", "j|", "Ten, the first of two digits.|"}}};

class ExtractCommandTest : public CommandTest {
 protected:
  void SetUp() override {
    Write("demo.pak", MakePakfile(nodes_, kDemo) + Unhex("FF FF 00 C3"));
  }
  // The file header of ./demo.pak, and its block section b.
  std::string Header(int count) const {
    return CrLf({"Strings extracted from: ./demo.pak",
                 "Number of Nods: " + std::to_string(nodes_.size()),
                 "Number of Blocks: " + std::to_string(count),
                 std::string(78, '-')});
  }
  std::string Section(int b) const { return ExpectedBlockSection(b, kDemo[b]); }

  // Runs vorlex with the words of `command`; checks standard output, the exit
  // status, the text file t.txt, and what standard error says (or, after
  // "!", does not say). A run that succeeds quietly says nothing there.
  void Expect(std::string_view command, std::string_view out, int status,
              std::string_view text, const Strings& err = {}) const {
    Strings args;
    for (const auto word : std::views::split(command, ' ')) {
      args.emplace_back(word.begin(), word.end());
    }
    const RunResult run = Vorlex(args);
    EXPECT_EQ(run.out, out) << command;
    EXPECT_EQ(run.exit_status, status) << command;
    EXPECT_TRUE(Read("t.txt") == text) << command;
    EXPECT_TRUE(!err.empty() || status != 0 || run.err.empty()) << run.err;
    for (const std::string& part : err) {
      EXPECT_EQ(run.err.find(part.substr(part[0] == '!')) == std::string::npos,
                part[0] == '!')
          << command << ": " << part << " in " << run.err;
    }
  }

  // Extracts what the pakfile maker writes for `blocks`.
  void ExpectAll(const std::vector<TestBlock>& blocks, const Strings& err) {
    const std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(blocks));
    Write("p.pak", MakePakfile(nodes, blocks));
    Write("t.txt", "");
    Expect("p.pak t.txt /E", std::string(blocks.size(), '.') + "Ok..\r\n", 0,
           ExpectedExtractText("p.pak", std::ssize(nodes), blocks), err);
  }

  const std::vector<TreeNode> nodes_ = BuildHuffmanTree(AllStrings(kDemo));
};

// Each command on a text file that held something before: a Vorlex text
// file longer than the new one, or what the guard against writing over
// other files must tell from one.
TEST_F(ExtractCommandTest, OnlyAVorlexTextFileIsWrittenOver) {
  const std::string bom = "\xEF\xBB\xBF", start = "Strings extracted from: ";
  const std::string old = start + std::string(5000, 'x');
  const std::string refused = "Error: txtfile is not a Vorlex text file!\r\n";
  const std::string all = Header(3) + Section(0) + Section(1) + Section(2);
  // What t.txt holds, the arguments after the file names; standard output,
  // exit status and t.txt afterwards ("=" for as it was, "+b" for the old
  // text and block b's section appended).
  const std::tuple<std::string, std::string, std::string, int, std::string>
      cases[] = {{old, "/e", "...Ok..\r\n", 0, all},
                 {old, "/L 0", "...Ok..\r\n", 0, all},
                 {old, "/L 2", ".Ok..\r\n", 0, Header(1) + Section(2)},
                 {old, "/L 3", "Ok..\r\n", 0, Header(0)},
                 {old, "/L -1", kNotExist, 1, "="},
                 {old, "/E -1", kNotExist, 1, "="},
                 {old, "/E 2", "", 0, "+2"},
                 {old, "/E abc", "", 0, "+0"},  // abc is block 0
                 {old + Section(0), "/E 0", "", 0, "+0"},
                 {"", "/E", "...Ok..\r\n", 0, all},
                 {"", "/E 1", "", 0, "+1"},
                 {bom + start, "/L 0", "...Ok..\r\n", 0, all},
                 {start, "/E 1", "", 0, "+1"},
                 {"Block Nr: 7\r\n", "/E 1", "", 0, "+1"},
                 {bom + "Block Nr: 7", "/E 1", "", 0, "+1"},
                 {"Block Nr: 7\r\n", "/E", refused, 1, "="},
                 {"Block Nr: 7\r\n", "/L 0", refused, 1, "="},
                 {"Strings extracted from:x", "/E", refused, 1, "="},
                 {"strings extracted from: x", "/L 1", refused, 1, "="},
                 {"\r\n" + start, "/E", refused, 1, "="},
                 {bom, "/E", refused, 1, "="},
                 {" " + start, "/E 1", refused, 1, "="},
                 {"Block Nr:7", "/E 1", refused, 1, "="},
                 {"x", "/L 3", refused, 1, "="},
                 // The block is checked first; --force passes this check alone.
                 {"x", "/L 4", kNotExist, 1, "="},
                 {"x", "/E 3", kNotExist, 1, "="},
                 {"x", "--force /L 4", kNotExist, 1, "="},
                 {"x", "-f /E 3", kNotExist, 1, "="},
                 {"x", "-f /E", "...Ok..\r\n", 0, all},
                 {"x", "/L 3 --force", "Ok..\r\n", 0, Header(0)},
                 {"x", "/E 1 -f", "", 0, "+1"}};
  for (const auto& [before, args, out, status, after] : cases) {
    SCOPED_TRACE(Hex(before, 30) + args);
    Write("t.txt", before);
    Expect("./demo.pak t.txt " + args, out, status,
           after == "="      ? before
           : after[0] == '+' ? before + Section(after[1] - '0')
                             : after,
           {status == 1 && out == refused ? "'t.txt' is not empty" : ""});
  }
  // No text file is made where the block does not exist; one that cannot
  // be made or written to its end is told. A device holds no work to lose;
  // --force changes nothing else.
  Write("t.txt", "x");
  Expect("./demo.pak new.txt /L -7", kNotExist, 1, "x");
  EXPECT_FALSE(Exists("new.txt"));
  for (const std::string args :
       {"no/t.txt /E", "no/t.txt /E 1", "no/t.txt /L 0", "no/t.txt /L 3",
        "/dev/full /L 3", "/dev/full /E 0"}) {
    Expect("./demo.pak " + args, kCannotWrite, 1, "x", {args.substr(0, 8)});
  }
  Expect("./demo.pak /dev/full /E", "..." + kCannotWrite, 1, "x",
         {"/dev/full"});
  Expect("./demo.pak /dev/null /E", "...Ok..\r\n", 0, "x");
  Expect("--force ./demo.pak /dev/full /E 0", kCannotWrite, 1, "x");
  Expect("--force ./demo.pak ./demo.pak /E",
         "Error: txtfile is the pakfile!\r\n", 1, "x");
  // Through a link, even one to nothing, the file it names is written.
  ASSERT_EQ(::symlink("made.txt", Path("link.txt").c_str()), 0);
  EXPECT_EQ(Vorlex({"./demo.pak", "link.txt", "/L", "3"}).out, "Ok..\r\n");
  EXPECT_EQ(Read("made.txt"), Header(0));
  EXPECT_TRUE(std::filesystem::is_symlink(Path("link.txt")));
  // The names swapped: a text file long enough to read as a pakfile with
  // 29779 nodes and 30840 blocks. Neither file changes.
  const std::string text = start + std::string(200000, 'x');
  const std::string pak = Read("demo.pak");
  Write("t.txt", text);
  const RunResult run = Vorlex({"t.txt", "demo.pak", "/E"});
  EXPECT_TRUE(run.out.starts_with("Error in Tree!\r\n"));
  EXPECT_TRUE(run.out.ends_with("Error in Tree!\r\n" + refused));
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(Read("demo.pak") == pak);
  EXPECT_TRUE(Read("t.txt") == text);
}

// /E and /L replace the text file all at once and /E with a block nr cuts
// a failed append back: a disk that fills up at any point leaves the old
// text file, mode and all, and no temporary file. Where no temporary file
// fits, /E and /L are refused unless written in place (--in-place).
TEST_F(ExtractCommandTest, AFullDiskLeavesTheOldTextFile) {
  const LoadedPak pak = LoadPak(Read("demo.pak"));
  const std::string txt = Path("t.txt");
  const std::string old = Header(0) + std::string(5000, 'x');
  const std::string temp = ".t.txt.vorlex-" + std::to_string(::getpid());
  for (const int command : {0, 1, 2}) {  // /E, /L 1, /E 2 (which appends)
    const bool appends = command == 2;
    // Room on the disk (-1: as much as needed), and whether the temporary
    // file fails to be made, with --in-place or without.
    const std::tuple<int, bool, bool> cases[] = {
        {-1, false, false},   {0, false, false}, {100, false, false},
        {4000, false, false}, {-1, true, false}, {-1, true, true},
        {100, true, true}};
    for (const auto& [room, no_temp, in_place] : cases) {
      SCOPED_TRACE(std::to_string(room) + (no_temp ? " no temp" : "") +
                   (in_place ? " in place" : ""));
      Write("t.txt", old);
      ::chmod(txt.c_str(), 0640);
      FaultyFiles files;
      if (room >= 0) files.FillDiskAfter(room);
      if (no_temp) files.FailEvery(FaultyFiles::kOpen, ENOSPC, temp);
      std::string out, err;
      Console console = StringConsole(&out, &err);
      const RunOptions options{.in_place = in_place};
      if (command == 0)
        ExtractAll("demo.pak", txt, pak, files, options, console);
      if (command == 1)
        ExtractLast("demo.pak", txt, 1, pak, files, options, console);
      if (command == 2)
        ExtractOne("demo.pak", txt, 2, pak, files, options, console);
      // Without a temporary file only appending or --in-place writes.
      const bool refused = no_temp && !in_place && !appends;
      const bool written = !out.ends_with(kCannotWrite);
      EXPECT_EQ(written, Read("t.txt") != old) << out;
      EXPECT_EQ(written, !console.error_reported);
      EXPECT_TRUE(room >= 0 || written != refused);
      EXPECT_EQ(err.find("--in-place") != std::string::npos, refused);
      EXPECT_EQ(std::filesystem::status(txt).permissions(),
                std::filesystem::perms{0640});
      EXPECT_EQ(Files(), 2);
    }
  }
}

// Hand-made, damaged and far-reaching pakfiles, the sample and random ones.
TEST_F(ExtractCommandTest, PakfilesOfTheirOwn) {
  Write("p.pak", ThreeNodePak());
  Expect("p.pak t.txt /E", ".Ok..\r\n", 0,
         ExpectedExtractText("p.pak", 3, {{7, {"A|"}}}));
  // Leaves 0 ('a'), 1 ('|'), 2 ('b'); node 3 holds 0 and 1, the root 4 holds
  // 3 and 0 where 2 belongs, and 1 claims 2 as its parent: nodes 1 and 2 have
  // no sound path. A tree error for each comes first, the block decodes all
  // the same, and the tree errors alone make the run fail.
  Write("p.pak",
        Unhex("05 00  61 03 FF FF  7C 02 FF FF  62 04 FF FF  00 04 00 01"
              "  00 00 03 00  01 00  00 00 1E 00 00 00  01 00 00 00 40"));
  Expect("p.pak t.txt /E", "Error in Tree!\r\nError in Tree!\r\n.Ok..\r\n", 1,
         ExpectedExtractText("p.pak", 5, {{0, {"|"}}}),
         {"node 1 has no sound path", "node 2 has no sound path"});
  // Block 0 counts 5 strings, but its bits end in the third.
  const Strings five = {"one|", "two|", "three and more|", "four|", "five|"};
  const std::vector<TreeNode> nodes = BuildHuffmanTree(five);
  std::string cut = EncodeTestBlock(nodes, five);
  cut.resize(12 + EncodeTestString(nodes, "one|").size() +
             EncodeTestString(nodes, "two|").size() + 1);
  auto count5 = [](std::string text) {  // as the damaged block's count says
    return text.replace(text.find("Strings: 2"), 10, "Strings: 5");
  };
  Write("p.pak",
        MakePakfileFromBlockBytes(nodes, {cut, EncodeTestBlock(nodes, five)}));
  Expect("p.pak t.txt /E", "..Ok..\r\n", 1,
         count5(ExpectedExtractText("p.pak", std::ssize(nodes),
                                    {{0, {"one|", "two|"}}, {1, five}})),
         {"block 0 ", "5 strings, 2 decoded", "!block 1"});
  Write("t.txt", "");
  Expect("p.pak t.txt /E 0", "", 1,
         count5(ExpectedBlockSection(0, {0, {"one|", "two|"}})), {"block 0 "});
  Write("t.txt", "");
  // Block 1 starts at 2^31 - 1: block 0 runs two gigabytes past the end of
  // the file, and its last three strings are the zeros there ('|' = 0).
  const Strings zeros = {"A|", "AA|", "|", "|", "|"};
  std::string far = EncodeTestBlock(ZeroIsTerminatorTree(), zeros);
  far = MakePakfileFromBlockBytes(ZeroIsTerminatorTree(),
                                  {far.erase(far.size() - 3), ""});
  const std::string far_offset = Unhex("FF FF FF 7F");  // 2^31 - 1
  Write("p.pak", far.replace(4 + 4 * 3 + 6 + 2, 4, far_offset));
  Expect("p.pak t.txt /E", "..Ok..\r\n", 0,
         ExpectedExtractText("p.pak", 3, {{0, zeros}, {1, {}}}));
  // Eight blocks of 65535 strings from the zeros past the end, the rows
  // between them lying there too: more text than one run of decoding holds.
  std::vector<std::string> counts(16);
  std::vector<TestBlock> wide(16);
  for (int b = 0; b < 16; ++b) {
    wide[b] = {b, Strings(b % 2 ? 0 : 65535, "|")};
    counts[b] = b % 2 ? "" : "\xFF\xFF";
  }
  far = MakePakfileFromBlockBytes(ZeroIsTerminatorTree(), counts);
  for (int b = 1; b < 16; b += 2) far.replace(18 + 6 * b, 4, far_offset);
  Write("p.pak", far);
  Expect("p.pak t.txt /E", std::string(16, '.') + "Ok..\r\n", 0,
         ExpectedExtractText("p.pak", 3, wide));
  // Strings that packing would not read back unchanged are named.
  ExpectAll(
      {{1, {"fine|"}},
       {2, {"ok|", "a\r\nb|", "x\x1ay|", "\r\n\x1a\x01\xFF|", "\n\r|"}}},
      {"block 1, string 1 holds CR LF", "block 1, string 2 holds the byte 26",
       "block 1, string 3 holds CR LF", "block 1, string 3 holds the byte 26",
       "!string 0", "!string 4"});
  ExpectAll(RandomBlocks(12, 6, 400), {});   // enough for the lookup table
  ExpectAll(RandomBlocks(13, 4000, 6), {});  // decoded ahead in several runs
  // The sample: an empty string, an empty block, a line break.
  const RunResult run =
      Vorlex({VORLEX_SOURCE_DIR "/examples/sample.pak", "s.txt", "/E"});
  EXPECT_EQ(run.out + run.err + std::to_string(run.exit_status),
            "....Ok..\r\n0");
  for (const char* part : {":  |\r\n", "Nr of Strings: 0\r\n---", ",\nand"}) {
    EXPECT_NE(Read("s.txt").find(part), std::string::npos) << part;
  }
}

}  // namespace
}  // namespace vorlex::core::testing
