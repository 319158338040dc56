// Whole-file reads, two names of one file, buffered output, replacing a file.
#include "base/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iterator>
#include <string>

#include "support/command_test.h"

namespace vorlex::core::testing {
namespace {

class FileIoTest : public CommandTest {
 protected:
  void TearDown() override { Files() = SystemFileLayer(); }
  // How many files the test's folder holds.
  int Names() const {
    return std::distance(std::filesystem::directory_iterator(dir_.path()), {});
  }
};

int g_reads = 0;

TEST_F(FileIoTest, ReadFileBytes) {
  Write("small", "0123456789");
  EXPECT_EQ(ReadFileBytes(Path("missing")), std::nullopt);
  EXPECT_EQ(ReadFileBytes(Path(".")), std::nullopt);  // a folder
  // Short reads and interruptions are gone on with; an error ends the read.
  Files().read = [](int fd, void* buffer, size_t count) -> ssize_t {
    if (++g_reads % 2 == 0) return ::read(fd, buffer, count > 3 ? 3 : count);
    errno = g_reads > 100 ? EIO : EINTR;
    return -1;
  };
  EXPECT_EQ(ReadFileBytes(Path("small")), "0123456789");
  g_reads = 101;
  EXPECT_EQ(ReadFileBytes(Path("small")), std::nullopt);
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
  OutputFile file;
  std::string expected = "old";
  ASSERT_TRUE(OpenOutput(Path("out"), /*append=*/true, &file));
  for (size_t size : {6, 3 << 20, (1 << 20) - 3, 4}) {
    const std::string piece(size, static_cast<char>('a' + size % 26));
    WriteOutput(&file, piece);
    expected += piece;
  }
  EXPECT_TRUE(CloseOutput(&file));
  EXPECT_TRUE(Read("out") == expected);
  ASSERT_TRUE(OpenOutput(Path("out"), /*append=*/false, &file));  // emptied
  EXPECT_TRUE(CloseOutput(&file));
  EXPECT_EQ(Read("out"), "");
}

// A replace that fails leaves the file and no temporary file; where no
// temporary file can be made, the file is written in place. (The packing
// commands fail every call in turn, and keep modes and links.)
TEST_F(FileIoTest, ReplaceFileContents) {
  Write("p.pak", "old");
  std::string why;
  Files().rename = [](const char*, const char*) { return -1; };
  EXPECT_FALSE(ReplaceFileContents(Path("p.pak"), "new!", &why));
  EXPECT_EQ(Read("p.pak") + std::to_string(Names()), "old1");
  Files().rename = SystemFileLayer().rename;
  Files().open = [](const char* path, int flags, mode_t mode) {
    return flags & O_CREAT ? -1 : ::open(path, flags, mode);
  };
  EXPECT_TRUE(ReplaceFileContents(Path("p.pak"), "new!", &why)) << why;
  EXPECT_EQ(Read("p.pak") + std::to_string(Names()), "new!1");
}

}  // namespace
}  // namespace vorlex::core::testing
