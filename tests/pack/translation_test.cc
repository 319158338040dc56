// A translator's own alphabet through the program: strings as UTF-8 text in
// a code page or character table (--charset, --table), the hint for UTF-8
// text packed without one, and new code trees (--new-tree).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/command_test.h"
#include "support/pak_maker.h"

namespace vorlex::core::testing {
namespace {

const std::string kDone = " ---- Done! ----\r\n";

std::string PakOf(const std::vector<TestBlock>& blocks) {
  return MakePakfile(BuildHuffmanTree(AllStrings(blocks)), blocks);
}

class TranslationTest : public CommandTest {
 protected:
  // Packs `text` into a.pak (written as `pak` first) with `options`.
  RunResult Pack(const std::string& pak, std::string_view text,
                 std::vector<std::string> options,
                 const std::string& command = "/P") {
    Write("a.pak", pak);
    Write("t.txt", text);
    options.insert(options.end(), {"a.pak", "t.txt", command});
    return Vorlex(options);
  }
};

// The code pages and tables themselves are held to every byte in the
// alphabet's own tests; here one of each carries every byte through /E and /P.
TEST_F(TranslationTest, EveryByteComesBackThroughACodePageAndATable) {
  Write("t.tbl", "01=[END]\r\n0D=[CR]\r\n81=[PAUSE]\r\nE9=é\r\n");
  // Three pakfiles, as a tree holds at most 128 characters; '|' ends them.
  for (const auto& [first, last] :
       {std::pair{0, 123}, {125, 200}, {201, 255}}) {
    TestBlock block{.id = first, .strings = {}};
    for (int byte = first; byte <= last; ++byte)
      block.strings.push_back(std::string(1, char(byte)) + "|");
    const std::string pak = PakOf({block});
    Write("a.pak", pak);
    std::vector<std::string> args = {"--charset=CP1250", "--table=t.tbl",
                                     "a.pak", "t.txt", "/E"};
    EXPECT_EQ(Vorlex(args).exit_status, 0) << first;
    args.back() = "/P";
    EXPECT_EQ(Vorlex(args).exit_status, 0);
    EXPECT_EQ(Hex(Read("a.pak")), Hex(pak));
  }
}

TEST_F(TranslationTest, RefusedTablesCodePagesAndStringsSayWhere) {
  const std::string pak = PakOf({{1, {"[END]|", "\x01|"}}});
  const struct {
    const char* option;
    const char* table;
    int status;
    std::string told;
  } cases[] = {
      {"--table=t.tbl", "01=[END]\n", 1,
       "block 0, string 0 cannot be shown with t.tbl: byte 5B (character 1, "
       "shown as \"[\") would pack back as byte 01 (\"[END]\")"},
      {"--table=t.tbl", "01=[END]\nxx\n", 1,
       "character table t.tbl, line 2: not an entry of the form XX=text"},
      {"--table=missing.tbl", "", 1, "cannot read the character table"},
      {"--charset=cp037", "", 2, "does not keep ASCII"},
  };
  for (const auto& c : cases) {
    Write("a.pak", pak);
    Write("t.tbl", c.table);
    const RunResult run = Vorlex({c.option, "a.pak", "t.txt", "/E"});
    EXPECT_EQ(run.exit_status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.told), std::string::npos) << run.err;
    EXPECT_FALSE(Exists("t.txt"));  // nothing is written that packs wrong
  }
}

TEST_F(TranslationTest, TextIsComposedPlacedAndHintedAt) {
  const std::string pak = PakOf({{7, {"Caf\xE9 cr\xE8me|"}}});
  const std::string header =
      "Number of Blocks: 1\r\nBlock Nr: 0\r\nID: 7\r\n"
      "Nr of Strings: 1\r\n";
  // Decomposed text after a byte-order mark packs as composed text does.
  const RunResult composed =
      Pack(pak, "\xEF\xBB\xBF" + header + "0:  Cafe\u0301 cre\u0300me|\r\n",
           {"--charset=latin1"});
  EXPECT_EQ(composed.out, "Nr of Blocks: 1\r\n." + kDone) << composed.err;
  EXPECT_EQ(Hex(Read("a.pak")), Hex(pak));
  // Refused text, named where the file shows it; the pakfile stays.
  const struct {
    std::string string;
    const char* charset;
    std::string told;
  } cases[] = {
      {"Cafe\u0301 Ā|", "--charset=CP1252",
       "t.txt:5: block 0: column 11: U+0100 'Ā' has no byte in CP1252"},
      {"Caf\n \u4E00|", "--charset=CP1252",
       "t.txt:6: block 0: column 2: U+4E00 '\u4E00' has no byte in CP1252"},
      {"Caf\xE9|", "--charset=CP1252",
       "t.txt:5: block 0: column 8: byte 0xE9 is not UTF-8; with CP1252 the "
       "text file must be saved as UTF-8"},
      // UTF-8 packed as bytes: the tree holds é as byte E9 of CP1252.
      {"Café crème|", nullptr,
       "t.txt: the text looks like UTF-8 (U+00E9 'é' is written as several "
       "bytes): --charset=CP1252 would read it as byte E9, which the "
       "pakfile's tree holds"},
      {"Ça|", nullptr,
       "but no listed code page has a byte for it that the "
       "pakfile's tree holds; --new-tree with /P makes a tree"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> options;
    if (c.charset) options.push_back(c.charset);
    const RunResult run =
        Pack(pak, header + "0:  " + c.string + "\r\n", options);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_NE(run.err.find(c.told), std::string::npos) << run.err;
    EXPECT_EQ(Hex(Read("a.pak")), Hex(pak));
  }
  // --info shows each code's character.
  const std::string info = Vorlex({"--info", "--charset=cp1252", "a.pak"}).out;
  EXPECT_NE(info.find("charset cp1252\nalphabet 11\ncode 0x20 4 U+0020\n"),
            std::string::npos)
      << info;
  EXPECT_NE(info.find("code 0xE8 3 è\ncode 0xE9 3 é\n"), std::string::npos);
}

TEST_F(TranslationTest, NewTreesHoldTheTranslationsLetters) {
  const std::string pak = PakOf({{7, {"Hello|", "Bye|"}}});
  Write("pl.tbl", "B3=ł\n");  // over CP1252, whose B3 is '³'
  const std::vector<std::string> options = {"--charset=CP1252",
                                            "--table=pl.tbl", "--new-tree"};
  const std::string text = ExpectedExtractText(
      "a.pak", 9,
      {{7, {"Café, señor?|", "Straße|"}}, {8, {"Łąka, łza|", "|", "\n|"}}});
  // Ł and ą are not in the table yet: refused at the first, the second
  // summed up after it.
  RunResult run = Pack(pak, text, options);
  EXPECT_NE(run.err.find("t.txt:14: block 1: column 5: U+0141 'Ł' has no "
                         "byte in CP1252 with pl.tbl (and 1 more problem in "
                         "this block)"),
            std::string::npos)
      << run.err;
  Write("pl.tbl", "B3=ł\nB9=ą\nA3=Ł\n");
  run = Pack(pak, text, options);
  EXPECT_EQ(run.out, "Nr of Blocks: 2\r\n.." + kDone) << run.err;
  EXPECT_NE(run.err.find("a.pak: new code tree of 22 characters, 43 nodes "
                         "(172 bytes); the old one had 13 nodes (52 bytes)"),
            std::string::npos)
      << run.err;
  const std::string first = Read("a.pak");
  Pack(pak, text, options);  // the same text, the same bytes
  EXPECT_EQ(Read("a.pak"), first);
  std::vector<std::string> extract = {"--charset=CP1252", "--table=pl.tbl",
                                      "a.pak", "back.txt", "/E"};
  EXPECT_EQ(Vorlex(extract).exit_status, 0);
  std::string expected = text;
  expected.replace(expected.find("Nods: 9"), 7, "Nods: 43");
  EXPECT_EQ(Read("back.txt"), expected);

  // 128 characters fit a new tree, 129 do not.
  std::string many;
  for (int byte = 0xA0; byte <= 0xFF; ++byte) many += char(byte);
  many += "0123456789abcdefghijklmnopqrstu";  // 96 + 31 = 127, and '|'
  run = Pack(pak, ExpectedExtractText("a.pak", 0, {{1, {many + "F|"}}}),
             {"--new-tree"});
  EXPECT_EQ(run.out, "Nr of Blocks: 1\r\n Error: Pakfile not changed!\r\n");
  EXPECT_NE(run.err.find("the strings use 129 different characters; a new "
                         "code tree holds at most 128"),
            std::string::npos);
  EXPECT_EQ(Read("a.pak"), pak);
  run = Pack(pak, ExpectedExtractText("a.pak", 0, {{1, {many + "|", "|"}}}),
             {"--new-tree"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(LoadPak(Read("a.pak")).tree.nodes.size(), 255u);
  EXPECT_EQ(Vorlex({"a.pak", "back.txt", "/E"}).exit_status, 0);
  EXPECT_NE(Read("back.txt").find("0:  " + many + "|\r\n1:  |\r\n"),
            std::string::npos);
  for (const char* command : {"/R", "/A"}) {
    run = Pack(pak, text, {"--new-tree"}, command);
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_NE(run.err.find("option '--new-tree' does not fit"),
              std::string::npos);
    EXPECT_EQ(Read("a.pak"), pak);
  }
}

// The French translation that ships with the sample packs as the README says.
TEST_F(TranslationTest, TheFrenchSamplePacksWithANewTree) {
  const RunResult run =
      Pack(ReadFileOrDie(VORLEX_SOURCE_DIR "/examples/sample.pak"),
           ReadFileOrDie(VORLEX_SOURCE_DIR "/examples/sample_fr.txt"),
           {"--charset=CP1252", "--new-tree"});
  EXPECT_EQ(run.out, "Nr of Blocks: 4\r\n...." + kDone) << run.err;
}

}  // namespace
}  // namespace vorlex::core::testing
