// Reading regular files, locks, two names of one file, buffered output,
// replacing a file at once or in place.
#include "base/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>

#include "support/command_test.h"
#include "support/faulty_files.h"

namespace vorlex::core::testing {
namespace {

using FileIoTest = CommandTest;

// Reads at most 3 bytes at a time and is interrupted before each read; from
// the `fail_from`-th read on, reads fail.
struct ChoppyFiles : RealFileSystem {
  int fail_from = 0;
  int reads = 0;
  ssize_t Read(int fd, void* buffer, size_t count) override {
    if (++reads % 2 == 0) return ::read(fd, buffer, count > 3 ? 3 : count);
    errno = reads >= fail_from ? EIO : EINTR;
    return -1;
  }
};

// Only a regular file within the size given is read, and what is not one
// is refused at once; a FIFO or a device may be a text file.
TEST_F(FileIoTest, ReadRegularFileRefusesOtherKindsAndSizesAtOnce) {
  Write("small", "0123456789");
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  const struct {
    std::string path;
    uint64_t most;
    std::string read;  // the bytes, or the reason
    bool regular_or_missing;
  } cases[] = {
      {Path("small"), 10, "0123456789", true},  // exactly the most
      {Path("small"), 9, "it holds 10 bytes, more than the 9 allowed", true},
      {Path("missing"), 9, "No such file or directory", true},
      {Path("."), 9, "it is a folder, not a regular file", false},
      {Path("fifo"), 9, "it is a FIFO, not a regular file", false},
      {"/dev/zero", 9, "it is a device, not a regular file", false}};
  RealFileSystem files;
  for (const auto& [path, most, read, regular_or_missing] : cases) {
    SCOPED_TRACE(path);
    std::string why;
    EXPECT_EQ(ReadRegularFile(files, path, most, &why).value_or(why), read);
    EXPECT_EQ(IsRegularOrMissing(files, path), regular_or_missing);
  }
  // Short reads and interruptions are gone on with; an error ends the read.
  ChoppyFiles choppy, failing;
  choppy.fail_from = 100;
  failing.fail_from = 3;
  std::string why;
  EXPECT_EQ(ReadRegularFile(choppy, Path("small"), 10, &why), "0123456789");
  EXPECT_EQ(ReadRegularFile(failing, Path("small"), 10, &why), std::nullopt);
  EXPECT_EQ(why, "Input/output error");
}

// A lock held by another is waited for a while, then refused; a file renamed
// over the path while waiting is the one locked in the end.
TEST_F(FileIoTest, LockExclusivelyWaitsBoundedAndFollowsAReplacedFile) {
  RealFileSystem files;
  std::string why;
  Write("p.pak", "old");
  OpenFile holder, waiter;
  ASSERT_TRUE(OpenRegularFile(files, Path("p.pak"), 99, &holder, &why));
  ASSERT_TRUE(OpenRegularFile(files, Path("p.pak"), 99, &waiter, &why));
  ASSERT_TRUE(LockExclusively(files, Path("p.pak"), 99, 0, &holder, &why));
  EXPECT_FALSE(LockExclusively(files, Path("p.pak"), 99, 60, &waiter, &why));
  EXPECT_EQ(why,
            "another run held its lock for 60 ms; try again when that "
            "run is done");
  // The holder puts a new file in place and lets go.
  Write("new", "new");
  ASSERT_EQ(::rename(Path("new").c_str(), Path("p.pak").c_str()), 0);
  holder.Close();
  ASSERT_TRUE(LockExclusively(files, Path("p.pak"), 99, 0, &waiter, &why));
  std::string bytes;
  ASSERT_TRUE(ReadRest(files, waiter.fd(), &bytes, &why));
  EXPECT_EQ(bytes, "new");
  // Without locks on the file system the file is used as it is; any other
  // failure to lock refuses it.
  for (const auto& [error, locked] :
       {std::pair{ENOLCK, true}, {EBADF, false}}) {
    FaultyFiles faulty;
    faulty.FailEvery(FaultyFiles::kFlock, error);
    EXPECT_EQ(LockExclusively(faulty, Path("p.pak"), 99, 0, &waiter, &why),
              locked);
  }
}

TEST_F(FileIoTest, SameFileByPathOrByIdentity) {
  Write("p.pak", "pak");
  Write("t.txt", "pak");
  ASSERT_TRUE(std::filesystem::create_directories(Path("sub/in")));
  Write("sub/p.pak", "another");
  ASSERT_EQ(::link(Path("p.pak").c_str(), Path("hard").c_str()), 0);
  ASSERT_EQ(::symlink("p.pak", Path("soft").c_str()), 0);
  ASSERT_EQ(::symlink("sub/in", Path("in").c_str()), 0);
  // Pairs of names: of one file, then of two files. A ".." after a link
  // leaves the link's target; equal contents do not make one file.
  const char* const same[] = {
      "p.pak", "./p.pak", "p.pak", "sub/..//p.pak", "hard",        "p.pak",
      "soft",  "p.pak",   "new",   "sub/../new",    "in/../p.pak", "sub/p.pak"};
  const char* const other[] = {"in/../p.pak", "p.pak", "p.pak", "t.txt",
                               "p.pak",       "sub",   "new",   "other",
                               "new",         "p.pak"};
  for (size_t i = 0; i < std::size(same); i += 2) {
    EXPECT_TRUE(SameFile(Path(same[i]), Path(same[i + 1]))) << same[i];
  }
  for (size_t i = 0; i < std::size(other); i += 2) {
    EXPECT_FALSE(SameFile(Path(other[i]), Path(other[i + 1]))) << other[i];
  }
}

// An append that fails is cut back to the old length.
TEST_F(FileIoTest, OutputFileWritesLargeAndSmallPieces) {
  Write("out", "old");
  RealFileSystem real;
  OutputFile file;
  std::string expected = "old";
  ASSERT_TRUE(OpenOutput(real, Path("out"), /*append=*/true, &file));
  for (size_t size : {6, 3 << 20, (1 << 20) - 3, 4}) {
    const std::string piece(size, static_cast<char>('a' + size % 26));
    WriteOutput(&file, piece);
    expected += piece;
  }
  EXPECT_TRUE(CloseOutput(&file));
  EXPECT_TRUE(Read("out") == expected);
  ASSERT_TRUE(OpenOutput(real, Path("out"), /*append=*/false, &file));
  EXPECT_TRUE(CloseOutput(&file));
  EXPECT_EQ(Read("out"), "");
  for (int failing_write : {1, 2}) {
    FaultyFiles files;
    files.FailAt(FaultyFiles::kWrite, failing_write, ENOSPC);
    Write("out", "old");
    ASSERT_TRUE(OpenOutput(files, Path("out"), /*append=*/true, &file));
    WriteOutput(&file, std::string(3 << 20, 'a'));
    WriteOutput(&file, "b");
    EXPECT_FALSE(CloseOutput(&file));
    EXPECT_EQ(Read("out"), "old");
  }
}

// A replace keeps every permission bit, set-user-ID, set-group-ID and
// sticky included, and flushes the folder once the new file is renamed in.
TEST_F(FileIoTest, ReplaceKeepsEveryModeBitAndFlushesTheFolderAfterRenaming) {
  const std::string folder = std::filesystem::canonical(dir_.path());
  for (mode_t mode : {04755, 02755, 01644, 06711, 0640}) {
    SCOPED_TRACE(mode);
    Write("p.pak", "old");
    ASSERT_EQ(::chmod(Path("p.pak").c_str(), mode), 0);
    FaultyFiles files;
    std::string why;
    ASSERT_EQ(ReplaceFileContents(files, Path("p.pak"), "new!", false, &why),
              Replaced::kYes)
        << why;
    struct stat info;
    ASSERT_EQ(::stat(Path("p.pak").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, mode);
    EXPECT_EQ(Read("p.pak") + std::to_string(Files()), "new!1");
    const auto renamed = std::find_if(
        files.log.begin(), files.log.end(),
        [](const std::string& call) { return call.starts_with("rename "); });
    EXPECT_NE(std::find(renamed, files.log.end(), "fsync " + folder),
              files.log.end());
  }
}

// A replace that fails leaves the file and no temporary file. Where no
// temporary file can be made, the file stays as it was, or with `in_place`
// is written in place after a copy of its old contents was saved; when any
// write of that fails, the old contents are written back, and only when that
// fails too is the file left damaged, the copy kept and named. (The packing
// commands fail every call in turn, and keep modes and links.)
TEST_F(FileIoTest, ReplaceFileContentsFailsWholeOrUndoesWritingInPlace) {
  using F = FaultyFiles;
  const std::string saved =
      Path("tmp/.p.pak.vorlex-old-" + std::to_string(::getpid()) + "-0.tmp");
  const struct {
    std::vector<std::pair<F::Call, int>> faults;  // the first open: the temp
    bool in_place;
    Replaced result;
    const char* after;  // the file's bytes, and how many files there are
    std::string why;
  } cases[] = {
      // clang-format off
      {{{F::kWrite, 1}}, false, Replaced::kNo, "old1", "failed: No space"},
      {{{F::kFsync, 1}}, false, Replaced::kNo, "old1", "failed: No space"},
      {{{F::kRename, 1}}, false, Replaced::kNo, "old1", "failed: No space"},
      {{{F::kOpen, 1}}, false, Replaced::kNoTemporaryFile, "old1",
       "no temporary file can be made beside"},
      {{{F::kOpen, 1}}, true, Replaced::kYes, "new!1", ""},
      // In place: the copy, then the new bytes, then the old ones back.
      {{{F::kOpen, 1}, {F::kWrite, 1}}, true, Replaced::kNo, "old1",
       "a copy of the old contents first, and none can be saved in " +
           Path("tmp")},
      {{{F::kOpen, 1}, {F::kWrite, 2}}, true, Replaced::kNo, "old1",
       "in place failed: No space left on device; its old contents were "
       "written back"},
      {{{F::kOpen, 1}, {F::kFtruncate, 1}}, true, Replaced::kNo, "old1",
       "written back"},
      // The disk full after the copy: "new" fits over "old", "!" does not,
      // and the old bytes cannot be written back.
      {{{F::kOpen, 1}, {F::kWrite, 4}}, true, Replaced::kDamaged, "new2",
       "in place failed: No space left on device, and writing its old "
       "contents back failed too: No space left on device. " +
           std::filesystem::canonical(dir_.path()).string() + "/p.pak" +
           " is damaged; its old contents are saved in " + saved}};
  // clang-format on
  ::setenv("TMPDIR", Path("tmp").c_str(), 1);
  for (const auto& [faults, in_place, result, after, why] : cases) {
    SCOPED_TRACE(why);
    std::filesystem::remove_all(Path("tmp"));
    ASSERT_TRUE(std::filesystem::create_directory(Path("tmp")));
    Write("p.pak", "old");
    FaultyFiles files;
    for (const auto& [call, nth] : faults) files.FailAt(call, nth, ENOSPC);
    if (result == Replaced::kDamaged) files.FillDiskAfter(3);
    std::string told;
    EXPECT_EQ(
        ReplaceFileContents(files, Path("p.pak"), "new!", in_place, &told),
        result);
    EXPECT_NE(told.find(why), std::string::npos) << told;
    EXPECT_EQ(Read("p.pak") + std::to_string(Files() - 1 + Files("tmp")),
              after);
    if (result == Replaced::kDamaged) {
      EXPECT_EQ(ReadFileOrDie(saved), "old");
    }
  }
  ::unsetenv("TMPDIR");
}

}  // namespace
}  // namespace vorlex::core::testing
