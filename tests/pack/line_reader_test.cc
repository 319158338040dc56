#include "pack/line_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "pak/file_io.h"
#include "support/command_test.h"

namespace vorlex::testing {
namespace {

std::vector<std::string> AllLines(LineReader& reader) {
  std::vector<std::string> lines;
  while (!reader.AtEnd()) lines.emplace_back(reader.NextLine());
  return lines;
}

std::vector<std::string> LinesOf(std::string_view text) {
  LineReader reader(text);
  return AllLines(reader);
}

using Lines = std::vector<std::string>;

TEST(LineReaderTest, LfAndCrLfEndLinesAndAreNotPartOfThem) {
  EXPECT_EQ(LinesOf("a\nb\r\nc"), (Lines{"a", "b", "c"}));
  EXPECT_EQ(LinesOf("a\r\n"), (Lines{"a"}));
  EXPECT_EQ(LinesOf("a\n\n"), (Lines{"a", ""}));
  EXPECT_EQ(LinesOf("\r\n\r\n"), (Lines{"", ""}));
  EXPECT_EQ(LinesOf(""), (Lines{}));
}

TEST(LineReaderTest, ACrWithoutLfStaysInTheLine) {
  EXPECT_EQ(LinesOf("a\rb\r\n"), (Lines{"a\rb"}));
  EXPECT_EQ(LinesOf("a\r"), (Lines{"a\r"}));
  EXPECT_EQ(LinesOf("a\r\r\n"), (Lines{"a\r"}));
}

TEST(LineReaderTest, Byte26EndsTheInput) {
  EXPECT_EQ(LinesOf("a\r\nb\x1A"
                    "c\r\nd\r\n"),
            (Lines{"a", "b"}));
  EXPECT_EQ(LinesOf("a\r\n\x1A"
                    "b"),
            (Lines{"a"}));
  EXPECT_EQ(LinesOf("\x1A"
                    "a\r\n"),
            (Lines{}));
  EXPECT_EQ(LinesOf("a\r\x1A\n"), (Lines{"a\r"}));
}

TEST(LineReaderTest, CountsLines) {
  LineReader reader("x\r\ny\r\n\r\nz");
  EXPECT_EQ(reader.line_number(), 0);
  reader.NextLine();
  reader.NextLine();
  EXPECT_EQ(reader.NextLine(), "");
  EXPECT_EQ(reader.line_number(), 3);
  EXPECT_EQ(reader.NextLine(), "z");
  EXPECT_EQ(reader.line_number(), 4);
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_EQ(reader.NextLine(), "");
  EXPECT_EQ(reader.line_number(), 4);
}

class LineReaderFileTest : public ::testing::Test {
 protected:
  void TearDown() override { Files() = SystemFileLayer(); }

  Lines ReadFile(std::string_view text, size_t chunk_size) {
    const std::string path = dir_.Path("text");
    WriteFileOrDie(path, text);
    const int fd = ::open(path.c_str(), O_RDONLY);
    LineReader reader(fd, chunk_size);
    Lines lines = AllLines(reader);
    failed_ = reader.read_failed();
    ::close(fd);
    return lines;
  }

  TempDir dir_;
  bool failed_ = false;
};

TEST_F(LineReaderFileTest, ChunksGiveTheSameLinesAsOneBuffer) {
  // Line ends, CR LF pairs and byte 26 fall on every chunk boundary.
  std::mt19937 random(7);
  const std::string pieces[] = {"a", "bc", "\r", "\n", "\r\n", " ", "xyz|"};
  for (int round = 0; round < 40; ++round) {
    std::string text;
    for (int i = 0; i < 60; ++i) text += pieces[random() % std::size(pieces)];
    if (round % 4 == 0) text[random() % text.size()] = 26;
    for (size_t chunk : {1, 2, 3, 5, 64, 1 << 16}) {
      ASSERT_EQ(ReadFile(text, chunk), LinesOf(text))
          << "chunk " << chunk << " text " << Hex(text);
    }
  }
}

TEST_F(LineReaderFileTest, LinesLongerThanAChunk) {
  const std::string long_line(10000, 'q');
  std::string text = "a\r\n";
  text.append(long_line).append("\r\nb");
  EXPECT_EQ(ReadFile(text, 7), (Lines{"a", long_line, "b"}));
}

TEST_F(LineReaderFileTest, AReadErrorEndsTheInputAndIsReported) {
  static int reads = 0;
  reads = 0;
  Files().read = [](int fd, void* buffer, size_t count) -> ssize_t {
    if (++reads == 3) {
      errno = EIO;
      return -1;
    }
    return ::read(fd, buffer, count);
  };
  const Lines lines = ReadFile("ab\r\ncd\r\nef\r\n", 4);
  EXPECT_TRUE(failed_);
  EXPECT_EQ(lines, (Lines{"ab", "cd"}));
}

TEST_F(LineReaderFileTest, ABadDescriptorReadsAsNoLines) {
  LineReader reader(-1);
  EXPECT_TRUE(reader.AtEnd());
}

}  // namespace
}  // namespace vorlex::testing
