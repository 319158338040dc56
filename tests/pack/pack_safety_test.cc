// The pakfile is replaced whole or not at all: failures of every file call,
// a process killed at random moments, read-only files, permissions and
// symbolic links.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "pack/pack_commands.h"
#include "pack/pack_fixtures.h"

extern char** environ;

namespace vorlex::testing {
namespace {

const std::string kDone = " ---- Done! ----\r\n";
const std::string kNotChanged = " Error: Pakfile not changed!\r\n";

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() &&
         text.substr(text.size() - end.size()) == end;
}

// The names in a folder.
std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat info;
  EXPECT_EQ(::stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

// One file call made to fail, counted across a run.
enum class Call { kOpen, kRead, kWrite, kFsync, kClose, kRename, kFchmod };
const char* const kCallNames[] = {"open",  "read",   "write", "fsync",
                                  "close", "rename", "fchmod"};

struct Injection {
  Call call = Call::kOpen;
  int fail_at = 0;  // 0: count only
  int calls = 0;

  // Whether this call of `which` is the one to fail.
  bool Hit(Call which) {
    if (which != call) return false;
    ++calls;
    if (calls != fail_at) return false;
    errno = EIO;
    return true;
  }
};
Injection injection;

FileLayer InjectingLayer() {
  FileLayer layer = SystemFileLayer();
  layer.open = [](const char* path, int flags, mode_t mode) {
    return injection.Hit(Call::kOpen)
               ? -1
               : SystemFileLayer().open(path, flags, mode);
  };
  layer.read = [](int fd, void* buffer, size_t count) -> ssize_t {
    return injection.Hit(Call::kRead) ? -1 : ::read(fd, buffer, count);
  };
  layer.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
    return injection.Hit(Call::kWrite) ? -1 : ::write(fd, buffer, count);
  };
  layer.fsync = [](int fd) {
    return injection.Hit(Call::kFsync) ? -1 : ::fsync(fd);
  };
  layer.close = [](int fd) {
    // The descriptor is closed all the same, as a failing close does.
    const int result = ::close(fd);
    return injection.Hit(Call::kClose) ? -1 : result;
  };
  layer.rename = [](const char* from, const char* to) {
    return injection.Hit(Call::kRename) ? -1 : ::rename(from, to);
  };
  layer.fchmod = [](int fd, mode_t mode) {
    return injection.Hit(Call::kFchmod) ? -1 : ::fchmod(fd, mode);
  };
  return layer;
}

class PackSafetyTest : public CommandTest {
 protected:
  void TearDown() override { Files() = SystemFileLayer(); }

  // Runs `command` in-process on a.pak and t.txt, with the injection armed
  // only while the command runs (loading the pakfile is start-up's part).
  InProcessRun RunInjected(PackCommand command, Call call, int fail_at) {
    InProcessRun run;
    Console console = StringConsole(&run.out, &run.err);
    LoadedPak pak = LoadTestPak(Read("a.pak"));
    injection = Injection{call, fail_at, 0};
    Files() = InjectingLayer();
    command(Path("a.pak"), Path("t.txt"), pak, console);
    Files() = SystemFileLayer();
    run.error_reported = console.error_reported;
    return run;
  }

  // For every call of every kind the command makes, a run in which that one
  // call fails must leave the old pakfile, or the new one and say so.
  void FailEachCallInTurn(PackCommand command, const std::string& old_pak,
                          const std::string& text) {
    Write("t.txt", text);
    Write("a.pak", old_pak);
    ::chmod(Path("a.pak").c_str(), 0640);
    const InProcessRun clean = RunInInjectedCountingRun(command);
    ASSERT_TRUE(EndsWith(clean.out, kDone)) << clean.out << clean.err;
    const std::string new_pak = Read("a.pak");
    ASSERT_NE(new_pak, old_pak);
    const std::set<std::string> names = Names(dir_.path());

    int failures_tried = 0;
    int refused = 0;
    for (int c = 0; c < static_cast<int>(std::size(kCallNames)); ++c) {
      const Call call = static_cast<Call>(c);
      Write("a.pak", old_pak);
      RunInjected(command, call, 0);
      const int calls = injection.calls;
      for (int k = 1; k <= calls; ++k) {
        SCOPED_TRACE(std::string(kCallNames[c]) + " call " + std::to_string(k) +
                     " of " + std::to_string(calls));
        Write("a.pak", old_pak);
        const InProcessRun run = RunInjected(command, call, k);
        ++failures_tried;
        const std::string now = Read("a.pak");
        if (EndsWith(run.out, kDone)) {
          EXPECT_TRUE(now == new_pak);
          EXPECT_FALSE(run.error_reported);
        } else {
          ++refused;
          EXPECT_TRUE(now == old_pak) << run.out << run.err;
          EXPECT_TRUE(run.error_reported);
        }
        EXPECT_EQ(ModeOf(Path("a.pak")), 0640u);
        EXPECT_EQ(Names(dir_.path()), names);  // no temporary file left
      }
    }
    // Opening, writing, syncing, closing and renaming were all tried, and at
    // least the temporary file's write, fsync, close and rename refused it.
    EXPECT_GE(failures_tried, 6);
    EXPECT_GE(refused, 4);
  }

 private:
  InProcessRun RunInInjectedCountingRun(PackCommand command) {
    return RunInjected(command, Call::kOpen, 0);
  }
};

// A few blocks of random strings and a tree for them.
struct Workload {
  std::vector<TestBlock> old_blocks;
  std::vector<TestBlock> new_blocks;
  std::vector<TreeNode> nodes;
  std::string old_pak;
  std::string new_text;

  // What /P makes of new_text over old_pak: never shorter than before.
  std::string NewPak() const {
    std::string bytes = MakePakfile(nodes, new_blocks);
    if (bytes.size() < old_pak.size()) bytes += old_pak.substr(bytes.size());
    return bytes;
  }
};

Workload MakeWorkload(uint32_t seed, int blocks, int strings) {
  Workload w;
  w.old_blocks = RandomBlocks(seed, blocks, strings);
  w.new_blocks = RandomBlocks(seed + 1, blocks, strings);
  std::vector<std::string> all = AllStrings(w.old_blocks);
  const std::vector<std::string> more = AllStrings(w.new_blocks);
  all.insert(all.end(), more.begin(), more.end());
  w.nodes = BuildHuffmanTree(all);
  w.old_pak = MakePakfile(w.nodes, w.old_blocks);
  w.new_text = ExpectedExtractText("a.pak", static_cast<int>(w.nodes.size()),
                                   w.new_blocks);
  return w;
}

TEST_F(PackSafetyTest, AFailingFileCallDuringRebuildKeepsTheOldPakfile) {
  const Workload w = MakeWorkload(3, 4, 5);
  FailEachCallInTurn(RebuildPak, w.old_pak, w.new_text);
}

TEST_F(PackSafetyTest, AFailingFileCallDuringReplaceKeepsTheOldPakfile) {
  const Workload w = MakeWorkload(4, 4, 5);
  const std::vector<TestBlock> last(w.new_blocks.end() - 2, w.new_blocks.end());
  FailEachCallInTurn(
      ReplaceLastBlocks, w.old_pak,
      ExpectedExtractText("a.pak", static_cast<int>(w.nodes.size()), last));
}

TEST_F(PackSafetyTest, AFailingFileCallDuringAddKeepsTheOldPakfile) {
  const Workload w = MakeWorkload(5, 3, 5);
  const std::vector<TestBlock> last(w.new_blocks.end() - 1, w.new_blocks.end());
  FailEachCallInTurn(
      AddBlock, w.old_pak,
      ExpectedExtractText("a.pak", static_cast<int>(w.nodes.size()), last));
}

TEST_F(PackSafetyTest, WithoutATemporaryFileThePakfileIsWrittenInPlace) {
  const Workload w = MakeWorkload(6, 2, 3);
  Write("a.pak", w.old_pak);
  Write("t.txt", w.new_text);
  // Every new file fails to be made: the folder takes no temporary file.
  Files() = SystemFileLayer();
  Files().open = [](const char* path, int flags, mode_t mode) {
    if (flags & O_CREAT) {
      errno = EACCES;
      return -1;
    }
    return SystemFileLayer().open(path, flags, mode);
  };
  const InProcessRun run =
      RunInProcess(RebuildPak, Path("a.pak"), Path("t.txt"));
  Files() = SystemFileLayer();
  EXPECT_TRUE(EndsWith(run.out, kDone)) << run.out << run.err;
  EXPECT_EQ(Hex(Read("a.pak")), Hex(w.NewPak()));
}

TEST_F(PackSafetyTest, AReadOnlyPakfileIsRefusedAndUnchanged) {
  const Workload w = MakeWorkload(7, 2, 3);
  Write("a.pak", w.old_pak);
  Write("t.txt", w.new_text);
  ::chmod(Path("a.pak").c_str(), 0444);
  const RunResult run = Vorlex({"a.pak", "t.txt", "/P"});
  EXPECT_EQ(run.out, "Nr of Blocks: 2\r\n.." + kNotChanged);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(Contains(run.err, "read-only"));
  EXPECT_TRUE(Read("a.pak") == w.old_pak);
  EXPECT_EQ(ModeOf(Path("a.pak")), 0444u);
  EXPECT_EQ(Names(dir_.path()), (std::set<std::string>{"a.pak", "t.txt"}));
}

TEST_F(PackSafetyTest, PermissionsAreKept) {
  const Workload w = MakeWorkload(8, 2, 3);
  for (mode_t mode : {0600, 0640, 0604, 0755}) {
    Write("a.pak", w.old_pak);
    Write("t.txt", w.new_text);
    ::chmod(Path("a.pak").c_str(), mode);
    const RunResult run = Vorlex({"a.pak", "t.txt", "/P"});
    EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
    EXPECT_EQ(ModeOf(Path("a.pak")), mode);
    EXPECT_EQ(Names(dir_.path()), (std::set<std::string>{"a.pak", "t.txt"}));
  }
}

TEST_F(PackSafetyTest, ASymbolicLinkStaysALinkAndItsTargetIsReplaced) {
  const Workload w = MakeWorkload(9, 2, 3);
  std::filesystem::create_directory(Path("store"));
  Write("store/real.pak", w.old_pak);
  Write("t.txt", w.new_text);
  std::filesystem::create_symlink("store/real.pak", Path("link.pak"));
  const RunResult run = Vorlex({"link.pak", "t.txt", "/P"});
  EXPECT_EQ(run.out, "Nr of Blocks: 2\r\n.." + kDone);
  EXPECT_TRUE(std::filesystem::is_symlink(Path("link.pak")));
  EXPECT_EQ(std::filesystem::read_symlink(Path("link.pak")), "store/real.pak");
  EXPECT_EQ(Hex(Read("store/real.pak")), Hex(w.NewPak()));
  EXPECT_EQ(Names(Path("store")), (std::set<std::string>{"real.pak"}));
}

TEST_F(PackSafetyTest, ARefusedRunLeavesNoTemporaryFile) {
  const Workload w = MakeWorkload(10, 2, 3);
  Write("a.pak", w.old_pak);
  std::string text = w.new_text;
  text.replace(text.rfind("|"), 1, "\x01|");  // a character with no code
  Write("t.txt", text);
  const RunResult run = Vorlex({"a.pak", "t.txt", "/P"});
  EXPECT_TRUE(EndsWith(run.out, kNotChanged));
  EXPECT_TRUE(Read("a.pak") == w.old_pak);
  EXPECT_EQ(Names(dir_.path()), (std::set<std::string>{"a.pak", "t.txt"}));
}

TEST_F(PackSafetyTest, BlocksBeyondWhatThreeByteOffsetsHoldAreRefused) {
  // Block 1 of three starts at 16,777,200; block 2, written after it, would
  // start beyond 16,777,215.
  std::string pak =
      MakePakfile(ThreeNodeTree(), {{1, {"A|"}}, {2, {"A|"}}, {3, {"A|"}}});
  pak[24] = static_cast<char>(0xF0);
  pak[25] = static_cast<char>(0xFF);
  pak[26] = static_cast<char>(0xFF);
  Write("a.pak", pak);
  Write("t.txt",
        ExpectedExtractText("a.pak", 3,
                            {{1, {std::string(200, 'A') + "|"}}, {2, {"A|"}}}));
  const InProcessRun run =
      RunInProcess(ReplaceLastBlocks, Path("a.pak"), Path("t.txt"));
  EXPECT_EQ(run.out, "Nr of Blocks: 2\r\n.." + kNotChanged);
  EXPECT_TRUE(Contains(run.err, "block 2 would start at offset 16777230"));
  EXPECT_TRUE(Read("a.pak") == pak);
}

// Starts vorlex without waiting for it.
pid_t StartVorlex(const std::vector<std::string>& args,
                  const std::string& cwd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<char*> argv = {const_cast<char*>(VORLEX_BINARY)};
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, VORLEX_BINARY, &actions, nullptr, argv.data(),
                    environ) != 0) {
    pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

TEST_F(PackSafetyTest, AProcessKilledAtAnyMomentLeavesTheOldOrTheNewPakfile) {
  // About 2 MB of blocks.
  const Workload w = MakeWorkload(12, 1500, 50);
  ASSERT_GT(w.old_pak.size(), size_t{1} << 20);
  Write("a.pak", w.old_pak);
  Write("t.txt", w.new_text);
  const auto started = std::chrono::steady_clock::now();
  const RunResult full = Vorlex({"a.pak", "t.txt", "/P"});
  const auto took = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(full.exit_status, 0) << full.err;
  const std::string new_pak = Read("a.pak");
  ASSERT_NE(new_pak, w.old_pak);

  std::mt19937 random(99);
  const int64_t span =
      std::chrono::duration_cast<std::chrono::microseconds>(took).count();
  int old_seen = 0, new_seen = 0;
  for (int round = 0; round < 12; ++round) {
    Write("a.pak", w.old_pak);
    const pid_t pid = StartVorlex({"a.pak", "t.txt", "/P"}, dir_.path());
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(
        random() % static_cast<uint64_t>(span + span / 5 + 1)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const std::string now = Read("a.pak");
    const bool is_old = now == w.old_pak;
    const bool is_new = now == new_pak;
    EXPECT_TRUE(is_old || is_new) << "round " << round;
    old_seen += is_old;
    new_seen += is_new;
    // A killed run may leave its temporary file behind; it is not the
    // pakfile and never replaces it.
    for (const std::string& name : Names(dir_.path())) {
      if (name != "a.pak" && name != "t.txt") {
        std::filesystem::remove(Path(name));
      }
    }
  }
  std::cout << "killed runs: " << old_seen << " left the old pakfile, "
            << new_seen << " the new one\n";
}

}  // namespace
}  // namespace vorlex::testing
