// The pure command-line functions: splitting the tail, choosing the command,
// reading numbers the way the block nr is read.
#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <limits>

#include "base/numbers.h"
#include "support/command_test.h"

namespace vorlex::core {
namespace {

using Args = std::vector<std::string>;
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

TEST(SplitCommandTailTest, OnlyTheBlankSeparates) {
  // A tab, LF or CR is part of a word; quoting is lost at the join; empty and
  // all-blank arguments vanish.
  EXPECT_EQ(SplitCommandTail({"  p\t.pak   t.txt\r ", "", "   ", "a\nb", "\t"}),
            (Args{"p\t.pak", "t.txt\r", "a\nb", "\t"}));
  EXPECT_EQ(SplitCommandTail({"my file.pak"}), (Args{"my", "file.pak"}));
  EXPECT_EQ(SplitCommandTail({"", "", "  "}), Args{});
}

TEST(UsageTextTest, ElevenLinesWithCrLf) {
  // The banner: the version, three blanks, then the notice, on one line.
  const std::string text = UsageText();
  const size_t banner_end = text.find("\r\n", 2);
  EXPECT_EQ(text.substr(0, 17), "\r\nVorlex V1.22   ");
  EXPECT_NE(text.at(17), ' ');
  EXPECT_EQ(text.substr(2, banner_end - 2).find('\n'), std::string::npos);
  EXPECT_EQ(
      text.substr(banner_end),
      testing::CrLf(
          {"", "", "VORLEX pakfile txtfile [/E] [/P] [/R] [/L] [/A] [block nr]",
           "", " /E  Extract",
           " /P  Pak  (pakfile: must be an existing pakfile)",
           " /R  Replace Last Block(s)",
           " /L  Extract Last Block(s)  (block nr: specifies first block)",
           " /A  Add a Block", ""}));
}

TEST(ParseCommandTest, ChoosesTheCommandOrTheMessage) {
  using enum CommandMode;
  const std::string usage = UsageText();
  const std::string no_first = "Error: First Block Must be specified!\r\n";
  // The arguments, the message and exit status when no command is chosen,
  // else the mode and block nr chosen.
  // clang-format off
  std::vector<std::tuple<Args, std::string, int, CommandMode, int32_t>> cases = {
      {{}, usage, 0, kExtractAll, 0}, {{"P.pak"}, usage, 2, kExtractAll, 0},
      {{"P.pak", "T.Txt"}, usage, 2, kExtractAll, 0},
      {{"P.pak", "T.Txt", "/L"}, no_first, 2, kExtractAll, 0},
      {{"P.pak", "T.Txt", "/l", "0"}, "", 0, kExtractLast, 0},
      // A negative first block is the extract command's to refuse.
      {{"P.pak", "T.Txt", "/L", "-2"}, "", 0, kExtractLast, -2},
      // Arguments after the fourth are ignored, and the fourth but for /E, /L.
      {{"P.pak", "T.Txt", "/E"}, "", 0, kExtractAll, 0},
      {{"P.pak", "T.Txt", "/e", "4", "9", "/P"}, "", 0, kExtractOne, 4},
      {{"P.pak", "T.Txt", "/p", "7", "more"}, "", 0, kPak, 0},
      {{"P.pak", "T.Txt", "/R", "7"}, "", 0, kReplaceLast, 0},
      {{"P.pak", "T.Txt", "/a", "7"}, "", 0, kAddBlock, 0}};
  // Rounding halves to the even neighbour; values saturate at the bounds.
  // The text is read as NumericValue reads it.
  const std::pair<std::string, int32_t> block_nrs[] = {
      {"3", 3}, {"2.5", 2}, {"3.5", 4}, {"-1.5", -2}, {"-2.5", -2}, {"0.5", 0},
      {"-0.5", 0}, {"1.5", 2}, {"2.4999999", 2}, {"2.5000001", 3},
      {"-2.5000001", -3}, {"1e-999", 0}, {"&H10", 16}, {"0x1A", 0}, {"2147483646.5", 2147483646},
      {"-2147483646.5", -2147483646}, {"-2147483647", -2147483647},
      {"2147483647", kMax}, {"2147483647.5", kMax}, {"2147483648", kMax},
      {"99999999999", kMax}, {"1e999", kMax}, {"-2147483648", kMin},
      {"-2147483647.5", kMin}, {"-2147483648.5", kMin}, {"-2147483649", kMin},
      {"-1e999", kMin}};
  // clang-format on
  for (const std::string s :
       {"/x", "/EX", "E", "/", "/e ", "\\E", "/E\t", "//E", "/\xe5"}) {
    const std::string message = "Error: Unknown Command: " + s + "\r\n";
    cases.push_back({{"P.pak", "T.Txt", s}, message, 2, kExtractAll, 0});
  }
  for (const auto& [text, block_nr] : block_nrs) {
    cases.push_back(
        {{"P.pak", "T.Txt", "/E", text}, "", 0, kExtractOne, block_nr});
  }
  for (const auto& [args, message, status, mode, block_nr] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const ParsedCommand parsed = ParseCommand(args);
    EXPECT_EQ(parsed.ok, message.empty());
    EXPECT_EQ(parsed.message, message);
    EXPECT_EQ(parsed.exit_status, status);
    // A chosen command keeps the file names as typed.
    const CommandLine& c = parsed.command;
    if (parsed.ok) {
      EXPECT_EQ(std::tie(c.pakfile, c.txtfile, c.mode, c.block_nr),
                std::tie("P.pak", "T.Txt", mode, block_nr));
    }
  }
  // Upper-casing touches a to z only.
  EXPECT_EQ(UpperAscii("/e\xe5z{"), "/E\xe5Z{");
}

// Texts a library number parser would read differently, or where the
// longest decimal number ends early; radix prefixes count only directly
// after the blanks.
TEST(NumericValueTest, DecimalNumbersAndRadixPrefixes) {
  // clang-format off
  const std::pair<std::string, double> cases[] = {
      {"", 0}, {"12", 12}, {"-7", -7}, {"+7", 7}, {"0x1A", 0}, {"inf", 0},
      {"INF", 0}, {"-infinity", 0}, {"nan", 0}, {"NaN(1)", 0}, {"1D3", 1},
      {"1d3", 1}, {"1E+3", 1000}, {"25e-1", 2.5}, {"1e", 1}, {"1e+", 1},
      {"1e-", 1}, {"1.e2", 100}, {".5", 0.5}, {"-.5", -0.5}, {"5.", 5},
      {".", 0}, {"-", 0}, {"+", 0}, {"- 5", 0}, {"--5", 0}, {"12abc", 12},
      {"1 2", 1}, {"1.2.3", 1.2}, {"  42", 42}, {"  \t12", 12},
      {"\r\n\v\f 12", 12}, {"\t -3.25x", -3.25},
      {"87915795054720153", 87915795054720153.0},  // digit by digit: ...014
      {"&h1f", 31}, {"&HfF", 255}, {"&H10G1", 16}, {"&HG", 0}, {"&H", 0},
      {"&H-1", 0}, {"&H 1", 0}, {"&o78", 7}, {"&O8", 0}, {"&b1021", 2},
      {"&B2", 0}, {"&D10", 0}, {"&", 0}, {"&&H1", 0}, {"   &H10", 16},
      {" \t&H10", 0}, {"&HFFFFFFFF", 4294967295.0}};
  // clang-format on
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(NumericValue(text), value) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace vorlex::core
