// Whole-file reads, two names of one file, buffered output, replacing a file.
#include "base/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iterator>
#include <string>

#include "support/command_test.h"
#include "support/faulty_files.h"

namespace vorlex::core::testing {
namespace {

class FileIoTest : public CommandTest {
 protected:
  // How many files the test's folder holds.
  int Names() const {
    return std::distance(std::filesystem::directory_iterator(dir_.path()), {});
  }
};

// Reads at most 3 bytes at a time and is interrupted before each read; from
// the `fail_from`-th read on, reads fail.
class ChoppyFiles : public RealFileSystem {
 public:
  explicit ChoppyFiles(int fail_from) : fail_from_(fail_from) {}
  ssize_t Read(int fd, void* buffer, size_t count) override {
    if (++reads_ % 2 == 0) return ::read(fd, buffer, count > 3 ? 3 : count);
    errno = reads_ >= fail_from_ ? EIO : EINTR;
    return -1;
  }

 private:
  int reads_ = 0;
  int fail_from_;
};

TEST_F(FileIoTest, ReadFileBytes) {
  Write("small", "0123456789");
  RealFileSystem real;
  EXPECT_EQ(ReadFileBytes(real, Path("missing")), std::nullopt);
  EXPECT_EQ(ReadFileBytes(real, Path(".")), std::nullopt);  // a folder
  // Short reads and interruptions are gone on with; an error ends the read.
  ChoppyFiles choppy(100), failing(3);
  EXPECT_EQ(ReadFileBytes(choppy, Path("small")), "0123456789");
  EXPECT_EQ(ReadFileBytes(failing, Path("small")), std::nullopt);
}
TEST_F(FileIoTest, SameFileByPathOrByIdentity) {
  Write("p.pak", "pak");
  Write("t.txt", "pak");
  ASSERT_EQ(::mkdir(Path("sub").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(Path("sub/in").c_str(), 0755), 0);
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
    ASSERT_TRUE(ReplaceFileContents(files, Path("p.pak"), "new!", &why)) << why;
    struct stat info;
    ASSERT_EQ(::stat(Path("p.pak").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, mode);
    EXPECT_EQ(Read("p.pak") + std::to_string(Names()), "new!1");
    const auto renamed = std::find_if(
        files.log.begin(), files.log.end(),
        [](const std::string& call) { return call.starts_with("rename "); });
    EXPECT_NE(std::find(renamed, files.log.end(), "fsync " + folder),
              files.log.end());
  }
}

// A replace that fails leaves the file and no temporary file; where no
// temporary file can be made, the file is written in place. (The packing
// commands fail every call in turn, and keep modes and links.)
TEST_F(FileIoTest, ReplaceFileContents) {
  const struct {
    FaultyFiles::Call call;
    const char* after;
  } cases[] = {{FaultyFiles::kWrite, "old1"},
               {FaultyFiles::kFsync, "old1"},
               {FaultyFiles::kRename, "old1"},
               {FaultyFiles::kOpen, "new!1"}};  // the temporary file's
  for (const auto& [call, after] : cases) {
    SCOPED_TRACE(call);
    Write("p.pak", "old");
    FaultyFiles files;
    files.FailAt(call, 1);
    std::string why;
    EXPECT_EQ(ReplaceFileContents(files, Path("p.pak"), "new!", &why),
              after[0] == 'n')
        << why;
    EXPECT_EQ(Read("p.pak") + std::to_string(Names()), after);
  }
}

}  // namespace
}  // namespace vorlex::core::testing
