// The pure command-line functions: splitting the tail, choosing the command,
// reading numbers the way the text file and the block nr are read.
#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace vorlex {
namespace {

using Args = std::vector<std::string>;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

TEST(SplitCommandTailTest, OnlyTheBlankSeparates) {
  EXPECT_EQ(SplitCommandTail({"p.pak", "t.txt", "/E"}),
            (Args{"p.pak", "t.txt", "/E"}));
  // Runs of blanks, blanks at both ends and inside one argument.
  EXPECT_EQ(SplitCommandTail({"  p.pak   t.txt ", "   /E  "}),
            (Args{"p.pak", "t.txt", "/E"}));
  // A tab, a line feed or a carriage return is part of the word.
  EXPECT_EQ(SplitCommandTail({"p\t.pak", "t.txt\r", "a\nb"}),
            (Args{"p\t.pak", "t.txt\r", "a\nb"}));
  EXPECT_EQ(SplitCommandTail({"\t"}), (Args{"\t"}));
}

TEST(SplitCommandTailTest, QuotingIsLostAtTheJoin) {
  // One quoted argument with a blank inside arrives as two.
  EXPECT_EQ(SplitCommandTail({"my file.pak", "t.txt", "/E"}),
            (Args{"my", "file.pak", "t.txt", "/E"}));
  // Empty and all-blank arguments vanish.
  EXPECT_EQ(SplitCommandTail({"p.pak", "", "t.txt", "   ", "/E"}),
            (Args{"p.pak", "t.txt", "/E"}));
  EXPECT_EQ(SplitCommandTail({"p.pak t.txt /E 3"}),
            (Args{"p.pak", "t.txt", "/E", "3"}));
}

TEST(SplitCommandTailTest, NothingToSplit) {
  EXPECT_TRUE(SplitCommandTail({}).empty());
  EXPECT_TRUE(SplitCommandTail({""}).empty());
  EXPECT_TRUE(SplitCommandTail({"", "", "  "}).empty());
}

TEST(UsageTextTest, ElevenLinesWithCrLf) {
  const std::string text = UsageText();
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  // No bare line feed and no carriage return outside a line end.
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << i;
    }
    if (text[i] == '\r') {
      EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << i;
    }
  }
  const std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[0], "");
  // The banner: the version, three blanks, then the notice.
  EXPECT_EQ(lines[1].substr(0, 15), "Vorlex V1.22   ");
  ASSERT_GT(lines[1].size(), 15u);
  EXPECT_NE(lines[1][15], ' ');
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3],
            "VORLEX pakfile txtfile [/E] [/P] [/R] [/L] [/A] [block nr]");
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[5], " /E  Extract");
  EXPECT_EQ(lines[6], " /P  Pak  (pakfile: must be an existing pakfile)");
  EXPECT_EQ(lines[7], " /R  Replace Last Block(s)");
  EXPECT_EQ(lines[8],
            " /L  Extract Last Block(s)  (block nr: specifies first block)");
  EXPECT_EQ(lines[9], " /A  Add a Block");
  EXPECT_EQ(lines[10], "");
}

TEST(ParseCommandTest, FewerThanThreeArgumentsShowTheUsage) {
  const ParsedCommand none = ParseCommand({});
  EXPECT_FALSE(none.ok);
  EXPECT_EQ(none.message, UsageText());
  EXPECT_EQ(none.exit_status, 0);
  for (const Args& args : {Args{"p.pak"}, Args{"p.pak", "t.txt"}}) {
    const ParsedCommand parsed = ParseCommand(args);
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(parsed.message, UsageText());
    EXPECT_EQ(parsed.exit_status, 2) << args.size() << " arguments";
  }
}

TEST(ParseCommandTest, SwitchesInEitherCase) {
  struct Case {
    const char* a_switch;
    CommandMode mode;
  };
  for (const Case& c :
       {Case{"/e", CommandMode::kExtractAll},
        Case{"/E", CommandMode::kExtractAll}, Case{"/p", CommandMode::kPak},
        Case{"/P", CommandMode::kPak}, Case{"/r", CommandMode::kReplaceLast},
        Case{"/R", CommandMode::kReplaceLast},
        Case{"/a", CommandMode::kAddBlock},
        Case{"/A", CommandMode::kAddBlock}}) {
    const ParsedCommand parsed =
        ParseCommand({"Data.PAK", "Out.Txt", c.a_switch});
    ASSERT_TRUE(parsed.ok) << c.a_switch;
    EXPECT_EQ(parsed.command.mode, c.mode) << c.a_switch;
    EXPECT_EQ(parsed.command.block_nr, 0) << c.a_switch;
    // The file names are kept as typed.
    EXPECT_EQ(parsed.command.pakfile, "Data.PAK");
    EXPECT_EQ(parsed.command.txtfile, "Out.Txt");
    EXPECT_TRUE(parsed.message.empty());
  }
}

TEST(ParseCommandTest, UnknownSwitchIsEchoedAsTyped) {
  for (const char* a_switch :
       {"/x", "/EX", "E", "/", "/e ", "\\E", "/E\t", "//E", "/\xe5"}) {
    const ParsedCommand parsed = ParseCommand({"p.pak", "t.txt", a_switch});
    EXPECT_FALSE(parsed.ok) << a_switch;
    EXPECT_EQ(parsed.message,
              std::string("Error: Unknown Command: ") + a_switch + "\r\n");
    EXPECT_EQ(parsed.exit_status, 2);
  }
  // Upper-casing touches a to z only, and only for the comparison.
  EXPECT_EQ(UpperAscii("/e\xe5z{"), "/E\xe5Z{");
}

TEST(ParseCommandTest, ExtractLastNeedsItsFirstBlock) {
  const ParsedCommand missing = ParseCommand({"p.pak", "t.txt", "/L"});
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.message, "Error: First Block Must be specified!\r\n");
  EXPECT_EQ(missing.exit_status, 2);

  const ParsedCommand zero = ParseCommand({"p.pak", "t.txt", "/l", "0"});
  ASSERT_TRUE(zero.ok);
  EXPECT_EQ(zero.command.mode, CommandMode::kExtractLast);
  EXPECT_EQ(zero.command.block_nr, 0);

  const ParsedCommand five = ParseCommand({"p.pak", "t.txt", "/L", "5"});
  ASSERT_TRUE(five.ok);
  EXPECT_EQ(five.command.block_nr, 5);

  // A negative first block is the extract command's to refuse.
  const ParsedCommand negative = ParseCommand({"p.pak", "t.txt", "/L", "-2"});
  ASSERT_TRUE(negative.ok);
  EXPECT_EQ(negative.command.block_nr, -2);
}

TEST(ParseCommandTest, FourthArgumentIgnoredByThePackingCommands) {
  for (const char* a_switch : {"/P", "/R", "/A"}) {
    const ParsedCommand parsed =
        ParseCommand({"p.pak", "t.txt", a_switch, "7", "more"});
    ASSERT_TRUE(parsed.ok) << a_switch;
    EXPECT_EQ(parsed.command.block_nr, 0) << a_switch;
  }
  EXPECT_EQ(ParseCommand({"p.pak", "t.txt", "/P", "7"}).command.mode,
            CommandMode::kPak);
}

TEST(ParseCommandTest, BlockNrOfExtractOne) {
  struct Case {
    const char* text;
    int32_t block_nr;
  };
  for (const Case& c :
       {Case{"3", 3}, Case{"abc", 0}, Case{"2.5", 2}, Case{"3.5", 4},
        Case{"-1.5", -2}, Case{"&H10", 16}, Case{"&h10", 16}, Case{"&O17", 15},
        Case{"&B101", 5}, Case{"&Z", 0}, Case{"\t&H10", 0}, Case{"0x1A", 0},
        Case{"1e3", 1000}, Case{"1e999", kMax}, Case{"-1e999", kMin},
        Case{"99999999999", kMax}}) {
    const ParsedCommand parsed = ParseCommand({"p.pak", "t.txt", "/E", c.text});
    ASSERT_TRUE(parsed.ok) << c.text;
    EXPECT_EQ(parsed.command.mode, CommandMode::kExtractOne) << c.text;
    EXPECT_EQ(parsed.command.block_nr, c.block_nr) << c.text;
  }
  // Arguments after the fourth are ignored.
  const ParsedCommand extra =
      ParseCommand({"p.pak", "t.txt", "/e", "4", "9", "/P"});
  ASSERT_TRUE(extra.ok);
  EXPECT_EQ(extra.command.mode, CommandMode::kExtractOne);
  EXPECT_EQ(extra.command.block_nr, 4);
}

struct NumericCase {
  const char* text;
  double value;
};

// Texts that a library number parser would read differently, or where the
// longest decimal number ends early.
TEST(NumericValueTest, DecimalNumbers) {
  for (const NumericCase& c : {
           NumericCase{"", 0},
           {"12", 12},
           {"-7", -7},
           {"+7", 7},
           {"0x1A", 0},
           {"inf", 0},
           {"INF", 0},
           {"-infinity", 0},
           {"nan", 0},
           {"NaN(1)", 0},
           {"1D3", 1},
           {"1d3", 1},
           {"1e3", 1000},
           {"1E+3", 1000},
           {"25e-1", 2.5},
           {"1e", 1},
           {"1e+", 1},
           {"1e-", 1},
           {"1.e2", 100},
           {".5", 0.5},
           {"-.5", -0.5},
           {"5.", 5},
           {".", 0},
           {"-", 0},
           {"+", 0},
           {"- 5", 0},
           {"--5", 0},
           {"12abc", 12},
           {"1 2", 1},
           {"1.2.3", 1.2},
           {"abc", 0},
           {"  42", 42},
           {"  \t12", 12},
           {"\r\n\v\f 12", 12},
           {"\t -3.25x", -3.25},
       }) {
    EXPECT_EQ(NumericValue(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST(NumericValueTest, RadixPrefixes) {
  for (const NumericCase& c : {
           NumericCase{"&H10", 16},
           {"&h1f", 31},
           {"&HfF", 255},
           {"&H10G1", 16},
           {"&HG", 0},
           {"&H", 0},
           {"&H-1", 0},
           {"&H 1", 0},
           {"&O17", 15},
           {"&o78", 7},
           {"&O8", 0},
           {"&B101", 5},
           {"&b1021", 2},
           {"&B2", 0},
           {"&Z", 0},
           {"&D10", 0},
           {"&", 0},
           {"&&H1", 0},
           {"   &H10", 16},
           {"\t&H10", 0},
           {" \t&H10", 0},
           {"&HFFFFFFFF", 4294967295.0},
       }) {
    EXPECT_EQ(NumericValue(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST(NumericValueTest, OverflowingExponentSaturates) {
  EXPECT_EQ(RoundToInteger(NumericValue("1e999")), kMax);
  EXPECT_EQ(RoundToInteger(NumericValue("-1e999")), kMin);
  EXPECT_EQ(RoundToInteger(NumericValue("1e-999")), 0);
  EXPECT_EQ(RoundToInteger(NumericValue("&HFFFFFFFF")), kMax);
  EXPECT_EQ(RoundToInteger(NumericValue("2147483648")), kMax);
  EXPECT_EQ(RoundToInteger(NumericValue("-2147483649")), kMin);
}

TEST(RoundToIntegerTest, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundToInteger(2.5), 2);
  EXPECT_EQ(RoundToInteger(3.5), 4);
  EXPECT_EQ(RoundToInteger(-1.5), -2);
  EXPECT_EQ(RoundToInteger(-2.5), -2);
  EXPECT_EQ(RoundToInteger(0.5), 0);
  EXPECT_EQ(RoundToInteger(-0.5), 0);
  EXPECT_EQ(RoundToInteger(1.5), 2);
  EXPECT_EQ(RoundToInteger(2.4999999), 2);
  EXPECT_EQ(RoundToInteger(2.5000001), 3);
  EXPECT_EQ(RoundToInteger(-2.5000001), -3);
  EXPECT_EQ(RoundToInteger(2147483646.5), 2147483646);
  EXPECT_EQ(RoundToInteger(-2147483646.5), -2147483646);
}

TEST(RoundToIntegerTest, SaturatesAtBothBounds) {
  EXPECT_EQ(RoundToInteger(2147483647.0), kMax);
  EXPECT_EQ(RoundToInteger(2147483647.4), kMax);
  EXPECT_EQ(RoundToInteger(2147483647.5), kMax);
  EXPECT_EQ(RoundToInteger(2147483648.0), kMax);
  EXPECT_EQ(RoundToInteger(1e300), kMax);
  EXPECT_EQ(RoundToInteger(std::numeric_limits<double>::infinity()), kMax);
  EXPECT_EQ(RoundToInteger(-2147483648.0), kMin);
  EXPECT_EQ(RoundToInteger(-2147483647.5), kMin);
  EXPECT_EQ(RoundToInteger(-2147483648.5), kMin);
  EXPECT_EQ(RoundToInteger(-1e300), kMin);
  EXPECT_EQ(RoundToInteger(-std::numeric_limits<double>::infinity()), kMin);
  EXPECT_EQ(RoundToInteger(-2147483647.0), -2147483647);
}

}  // namespace
}  // namespace vorlex
