// Code pages, character tables and the way between bytes and UTF-8 text.
#include "base/alphabet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/charset.h"

namespace vorlex::core {
namespace {

Alphabet Make(std::string_view charset, std::string_view table = "") {
  std::string problem;
  std::optional<Alphabet> alphabet =
      MakeAlphabet(charset, table.empty() ? "" : "t.tbl", table, &problem);
  EXPECT_TRUE(alphabet) << problem;
  return alphabet ? *alphabet : Alphabet{};
}

std::string Problem(std::string_view charset, std::string_view table = "") {
  std::string problem;
  EXPECT_FALSE(
      MakeAlphabet(charset, table.empty() ? "" : "t.tbl", table, &problem));
  return problem;
}

TEST(AlphabetTest, EveryByteComesBackThroughEveryListedCodePageAndTables) {
  std::vector<Alphabet> alphabets;
  for (std::string_view name : kListedCodePages)
    alphabets.push_back(Make(name));
  alphabets.push_back(Make("", "01=[END]\n02=[NAME]\nE9=é\n"));
  alphabets.push_back(Make("CP1252", "82=é\n8D=[PAUSE]\n"));
  for (const Alphabet& alphabet : alphabets) {
    // A blank before each byte keeps combining marks apart.
    std::string spaced, text, back;
    for (int byte = 0; byte < 256; ++byte) {
      spaced += {' ', static_cast<char>(byte)};
      const std::string& own = alphabet.texts[byte];
      if (byte >= 0x20 && byte < 0x7F) {
        EXPECT_EQ(own, std::string(1, static_cast<char>(byte)));
      }
      EXPECT_EQ(CharacterCount(own), own.starts_with('[') ? own.size() : 1u)
          << alphabet.name << " byte " << byte;
    }
    EXPECT_TRUE(TextReadsBack(spaced, alphabet, &text, &back)) << alphabet.name;
  }
}

TEST(AlphabetTest, CodePagesByTheirNamesAndTheBytesTheyDoNotDefine) {
  struct Case {
    std::string_view charset, table;
    int byte;
    std::string_view text;
  } cases[] = {
      {"CP1252", "", 0x80, "€"},
      {"windows-1252", "", 0x81, "\u0081"},  // two of five undefined bytes
      {"cp1252", "", 0x9D, "\u009D"},
      {"CP437", "", 0x82, "é"},
      {"cp437", "", 0x1A, "\x1A"},  // control bytes stay ASCII
      {"cp437", "", 0x7F, "\x7F"},
      {"IBM850", "", 0xD0, "ð"},
      {"cp852", "", 0xAA, "\u00AA"},  // undefined in CP852
      {"CP1250", "", 0xB3, "ł"},
      {"latin1", "", 0xE9, "é"},
      {"ISO-8859-2", "", 0xB3, "ł"},
      {"iso-8859-15", "", 0xA4, "€"},
      {"ISO-8859-3", "", 0xA5, "\u00A5"},
      {"ISO-8859-8", "", 0xD7, "\uF7D7"},  // U+00D7 is byte AA's
      {"", "", 0x41, "A"},
      {"", "", 0xE9, "\u00E9"},
      {"", "E9=e\u0301\n", 0xE9, "é"},       // table texts are composed
      {"CP1252", "82=é\n", 0x82, "é"},       // a table entry overrides,
      {"CP1252", "82=é\n", 0xE9, "\uF7E9"},  // and the page's é gives way
      {"CP1252", "01=[END]\n", 0x01, "[END]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Make(c.charset, c.table).texts[c.byte], c.text)
        << c.charset << " " << c.table << " byte " << c.byte;
  }
}

TEST(AlphabetTest, RefusedCodePagesAndTablesSayWhy) {
  struct Case {
    std::string_view charset, table, problem;
  } cases[] = {
      {"UTF-8", "", "more than one byte"},
      {"cp037", "", "does not keep ASCII: byte 20"},
      {"ISO-8859-12", "", "unknown code page \"ISO-8859-12\""},
      {"", "E9=é\n1=x\n", "t.tbl, line 2: not an entry of the form XX=text"},
      {"", "GG=x", "line 1: not an entry"},
      {"", "E9=", "line 1: not an entry"},
      {"", "E9 = é", "line 1: not an entry"},
      {"", "E9=é\r\n\r\ne9=e\r\n", "line 3: byte E9 was given on line 1"},
      {"", "80=é\n81=é\n", "line 2: \"é\" is the text of byte 80 on line 1"},
      {"", "80=e\u0301\n81=é\n", "line 2: \"é\" is the text of byte 80"},
      {"", "7C=!\n", "line 1: byte 7C ends every string"},
      {"", "80=a|b\n", "line 1: the text holds \"|\""},
      {"", "80=a\rb\n", "line 1: the text holds the control character 0D"},
      {"", "80=\xE9\n", "line 1: the text is not UTF-8"},
      {"", "41=Å\n80=\uF7C5\n", "bytes 80 and C5 both stand for"},
  };
  for (const Case& c : cases) {
    EXPECT_NE(Problem(c.charset, c.table).find(c.problem), std::string::npos)
        << Problem(c.charset, c.table);
  }
  // Unlisted bytes and ones a page's text was taken from give way too.
  EXPECT_EQ(Make("", "41=Å\n").texts[0xC5], "\uF7C5");
}

TEST(AlphabetTest, TheWayBackTakesTheLongestTextAndNamesWhatItCannotHold) {
  const Alphabet table = Make("CP1252", "01=[END]\n02=[EN\n");
  std::string bytes, text, back;
  EXPECT_EQ(AppendAsBytes("a[END][EN€[E|", table, &bytes),
            std::vector<size_t>{});
  EXPECT_EQ(bytes, "a\x01\x02\x80[E|");
  // A string that holds a table text literally would come back changed, as
  // would one whose combining marks the composed form joins or reorders.
  EXPECT_FALSE(TextReadsBack("[END]|", table, &text, &back));
  EXPECT_EQ(back, "\x01|");
  EXPECT_TRUE(TextReadsBack("\x01[EM|", table, &text, &back));
  EXPECT_EQ(text, "[END][EM|");
  EXPECT_FALSE(TextReadsBack("e\xEC|", Make("CP1258"), &text, &back));
  EXPECT_TRUE(TextReadsBack("\xE9|", Make("CP1258"), &text, &back));
  EXPECT_FALSE(
      TextReadsBack("\xC8\xF1\xEE|", Make("ISO-8859-6"), &text, &back));
  EXPECT_TRUE(TextReadsBack("\xC8\xEE\xF1|", Make("ISO-8859-6"), &text, &back));
  bytes.clear();
  const std::string_view unheld = "aĀb\xE9z\u4E00|";
  EXPECT_EQ(AppendAsBytes(unheld, table, &bytes),
            (std::vector<size_t>{1, 4, 6}));
  EXPECT_EQ(bytes, "abz|");
  EXPECT_EQ(DescribeCharacterAt(unheld, 1), "U+0100 'Ā'");
  EXPECT_EQ(DescribeCharacterAt(unheld, 4), "byte 0xE9");
  EXPECT_EQ(DescribeCharacterAt("\x01", 0), "U+0001");
  EXPECT_EQ(FirstInvalidUtf8(unheld), 4u);
  EXPECT_EQ(FirstInvalidUtf8("aĀ"), std::nullopt);
}

TEST(AlphabetTest, ComposedFormAndTheColumnsOfTheUsersText) {
  const std::string decomposed = "Cafe\u0301 cre\u0300me";
  EXPECT_EQ(ToComposedForm(decomposed), "Café crème");
  EXPECT_EQ(ToComposedForm("\xEF\xBB\xBFé"), "\xEF\xBB\xBFé");
  // "c" of "crème" is at 6 in the composed text, at 7 in the user's.
  EXPECT_EQ(SourcePosition(decomposed, 6), 7u);
  EXPECT_EQ(SourcePosition(decomposed, 0), 0u);
}

TEST(AlphabetTest, TheHintFindsACodePageWhoseByteTheTreeHolds) {
  std::array<bool, 256> usable{};
  EXPECT_EQ(FindCodePage(0xE9, usable), std::nullopt);
  usable[0xE9] = true;
  EXPECT_EQ(FindCodePage(0xE9, usable)->code_page, "CP1252");
  usable[0xE9] = false;
  usable[0x82] = true;
  EXPECT_EQ(FindCodePage(0xE9, usable)->code_page, "CP850");
  usable[0xB3] = true;
  EXPECT_EQ(FindCodePage(0x142, usable)->code_page, "CP1250");
  EXPECT_EQ(FindCodePage(0x4E00, usable), std::nullopt);
  EXPECT_EQ(FindCodePage(-1, usable), std::nullopt);
}

}  // namespace
}  // namespace vorlex::core
