// The packing commands through the real binary (standard output, exit status
// and the pakfile's bytes), and the pakfile replaced whole or not at all: any
// one file call failing, a process killed at random moments, signals,
// read-only files, permissions and links.
#include "pack/pack_commands.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "base/file_io.h"
#include "extract/worked_examples.h"
#include "support/faulty_files.h"
#include "support/pak_maker.h"

namespace vorlex::core::testing {
namespace {

namespace fs = std::filesystem;
const std::string kDone = " ---- Done! ----\r\n";
const std::string kNotChanged = " Error: Pakfile not changed!\r\n";
const std::string kDryRun =
    "Dry run: nothing was written, the pakfile is as it was.\n";
const std::string kLongA = std::string(22, 'A') + "|";  // 3 bytes of code

std::string TextFor(const std::vector<TestBlock>& blocks) {
  return ExpectedExtractText("a.pak", 3, blocks);
}

// The new bytes over the old file, which is never shortened.
std::string Over(std::string fresh, const std::string& old) {
  if (fresh.size() < old.size()) fresh += old.substr(fresh.size());
  return fresh;
}

// `pak` with the bytes at `at` replaced.
std::string Patch(std::string pak, size_t at, std::string_view bytes) {
  return pak.replace(at, bytes.size(), bytes);
}

// The standard output of a run over `blocks` blocks that ends with `end`.
std::string Dots(int blocks, const std::string& end) {
  return "Nr of Blocks: " + std::to_string(blocks) + "\r\n" +
         std::string(blocks, '.') + end;
}
std::string Done(int blocks) { return Dots(blocks, kDone); }
std::string NotChanged(int blocks) { return Dots(blocks, kNotChanged); }

struct Case {
  const char* command;
  std::string pak;  // empty: a.pak as the case before left it
  std::string text;
  std::string out;         // ending in kDone, or else a refusal
  std::string after = "";  // the pakfile after a run that ends in kDone
  // A part of standard error; one that begins with "vorlex: " begins it.
  std::string told = "";
  const char* txtfile = "t.txt";
  const char* option = "";  // before the arguments, if any
};

class PackCommandTest : public CommandTest {
 protected:
  void Expect(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.command) + " " + c.text.substr(0, 150));
      if (!c.pak.empty()) Write("a.pak", c.pak);
      const std::string before = Read("a.pak");
      Write("t.txt", c.text);
      // A dry run says and ends as the real run does, and writes nothing.
      std::vector<std::string> args = {"-n", "a.pak", c.txtfile, c.command};
      if (*c.option) args.insert(args.begin() + 1, c.option);
      const RunResult dry = Vorlex(args);
      EXPECT_EQ(Hex(Read("a.pak")), Hex(before));
      const RunResult run = Vorlex({args.begin() + 1, args.end()});
      EXPECT_EQ(dry.out, run.out + kDryRun);
      EXPECT_EQ(dry.err, run.err);
      EXPECT_EQ(dry.exit_status, run.exit_status);
      const bool done = c.out.ends_with(kDone);
      EXPECT_EQ(run.out, c.out);
      EXPECT_EQ(run.exit_status, done ? 0 : 1);
      EXPECT_EQ(Hex(Read("a.pak")), Hex(done ? c.after : before));
      EXPECT_NE(run.err.find(c.told), std::string::npos) << run.err;
      if (c.told.starts_with("vorlex: ")) {
        EXPECT_TRUE(run.err.starts_with(c.told)) << run.err;
      }
    }
  }
};

TEST_F(PackCommandTest, WritesTheBlocksOfTheText) {
  const std::vector<TestBlock> r = RandomBlocks(5, 3, 6);
  const std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(r));
  const std::string pak = MakePakfile(nodes, r);
  const TestBlock shorter = {900, {r[0].strings[1]}};
  std::vector<TestBlock> swapped = {r[2], r[1], r[0]};  // a longer block first
  swapped[1].strings.push_back(r[2].strings[0]);
  // N = 3, B = 1: block 0 fills bytes 22 to 31.
  const std::string pak32 = MakePakfile(ThreeNodeTree(), {{7, {"A|", kLongA}}});
  const std::string compact = MakePakfile(nodes, {shorter});
  // Strings of over a MiB, one on a line and one over two lines, are kept as
  // read and encoded and read back a piece at a time.
  std::string mib;
  for (std::mt19937 random(7); mib.size() <= (1 << 20);)
    mib += "aaaabbc d"[random() % 9];
  const std::vector<TestBlock> big = {{7, {mib + "|"}},
                                      {8, {"a|", mib + "\n" + mib + "|"}}};
  const std::vector<TreeNode> big_nodes = BuildHuffmanTree(AllStrings(big));
  Expect({
      // The head is 28 bytes; block 0 is 11 bytes at 28, block 1 at 39.
      {"/P", ThreeNodePak(),
       TextFor({{300, {"A|", "A|", "A|"}}, {301, {"AA|"}}}), Done(2),
       Unhex("03 00 41 02 FF FF 7C 02 FF FF 00 00 00 01"
             " 02 00 2C 01 1C 00 00 00 2D 01 27 00 00 00"
             " 03 00 00 00 01 00 02 00 40 40 40 01 00 00 00 20"),
       "vorlex: a.pak: 2 blocks written, 27 -> 44 bytes; "
       "block 0 grew most (+6 bytes)\n"},
      {"/p", ThreeNodePak(),
       CrLf({"Total number OF BLOCKS: &H1 block", "Block Nr: 0", "ID: 5",
             "Nr of Strings: 1", "0:  AA|"}),
       Done(1), MakePakfile(ThreeNodeTree(), {{5, {"AA|"}}})},
      {"/P", pak, TextFor({{42, {r[1].strings[0], "|"}}}), Done(1),
       Over(MakePakfile(nodes, {{42, {r[1].strings[0], "|"}}}), pak),
       "no block grew"},
      {"/R", pak, TextFor({shorter}), Done(1),
       Over(MakePakfile(nodes, {r[0], r[1], shorter}), pak)},
      {"/r", pak, TextFor(swapped), Done(3),
       Over(MakePakfile(nodes, swapped), pak)},
      // The add step moves the blocks by 6 bytes; the new block is at 38.
      {"/A", pak32, TextFor({{9, {"AA|"}}}), Done(1),
       pak32.substr(0, 14) +
           Unhex("02 00 07 00 1C 00 00 00 09 00 26 00 00 00") +
           pak32.substr(22) + Unhex("01 00 00 00 20"),
       "vorlex: a.pak: 1 block written, 32 -> 43 bytes; "
       "block 1 grew most (+5 bytes)\n"},
      {"/A", "", TextFor({{10, {"A|"}}}), Done(1),
       MakePakfile(ThreeNodeTree(),
                   {{7, {"A|", kLongA}}, {9, {"AA|"}}, {10, {"A|"}}})},
      {"/a", pak32, TextFor({{8, {"A|"}}, {9, {"AA|"}}}), Done(2),
       MakePakfile(ThreeNodeTree(), {{8, {"A|"}}, {9, {"AA|"}}})},
      // As many blocks as the block count holds.
      {"/P", ThreeNodePak(), TextFor(std::vector<TestBlock>(65535)),
       Done(65535),
       MakePakfile(ThreeNodeTree(), std::vector<TestBlock>(65535))},
      {"/P", MakePakfile(big_nodes, {{1, {}}}), TextFor(big), Done(2),
       MakePakfile(big_nodes, big)},
      // --compact: exactly the rebuilt bytes, without the old tail.
      {"/P", pak + Unhex("FF FF 00 C3"), TextFor({shorter}), Done(1), compact,
       "; --compact saved " + std::to_string(pak.size() + 4 - compact.size()) +
           " bytes\n",
       "t.txt", "--compact"},
  });
}

TEST_F(PackCommandTest, RefusalsLeaveThePakfileAsItWas) {
  const std::string pak3 = ThreeNodePak();
  const std::string pak32 = MakePakfile(ThreeNodeTree(), {{7, {"A|", kLongA}}});
  const std::string two =
      MakePakfile(ThreeNodeTree(), {{1, {"A|"}}, {2, {"A|"}}});
  const std::string three =
      MakePakfile(ThreeNodeTree(), {{1, {"A|"}}, {2, {"A|"}}, {3, {"A|"}}});
  const std::string n0 = "Error: Nr of Blocks = 0!\r\n";
  const std::string many = "Error: Too many Blocks!\r\n";
  std::string cut_short = TextFor({{1, {"A|"}}, {2, {"A|"}}});
  cut_short.replace(cut_short.find("Blocks: 2"), 9, "Blocks: 4");
  const std::string one_more = TextFor({{9, {"AA|"}}});
  const std::string as(1200000, 'a');
  const std::string cnf = " Error: Char not Found in Tree!\r\n";
  Expect({
      {"/P", pak3, CrLf({"Number of Blocks 1", "Number of  Blocks: 1", "B: 0"}),
       n0, "", "has no \"Number of Blocks:\" line"},
      // The count is read after the first colon, in the first count line.
      {"/P", pak3, CrLf({"x: the NUMBER of blocks: 4", "Number of Blocks: 9"}),
       "Nr of Blocks: 0\r\n" + n0},
      {"/A", pak3, "", n0, "", "cannot open txtfile 'missing.txt'",
       "missing.txt"},
      {"/R", pak3, "Number of Blocks: 0.4\r\n", "Nr of Blocks: 0\r\n" + n0},
      {"/A", pak3, "Number of Blocks: -1e99\r\n",
       "Nr of Blocks:-2147483648\r\nError: Nr of Blocks < 0!\r\n"},
      {"/P", pak3, "Number of Blocks: 65536\r\n",
       "Nr of Blocks: 65536\r\n" + many},
      {"/R", pak3, "Number of Blocks: 2\r\n", "Nr of Blocks: 2\r\n" + many},
      {"/A", pak32, TextFor({{1, {"A|"}}, {2, {"A|"}}, {3, {"A|"}}}),
       "Nr of Blocks: 3\r\n" + many},
      {"/P", pak3, cut_short, "Nr of Blocks: 4\r\n...." + kNotChanged, "",
       "ends before the block is complete"},
      {"/R", pak3,
       CrLf({"Number of Blocks: 1", "B: 0", "ID: 1", "N: 2", "0:  A|",
             "0:  AA|", "1:  A|"}),
       NotChanged(1), "", "t.txt:6: block 0: string index 0 occurs twice"},
      // Block 1 inside the directory; block 1 at 16,777,200, so block 2
      // would start beyond what three offset bytes hold.
      {"/R", Patch(two, 24, "\x0A"), TextFor({{2, {"A|"}}}), NotChanged(1), "",
       "inside the node table or the directory"},
      {"/R", Patch(three, 24, "\xF0\xFF\xFF"),
       TextFor({{1, {std::string(200, 'A') + "|"}}, {2, {"A|"}}}),
       NotChanged(2), "", "block 2 would start at offset 16777230"},
      // Block 0 at 20, inside the directory; at 32, the end of the file;
      // blocks 0 and 1 swapped.
      {"/A", Patch(pak32, 18, "\x14"), one_more, NotChanged(1), "",
       "inside the node table"},
      {"/A", Patch(pak32, 18, "\x20"), one_more, NotChanged(1), "",
       "at or before block 0"},
      {"/A", Patch(Patch(two, 18, "\x21"), 24, "\x1C"), one_more, NotChanged(1),
       "", "before block 0"},
      // Sections read, encoded and told in batches (block 0 fills one): every
      // message comes in the order of the blocks.
      {"/P", pak3,
       TextFor({{1, {std::string(1100000, 'A') + "x|"}},
                {2, {"A|"}},
                {3, {"AxA|"}}}),
       "Nr of Blocks: 3\r\n." + cnf + ".." + cnf + kNotChanged, "",
       "(character 1100001 of string 0, column 1100005) has no code in "
       "the pakfile's tree\nvorlex: t.txt:18: block 2: byte 120 'x' "
       "(character 2"},
      // Node 3 ('c') names node 2 ('b') as its parent, which does not name it
      // as a child: 'c' takes the code of 'b', in a block too long to be
      // decoded whole for the check.
      {"/P",
       Unhex("06 00 61 05 FF FF 7C 04 FF FF 62 04 FF FF 63 02 FF FF 00 05 01 02"
             " 00 00 00 04 01 00 07 00 22 00 00 00 00 00"),
       CrLf({"Number of Blocks: 1", "B: 0", "ID: 7", "N: 1",
             "0:  " + as + "c" + as + "|"}),
       "Error in Tree!\r\n" + NotChanged(1), "",
       "t.txt:5: block 0: string 0 does not decode back"},
  });
}

// A text file of one or more sections, each "ID: <id>", "Nr of Strings:
// <count>" and its lines.
std::string Sections(
    const std::string& blocks,
    const std::vector<std::tuple<std::string, std::string,
                                 std::vector<std::string>>>& sections) {
  std::vector<std::string> lines = {"Number of Blocks: " + blocks};
  for (const auto& [id, count, strings] : sections) {
    lines.insert(lines.end(),
                 {"Block Nr: 0", "ID: " + id, "Nr of Strings: " + count});
    lines.insert(lines.end(), strings.begin(), strings.end());
  }
  return CrLf(lines);
}

TEST_F(PackCommandTest, NamesTheFirstCauseOfARefusal) {
  const std::string pak = ThreeNodePak();
  const std::string sbh = " Error: String Before Header!\r\n";
  const std::string cnf = " Error: Char not Found in Tree!\r\n";
  auto made = [](std::vector<TestBlock> blocks) {
    return MakePakfile(ThreeNodeTree(), blocks);
  };
  const std::vector<std::string> a = {"0:  A|"};
  Expect({
      {"/P", pak, Sections("1", {{"65535", "1", a}}), Done(1),
       made({{65535, {"A|"}}})},
      {"/P", pak, Sections("1", {{"65536", "1", a}}), NotChanged(1), "",
       "vorlex: t.txt:3: block 0: the ID 65536; an ID holds 0 to 65535\n"},
      {"/P", pak, Sections("1", {{"&H1F", "&h1", a}}), Done(1),
       made({{31, {"A|"}}})},
      {"/P", pak, Sections("1", {{"&H", "1", a}}), NotChanged(1), "",
       "vorlex: t.txt:3: block 0: \"ID:\" holds no number (\"&H\")\n"},
      // A count of no number reads as 0; its strings open the next section.
      {"/P", pak, Sections("2", {{"1", "three", a}, {"2", "1", a}}),
       "Nr of Blocks: 2\r\n.." + sbh + kNotChanged, "",
       "vorlex: t.txt:4: block 0: \"Nr of Strings:\" holds no number "
       "(\"three\")\nvorlex: 'a.pak' not changed: t.txt:4: block 0: "
       "\"Nr of Strings:\" holds no number (\"three\") (and 1 more "
       "problem)\n"},
      // A string line added without raising the count.
      {"/P", pak,
       Sections("2", {{"1", "1", {"0:  A|", "1:  A|"}}, {"2", "1", a}}),
       "Nr of Blocks: 2\r\n.." + sbh + kNotChanged, "",
       "vorlex: t.txt:4: block 0: \"Nr of Strings:\" counts 1 string, but "
       "more string lines follow it (line 6) (and 1 more problem in this "
       "block)\n"},
      // A count line lowered: one more section is left.
      {"/P", pak, Sections("1", {{"1", "1", a}, {"2", "1", a}}), NotChanged(1),
       "",
       "vorlex: t.txt:6: text after the last block section: \"Number of "
       "Blocks:\" (line 1) counts 1 block, but the text holds more\n"},
      {"/P", pak, Sections("1", {{"1", "1", {"0:  A|", "-----", "the end"}}}),
       Done(1), made({{1, {"A|"}}})},
      // Every character without a code, in one message.
      {"/P", pak, Sections("1", {{"1", "1", {"0:  AxyAz\tA|"}}}),
       "Nr of Blocks: 1\r\n." + cnf + kNotChanged, "",
       "vorlex: t.txt:5: block 0: string 0 holds 4 characters that have no "
       "code in the pakfile's tree: byte 120 'x' (column 6), byte 121 'y' "
       "(column 7), byte 122 'z' (column 9), byte 9 (column 10)\n"},
  });
}

using Command = void (*)(const std::string&, const std::string&, LoadedPak&,
                         FileSystem&, const RunOptions&, Console&);

class PackSafetyTest : public PackCommandTest {
 protected:
  // Pakfiles of the same blocks in two orders; t.txt holds the second.
  void Make(uint32_t seed, int blocks, int strings) {
    const auto old_blocks = RandomBlocks(seed, blocks, strings);
    const std::vector<TestBlock> new_blocks(old_blocks.rbegin(),
                                            old_blocks.rend());
    const auto nodes = BuildHuffmanTree(AllStrings(old_blocks));
    old_pak_ = MakePakfile(nodes, old_blocks);
    new_pak_ = MakePakfile(nodes, new_blocks);
    Write("t.txt", ExpectedExtractText("a.pak", static_cast<int>(nodes.size()),
                                       new_blocks));
  }

  // Runs `command` in-process on a.pak and t.txt through `files`; returns
  // standard output.
  std::string Run(Command command, FaultyFiles& files, bool in_place = false) {
    std::string out;
    err_.clear();
    Console console = StringConsole(&out, &err_);
    LoadedPak pak = LoadPak(Read("a.pak"));
    command(Path("a.pak"), Path("t.txt"), pak, files,
            RunOptions{.in_place = in_place}, console);
    error_ = console.error_reported || console.failure;
    return out;
  }
  // The same, with the `fail`-th file call after loading failing (0: none).
  std::string Run(Command command, int fail = 0) {
    FaultyFiles files;
    files.FailAt(FaultyFiles::kAnyCall, fail);
    const std::string out = Run(command, files);
    calls_ = files.count(FaultyFiles::kAnyCall);
    return out;
  }

  std::string old_pak_, new_pak_, err_;
  int calls_ = 0;
  bool error_ = false;
};

TEST_F(PackSafetyTest, AnyFileCallFailingLeavesTheOldPakfileOrTheNewOne) {
  Make(3, 4, 5);
  // /R replaces all four blocks; /A the last four of five.
  for (Command command : {RebuildPak, ReplaceLastBlocks, AddBlock}) {
    Write("a.pak", old_pak_);
    fs::permissions(Path("a.pak"), fs::perms(0640));
    ASSERT_TRUE(Run(command).ends_with(kDone));
    const std::string new_pak = Read("a.pak");
    ASSERT_NE(new_pak, old_pak_);
    const int total = calls_;
    int refused = 0;
    for (int k = 1; k <= total; ++k) {
      SCOPED_TRACE(k);  // the file call that fails
      Write("a.pak", old_pak_);
      const bool done = Run(command, k).ends_with(kDone);
      refused += !done;
      EXPECT_TRUE(Read("a.pak") == (done ? new_pak : old_pak_));
      EXPECT_EQ(error_, !done);
      EXPECT_EQ(fs::status(Path("a.pak")).permissions(), fs::perms(0640));
      EXPECT_EQ(Files(), 2);  // no temporary file left
    }
    // At least the temporary file's write, fsync, close and rename.
    EXPECT_GE(refused, 4);
  }
}

// No room for a temporary file: refused, naming --in-place; with it written
// in place; and where writing the old bytes back fails too, neither closing
// message but the saved copy named. (The undo itself is the file layer's.)
TEST_F(PackSafetyTest, WithoutATemporaryFileRefusedOrWrittenInPlace) {
  Make(5, 3, 4);
  const std::string temp = ".a.pak.vorlex-" + std::to_string(::getpid());
  fs::create_directory(Path("tmp"));
  ::setenv("TMPDIR", Path("tmp").c_str(), 1);
  for (Command command : {RebuildPak, ReplaceLastBlocks, AddBlock}) {
    for (int way : {0, 1, 2}) {  // refused, in place, damaged
      SCOPED_TRACE(way);
      Write("a.pak", old_pak_);
      FaultyFiles files;
      files.FailEvery(FaultyFiles::kOpen, ENOSPC, temp);
      if (way == 2) files.FailEvery(FaultyFiles::kFsync, EIO, "/a.pak");
      const std::string out = Run(command, files, /*in_place=*/way > 0);
      EXPECT_EQ(out.ends_with(kDone), way == 1);
      EXPECT_EQ(out.ends_with(kNotChanged), way == 0);
      EXPECT_EQ(Read("a.pak") == old_pak_, way != 1);  // the bytes went back
      EXPECT_EQ(error_, way != 1);
      EXPECT_EQ(err_.find("--in-place") != std::string::npos, way == 0);
      EXPECT_EQ(err_.find(" is damaged; its old contents are saved in " +
                          Path("tmp/.a.pak.vorlex-old-")) != std::string::npos,
                way == 2)
          << err_;
    }
  }
  ::unsetenv("TMPDIR");
}

TEST_F(PackSafetyTest, ALinkStaysItsTargetKeepsItsModeAReadOnlyOneIsRefused) {
  Make(8, 2, 3);
  fs::create_directory(Path("store"));
  fs::create_symlink("store/real.pak", Path("a.pak"));
  for (int mode : {0600, 0604, 0755, 0444}) {
    Write("store/real.pak", old_pak_);
    fs::permissions(Path("store/real.pak"), fs::perms(mode));
    const RunResult run = Vorlex({"a.pak", "t.txt", "/P"});
    const bool writable = (mode & 0200) != 0;
    EXPECT_EQ(run.out, Dots(2, writable ? kDone : kNotChanged));
    EXPECT_EQ(run.exit_status, writable ? 0 : 1);
    EXPECT_EQ(run.err.find("read-only") == std::string::npos, writable);
    EXPECT_TRUE(Read("store/real.pak") == (writable ? new_pak_ : old_pak_));
    EXPECT_EQ(fs::status(Path("a.pak")).permissions(), fs::perms(mode));
    EXPECT_EQ(fs::read_symlink(Path("a.pak")), "store/real.pak");
    EXPECT_EQ(Files() + Files("store"), 4);
  }
}

// Waits for `pid`; its exit status (-1: killed) and up to 256 bytes of `err`.
std::pair<int, std::string> Wait(pid_t pid, int err) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  std::string said(256, '\0');
  said.resize(std::max<ssize_t>(::read(err, said.data(), 256), 0));
  ::close(err);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
}

// SIGKILL cannot be caught: whenever it comes, the pakfile is the old one or
// the new one, never a mix (a killed run may leave its temporary file).
TEST_F(PackSafetyTest, AProcessKilledAtAnyMomentLeavesTheOldOrTheNewPakfile) {
  Make(12, 1500, 50);  // about 2 MB
  Write("a.pak", old_pak_);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Vorlex({"a.pak", "t.txt", "/P"}).exit_status, 0);
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
  ASSERT_TRUE(Read("a.pak") == new_pak_);
  std::mt19937 random(99);
  for (int round = 0; round < 12; ++round) {
    Write("a.pak", old_pak_);
    const pid_t pid = StartVorlex({"a.pak", "t.txt", "/P"});
    ::usleep(static_cast<useconds_t>(random() % (took * 6 / 5 + 1)));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    const std::string now = Read("a.pak");
    EXPECT_TRUE(now == old_pak_ || now == new_pak_) << "round " << round;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      const std::string name = entry.path().filename();
      if (name != "a.pak" && name != "t.txt") fs::remove(entry.path());
    }
  }
}

TEST_F(PackSafetyTest, ASignalAtTheCommitLeavesNoTemporaryFile) {
  Make(12, 1500, 50);  // about 2 MB
  for (const auto& [signal, line] :
       {std::pair{SIGINT, "vorlex: stopped by SIGINT\n"},
        {SIGTERM, "vorlex: stopped by SIGTERM\n"},
        {SIGHUP, "vorlex: stopped by SIGHUP\n"}}) {
    bool caught = false;
    // The run may end before the signal comes; then it goes again.
    for (int attempt = 0; attempt < 40 && !caught; ++attempt) {
      Write("a.pak", old_pak_);
      const int watch = ::inotify_init1(IN_CLOEXEC);
      ASSERT_GE(::inotify_add_watch(watch, dir_.path().c_str(), IN_CREATE), 0);
      int err[2];
      ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
      const pid_t pid = StartVorlex({"a.pak", "t.txt", "/P"}, -1, err[1]);
      ::close(err[1]);
      // Waits for the temporary file, the one file the run makes, to appear.
      pollfd ready = {watch, POLLIN, 0};
      ::poll(&ready, 1, 30000);
      ::kill(pid, signal);
      ::close(watch);
      const auto [status, said] = Wait(pid, err[0]);
      if (status == 0) continue;  // done before the signal
      caught = true;
      EXPECT_EQ(status, 128 + signal);
      // A signal that comes after the commit follows its report; the new
      // pakfile is then in place.
      EXPECT_TRUE(said.ends_with(line)) << said;
      const std::string now = Read("a.pak");
      EXPECT_TRUE(now == new_pak_ || (now == old_pak_ && said == line));
      EXPECT_EQ(Files(), 2);
    }
    EXPECT_TRUE(caught) << signal;
  }
  // Standard output closed early: /E ends with the dot that fills its
  // buffer, the old text file in place.
  const std::vector<TestBlock> many = RandomBlocks(3, 5000, 1);
  Write("a.pak", MakePakfile(BuildHuffmanTree(AllStrings(many)), many));
  Write("t.txt", "");
  int out[2], err[2];
  ASSERT_EQ(::pipe2(out, O_CLOEXEC) | ::pipe2(err, O_CLOEXEC), 0);
  ::close(out[0]);
  const pid_t pid = StartVorlex({"a.pak", "t.txt", "/E"}, out[1], err[1]);
  ::close(out[1]);
  ::close(err[1]);
  EXPECT_EQ(
      Wait(pid, err[0]),
      std::pair(128 + SIGPIPE, std::string("vorlex: stopped by SIGPIPE\n")));
  EXPECT_EQ(Read("t.txt"), "");
  EXPECT_EQ(Files(), 2);
}

// Two /A runs at once take turns on the pakfile: both blocks are added.
TEST_F(PackSafetyTest, TwoRunsAddingAtOnceBothAddTheirBlocks) {
  const std::vector<TestBlock> blocks = RandomBlocks(21, 400, 20);
  const std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(blocks));
  const int node_count = static_cast<int>(nodes.size());
  Write("1.txt",
        ExpectedExtractText("a.pak", node_count, {{60001, blocks[0].strings}}));
  Write("2.txt",
        ExpectedExtractText("a.pak", node_count, {{60002, blocks[1].strings}}));
  for (int round = 0; round < 4; ++round) {
    Write("a.pak", MakePakfile(nodes, blocks));
    const pid_t first = StartVorlex({"a.pak", "1.txt", "/A"});
    const pid_t second = StartVorlex({"a.pak", "2.txt", "/A"});
    int status[2];
    ::waitpid(first, &status[0], 0);
    ::waitpid(second, &status[1], 0);
    EXPECT_EQ(status[0], 0);
    EXPECT_EQ(status[1], 0);
    const LoadedPak pak = LoadPak(Read("a.pak"));
    ASSERT_EQ(pak.directory.size(), blocks.size() + 2) << round;
    EXPECT_EQ(pak.directory[400].id + pak.directory[401].id, 60001 + 60002);
  }
}

}  // namespace
}  // namespace vorlex::core::testing
