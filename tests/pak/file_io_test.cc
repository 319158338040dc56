// The file layer: reading a whole file, telling two names of one file apart
// from two files, and replacing a file's contents safely.
#include "pak/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <string>

#include "support/command_test.h"

namespace vorlex {
namespace {

using ::vorlex::testing::FileExists;
using ::vorlex::testing::ReadFileOrDie;
using ::vorlex::testing::TempDir;
using ::vorlex::testing::WriteFileOrDie;

// Restores the plain system calls after every test, whatever it replaced.
class FileIoTest : public ::testing::Test {
 protected:
  void TearDown() override { Files() = SystemFileLayer(); }

  std::string Path(const char* name) const { return dir_.Path(name); }

  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  mode_t Mode(const char* name) const {
    struct stat info;
    EXPECT_EQ(::stat(Path(name).c_str(), &info), 0);
    return info.st_mode & 07777;
  }

  TempDir dir_;
};

int g_calls = 0;

TEST_F(FileIoTest, ReadFileBytesReadsEveryByte) {
  EXPECT_FALSE(ReadFileBytes(Path("missing")).has_value());
  EXPECT_FALSE(FileExists(Path("missing")));

  WriteFileOrDie(Path("empty"), "");
  EXPECT_EQ(ReadFileBytes(Path("empty")), std::string());

  std::string bytes(3 * 1024 * 1024 + 7, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>(i * 7 + (i >> 12));
  }
  WriteFileOrDie(Path("big"), bytes);
  EXPECT_EQ(ReadFileBytes(Path("big")), bytes);

  ASSERT_EQ(::mkdir(Path("folder").c_str(), 0755), 0);
  EXPECT_FALSE(ReadFileBytes(Path("folder")).has_value());
}

TEST_F(FileIoTest, ReadFileBytesGoesOnAfterShortReadsAndInterruptions) {
  WriteFileOrDie(Path("f"), "0123456789");
  g_calls = 0;
  Files().read = [](int fd, void* buffer, size_t count) -> ssize_t {
    ++g_calls;
    if (g_calls == 1) {
      errno = EINTR;
      return -1;
    }
    return ::read(fd, buffer, std::min(count, size_t{3}));
  };
  EXPECT_EQ(ReadFileBytes(Path("f")), "0123456789");
  EXPECT_GT(g_calls, 4);
}

TEST_F(FileIoTest, ReadFileBytesFailsOnAReadError) {
  WriteFileOrDie(Path("f"), "0123456789");
  Files().read = [](int, void*, size_t) -> ssize_t {
    errno = EIO;
    return -1;
  };
  EXPECT_FALSE(ReadFileBytes(Path("f")).has_value());
}

TEST_F(FileIoTest, SameFileByPathOrByIdentity) {
  WriteFileOrDie(Path("p.pak"), "pak");
  WriteFileOrDie(Path("t.txt"), "pak");
  ASSERT_EQ(::mkdir(Path("sub").c_str(), 0755), 0);
  ASSERT_EQ(::link(Path("p.pak").c_str(), Path("hard").c_str()), 0);
  ASSERT_EQ(::symlink("p.pak", Path("soft").c_str()), 0);
  ASSERT_EQ(::symlink("sub", Path("sublink").c_str()), 0);
  WriteFileOrDie(Path("sub/x"), "x");

  EXPECT_TRUE(SameFile(Path("p.pak"), Path("p.pak")));
  EXPECT_TRUE(SameFile(dir_.path() + "/./p.pak", Path("p.pak")));
  EXPECT_TRUE(SameFile(dir_.path() + "//sub/../p.pak", Path("p.pak")));
  EXPECT_TRUE(SameFile(Path("hard"), Path("p.pak")));
  EXPECT_TRUE(SameFile(Path("p.pak"), Path("soft")));
  EXPECT_TRUE(SameFile(Path("sublink/x"), Path("sub/x")));

  // Equal contents do not make one file.
  EXPECT_FALSE(SameFile(Path("p.pak"), Path("t.txt")));
  EXPECT_FALSE(SameFile(Path("p.pak"), Path("sub")));

  // Names of files that do not exist: only the same path counts.
  EXPECT_TRUE(SameFile(Path("new"), dir_.path() + "/sub/../new"));
  EXPECT_FALSE(SameFile(Path("new"), Path("other")));
  EXPECT_FALSE(SameFile(Path("new"), Path("p.pak")));
}

// Fault: SameFile compares paths after lexical normalisation, which folds
// "link/.." to the folder holding the link, though the system resolves it to
// the parent of the link's target. Two different files are then taken for
// one and a valid command is refused with "Error: txtfile is the pakfile!".
TEST_F(FileIoTest, DotDotAfterALinkedFolderIsNotFoldedAway) {
  ASSERT_EQ(::mkdir(Path("real").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(Path("real/inner").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("real/inner", Path("link").c_str()), 0);
  WriteFileOrDie(Path("real/p.pak"), "the pakfile");
  WriteFileOrDie(Path("p.pak"), "another file");
  const std::string through_link = dir_.path() + "/link/../p.pak";
  ASSERT_EQ(ReadFileOrDie(through_link), "the pakfile");
  EXPECT_FALSE(SameFile(through_link, Path("p.pak")));
}

TEST_F(FileIoTest, OutputFileWritesLargeAndSmallPieces) {
  OutputFile file;
  ASSERT_TRUE(OpenOutput(Path("out"), /*append=*/false, &file));
  std::string expected;
  const std::string big(3 * 1024 * 1024 + 5, 'b');
  for (const std::string& piece :
       {std::string("head\r\n"), big, std::string(1024 * 1024 - 3, 's'),
        std::string("tail")}) {
    WriteOutput(&file, piece);
    expected += piece;
  }
  EXPECT_TRUE(CloseOutput(&file));
  EXPECT_EQ(ReadFileOrDie(Path("out")), expected);

  // Opening empties the file; appending keeps it.
  ASSERT_TRUE(OpenOutput(Path("out"), false, &file));
  WriteOutput(&file, "one");
  EXPECT_TRUE(CloseOutput(&file));
  ASSERT_TRUE(OpenOutput(Path("out"), true, &file));
  WriteOutput(&file, "two");
  EXPECT_TRUE(CloseOutput(&file));
  EXPECT_EQ(ReadFileOrDie(Path("out")), "onetwo");
}

TEST_F(FileIoTest, OutputFileRemembersAFailedWrite) {
  OutputFile file;
  EXPECT_FALSE(OpenOutput(Path("no/such/folder/out"), false, &file));
  WriteOutput(&file, "x");
  EXPECT_FALSE(CloseOutput(&file));

  ASSERT_TRUE(OpenOutput(Path("out"), false, &file));
  Files().write = [](int, const void*, size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  };
  WriteOutput(&file, "some bytes");
  EXPECT_FALSE(CloseOutput(&file));
}

TEST_F(FileIoTest, MayRewriteOnlyWritableRegularFiles) {
  std::string why;
  EXPECT_FALSE(MayRewrite(Path("missing"), &why));
  EXPECT_FALSE(why.empty());
  ASSERT_EQ(::mkdir(Path("folder").c_str(), 0755), 0);
  EXPECT_FALSE(MayRewrite(Path("folder"), &why));
  WriteFileOrDie(Path("f"), "x");
  EXPECT_TRUE(MayRewrite(Path("f"), &why));
  ASSERT_EQ(::chmod(Path("f").c_str(), 0444), 0);
  EXPECT_FALSE(MayRewrite(Path("f"), &why));
}

TEST_F(FileIoTest, ReplaceKeepsPermissionsAndLeavesNoTemporaryFile) {
  WriteFileOrDie(Path("p.pak"), "old contents");
  ASSERT_EQ(::chmod(Path("p.pak").c_str(), 0640), 0);
  std::string why;
  ASSERT_TRUE(ReplaceFileContents(Path("p.pak"), "new contents!", &why)) << why;
  EXPECT_EQ(ReadFileOrDie(Path("p.pak")), "new contents!");
  EXPECT_EQ(Mode("p.pak"), 0640u);
  EXPECT_EQ(Names(), (std::set<std::string>{"p.pak"}));
}

TEST_F(FileIoTest, ReplaceThroughALinkChangesTheTarget) {
  ASSERT_EQ(::mkdir(Path("store").c_str(), 0755), 0);
  WriteFileOrDie(Path("store/p.pak"), "old");
  ASSERT_EQ(::symlink("store/p.pak", Path("link.pak").c_str()), 0);
  std::string why;
  ASSERT_TRUE(ReplaceFileContents(Path("link.pak"), "new!", &why)) << why;
  struct stat info;
  ASSERT_EQ(::lstat(Path("link.pak").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(ReadFileOrDie(Path("store/p.pak")), "new!");
  EXPECT_EQ(Names(), (std::set<std::string>{"link.pak", "store"}));
}

TEST_F(FileIoTest, FailedReplaceLeavesTheFileAsItWas) {
  WriteFileOrDie(Path("p.pak"), "old contents");
  std::string why;

  Files().rename = [](const char*, const char*) {
    errno = EXDEV;
    return -1;
  };
  EXPECT_FALSE(ReplaceFileContents(Path("p.pak"), "new contents", &why));
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(ReadFileOrDie(Path("p.pak")), "old contents");
  EXPECT_EQ(Names(), (std::set<std::string>{"p.pak"}));

  Files() = SystemFileLayer();
  Files().write = [](int, const void*, size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  };
  why.clear();
  EXPECT_FALSE(ReplaceFileContents(Path("p.pak"), "new contents", &why));
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(ReadFileOrDie(Path("p.pak")), "old contents");
  EXPECT_EQ(Names(), (std::set<std::string>{"p.pak"}));

  Files() = SystemFileLayer();
  Files().fsync = [](int) {
    errno = EIO;
    return -1;
  };
  EXPECT_FALSE(ReplaceFileContents(Path("p.pak"), "new contents", &why));
  EXPECT_EQ(ReadFileOrDie(Path("p.pak")), "old contents");
  EXPECT_EQ(Names(), (std::set<std::string>{"p.pak"}));

  Files() = SystemFileLayer();
  EXPECT_FALSE(ReplaceFileContents(Path("missing"), "x", &why));
  EXPECT_FALSE(FileExists(Path("missing")));
}

TEST_F(FileIoTest, ReplaceInPlaceWhenNoTemporaryFileCanBeMade) {
  WriteFileOrDie(Path("p.pak"), "old contents");
  ASSERT_EQ(::chmod(Path("p.pak").c_str(), 0600), 0);
  // Refuse every new file; the pakfile itself still opens.
  Files().open = [](const char* path, int flags, mode_t mode) {
    if ((flags & O_CREAT) != 0) {
      errno = EACCES;
      return -1;
    }
    return ::open(path, flags, mode);
  };
  std::string why;
  ASSERT_TRUE(ReplaceFileContents(Path("p.pak"), "new contents, longer", &why))
      << why;
  Files() = SystemFileLayer();
  EXPECT_EQ(ReadFileOrDie(Path("p.pak")), "new contents, longer");
  EXPECT_EQ(Mode("p.pak"), 0600u);
  EXPECT_EQ(Names(), (std::set<std::string>{"p.pak"}));

  // When the file cannot be opened either, nothing is written.
  Files().open = [](const char*, int, mode_t) {
    errno = EACCES;
    return -1;
  };
  EXPECT_FALSE(ReplaceFileContents(Path("p.pak"), "other", &why));
  Files() = SystemFileLayer();
  EXPECT_EQ(ReadFileOrDie(Path("p.pak")), "new contents, longer");
}

}  // namespace
}  // namespace vorlex
