// The library interface: reading, encoding, and writes that give the same
// bytes as the packing commands or leave the pakfile exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "pak/file_io.h"
#include "support/command_test.h"
#include "support/pak_maker.h"
#include "vorlex/vorlex.h"

namespace vorlex::testing {
namespace {

std::vector<Block> ToBlocks(const std::vector<TestBlock>& blocks) {
  std::vector<Block> result;
  for (const TestBlock& block : blocks) {
    result.push_back(Block{.id = block.id, .strings = block.strings});
  }
  return result;
}

// Blocks as gtest compares and prints them: ID and strings.
using Plain = std::vector<std::pair<int32_t, std::vector<std::string>>>;

Plain PlainOf(const std::vector<TestBlock>& blocks) {
  Plain plain;
  for (const TestBlock& block : blocks) {
    plain.emplace_back(block.id, block.strings);
  }
  return plain;
}

// Every block of `pak`, each expected to be complete.
Plain ReadAll(const Pakfile& pak) {
  Plain blocks;
  for (int b = 0; b < BlockCount(pak); ++b) {
    Error error;
    const std::optional<Block> block = ReadBlock(pak, b, &error);
    EXPECT_TRUE(block) << error.message;
    if (!block) break;
    EXPECT_TRUE(block->complete) << "block " << b;
    EXPECT_EQ(block->stored_count, static_cast<int>(block->strings.size()));
    blocks.emplace_back(block->id, block->strings);
  }
  return blocks;
}

// A text file of `blocks` as /R, /A and /P read it.
std::string TextOf(const std::vector<TestBlock>& blocks) {
  std::string text = CrLf({"Number of Blocks: " + std::to_string(blocks.size()),
                           std::string(78, '-')});
  for (size_t b = 0; b < blocks.size(); ++b) {
    text += ExpectedBlockSection(static_cast<int>(b), blocks[b]);
  }
  return text;
}

// Random blocks and a tree that codes every character of them and of
// `spare` more blocks, for replacing some.
struct RandomCase {
  std::vector<TreeNode> nodes;
  std::vector<TestBlock> blocks;
  std::vector<TestBlock> spare;
  std::string bytes;
};

RandomCase MakeRandomCase(uint32_t seed, int block_count, int spare_count) {
  std::mt19937 random(seed);
  RandomCase c;
  c.blocks = RandomBlocks(seed, block_count, static_cast<int>(random() % 12),
                          kDefaultAlphabet, static_cast<int>(random() % 80));
  c.spare =
      RandomBlocks(seed + 1000, spare_count, static_cast<int>(random() % 12),
                   kDefaultAlphabet, static_cast<int>(random() % 80));
  std::vector<std::string> all = AllStrings(c.blocks);
  for (const std::string& s : AllStrings(c.spare)) all.push_back(s);
  c.nodes = BuildHuffmanTree(all);
  if (random() % 2 == 0) c.nodes = RenumberTree(c.nodes, random());
  c.bytes = MakePakfile(c.nodes, c.blocks);
  return c;
}

class LibraryTest : public CommandTest {
 protected:
  void TearDown() override { Files() = SystemFileLayer(); }

  // "'<path of name>'", built by appending: GCC 12 at -O3 warns falsely
  // about "'" + std::string.
  std::string Quoted(std::string_view name) const {
    std::string quoted(1, '\'');
    quoted.append(Path(name)).push_back('\'');
    return quoted;
  }

  Pakfile OpenOrDie(std::string_view name) {
    Error error;
    std::optional<Pakfile> pak = OpenPakfile(Path(name), &error);
    EXPECT_TRUE(pak) << error.message;
    return pak ? *pak : Pakfile{};
  }
};

TEST_F(LibraryTest, ReadsTheSample) {
  Error error;
  const std::string sample =
      std::string(VORLEX_SOURCE_DIR) + "/examples/sample.pak";
  const std::string before = ReadFileOrDie(sample);
  const std::optional<Pakfile> pak = OpenPakfile(sample, &error);
  ASSERT_TRUE(pak) << error.message;
  EXPECT_EQ(PakfilePath(*pak), sample);
  EXPECT_EQ(NodeCount(*pak), 79);
  ASSERT_EQ(BlockCount(*pak), 4);
  EXPECT_EQ(BlockId(*pak, 0), 100);
  EXPECT_EQ(BlockId(*pak, 3), 103);
  EXPECT_EQ(BlockId(*pak, 4), -1);
  EXPECT_EQ(BlockId(*pak, -1), -1);
  EXPECT_TRUE(BrokenTreeNodes(*pak).empty());

  const std::optional<Block> keeper = ReadBlock(*pak, 1, &error);
  ASSERT_TRUE(keeper) << error.message;
  EXPECT_EQ(keeper->id, 101);
  EXPECT_EQ(keeper->strings,
            (std::vector<std::string>{
                "Keeper: You came at last. The lamp went dark at dusk.|",
                "Keeper: Bring me oil from the cellar,\nand a match that is "
                "still dry.|",
                "|", "Keeper: Off you go, then.|"}));
  const std::optional<Block> empty = ReadBlock(*pak, 2, &error);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->strings.empty());
  EXPECT_TRUE(empty->complete);

  EXPECT_FALSE(ReadBlock(*pak, 4, &error));
  EXPECT_EQ(error.message, "block 4 is not in pakfile '" + sample +
                               "', which has blocks 0 to 3");
  EXPECT_FALSE(ReadBlock(*pak, -1, nullptr));
  EXPECT_EQ(ReadFileOrDie(sample), before);
}

TEST_F(LibraryTest, RandomPakfilesReadBackTheirStrings) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(seed);
    const RandomCase c = MakeRandomCase(seed, 1 + seed % 6, 0);
    Write("a.pak", c.bytes);
    const Pakfile pak = OpenOrDie("a.pak");
    EXPECT_EQ(NodeCount(pak), static_cast<int>(c.nodes.size()));
    EXPECT_EQ(ReadAll(pak), PlainOf(c.blocks));
  }
}

TEST_F(LibraryTest, OpeningFailsWithTheReason) {
  Error error;
  EXPECT_FALSE(OpenPakfile(Path("missing.pak"), &error));
  EXPECT_EQ(error.message, "cannot read pakfile " + Quoted("missing.pak") +
                               ": No such file or directory");
  EXPECT_FALSE(Exists("missing.pak"));  // never created

  // A block count of 0, whole or because the file ends before it.
  for (const std::string& bytes : {Unhex("03 00 41 02 FF FF 7C 02 FF FF 00 00 "
                                         "00 01 00 00"),
                                   std::string(), Unhex("05")}) {
    Write("none.pak", bytes);
    EXPECT_FALSE(OpenPakfile(Path("none.pak"), &error));
    EXPECT_EQ(error.message, "no blocks in pakfile " + Quoted("none.pak") +
                                 " (its block count is 0)");
  }
  std::filesystem::create_directory(Path("folder.pak"));
  EXPECT_FALSE(OpenPakfile(Path("folder.pak"), nullptr));
}

TEST_F(LibraryTest, AReadOnlyPakfileOpensAndReads) {
  const RandomCase c = MakeRandomCase(3, 3, 0);
  Write("a.pak", c.bytes);
  ASSERT_EQ(::chmod(Path("a.pak").c_str(), 0444), 0);
  EXPECT_EQ(ReadAll(OpenOrDie("a.pak")), PlainOf(c.blocks));
}

TEST_F(LibraryTest, DamagedBlocksAreReportedIncomplete) {
  const std::vector<TestBlock> blocks = {{7, {"ab|", "ba|"}},
                                         {8, {"aab|", "b|", "abba|"}}};
  const std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(blocks));
  std::string bytes = MakePakfile(nodes, blocks);
  // The last string's code ends in the file's last byte.
  bytes.pop_back();
  Write("a.pak", bytes);
  Pakfile pak = OpenOrDie("a.pak");
  Error error;
  std::optional<Block> block = ReadBlock(pak, 1, &error);
  ASSERT_TRUE(block);
  EXPECT_FALSE(block->complete);
  EXPECT_EQ(block->stored_count, 3);
  EXPECT_EQ(block->strings, (std::vector<std::string>{"aab|", "b|"}));

  // Written back only when released, and then as it stands.
  EXPECT_FALSE(ReplaceBlocks(&pak, 1, {*block}, &error));
  EXPECT_EQ(error.message,
            Quoted("a.pak") +
                " not changed: block 1 is marked incomplete (it was read "
                "damaged); set `complete` to write it as it stands");
  EXPECT_EQ(Read("a.pak"), bytes);
  block->complete = true;
  ASSERT_TRUE(ReplaceBlocks(&pak, 1, {*block}, &error)) << error.message;
  EXPECT_EQ(ReadAll(OpenOrDie("a.pak")),
            PlainOf({blocks[0], {8, {"aab|", "b|"}}}));
}

TEST_F(LibraryTest, EncodesAsTheTreeSays) {
  const RandomCase c = MakeRandomCase(5, 3, 0);
  Write("a.pak", c.bytes);
  const Pakfile pak = OpenOrDie("a.pak");
  Error error;
  for (const std::string& s : AllStrings(c.blocks)) {
    const std::optional<std::string> code = EncodeString(pak, s, &error);
    ASSERT_TRUE(code) << error.message;
    EXPECT_EQ(Hex(*code), Hex(EncodeTestString(c.nodes, s)));
    // Without its terminator: the same characters, no terminator code.
    const std::string bare = s.substr(0, s.size() - 1);
    ASSERT_TRUE(EncodeString(pak, bare, &error)) << error.message;
  }
  EXPECT_EQ(EncodeString(pak, "", &error), std::string());
}

TEST_F(LibraryTest, EncodingNamesTheFirstCharacterWithoutACode) {
  // a = 0, b = 10, '|' = 11.
  Write("a.pak", MakePakfile(BuildHuffmanTree({"ab|"}), {{1, {"ab|"}}}));
  const Pakfile pak = OpenOrDie("a.pak");
  Error error;
  EXPECT_FALSE(EncodeString(pak, "ab\xE9z|", &error));
  EXPECT_EQ(error.message,
            "byte 233 (character 3 of the text) has no code in the tree of "
            "pakfile " +
                Quoted("a.pak"));
  EXPECT_FALSE(EncodeString(pak, "aAb", &error));
  EXPECT_EQ(error.message.substr(0, 33), "byte 65 'A' (character 2 of the t");
  EXPECT_FALSE(EncodeString(pak, "a|b|", &error));
  EXPECT_EQ(error.message,
            "the text holds the terminator '|' as character 2 of 4; only the "
            "last may be '|'");
  EXPECT_FALSE(EncodeString(Pakfile{}, "a", nullptr));
}

TEST_F(LibraryTest, RoundTripsThroughEveryWriter) {
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(seed);
    const RandomCase c = MakeRandomCase(seed, 5, 3);
    Write("a.pak", c.bytes);
    Pakfile pak = OpenOrDie("a.pak");
    Error error;

    // Blocks 1 and 2 replaced: 0 stays, 3 and 4 move behind the new ones.
    std::vector<TestBlock> expected = c.blocks;
    expected[1] = c.spare[0];
    expected[2] = c.spare[1];
    ASSERT_TRUE(
        ReplaceBlocks(&pak, 1, ToBlocks({c.spare[0], c.spare[1]}), &error))
        << error.message;
    EXPECT_EQ(ReadAll(pak), PlainOf(expected));
    EXPECT_EQ(ReadAll(OpenOrDie("a.pak")), PlainOf(expected));

    expected.push_back(c.spare[2]);
    ASSERT_TRUE(AppendBlocks(&pak, ToBlocks({c.spare[2]}), &error))
        << error.message;
    EXPECT_EQ(ReadAll(OpenOrDie("a.pak")), PlainOf(expected));

    const std::vector<TestBlock> rebuilt = {c.spare[1], c.blocks[0]};
    ASSERT_TRUE(RebuildPakfile(&pak, ToBlocks(rebuilt), &error))
        << error.message;
    EXPECT_EQ(ReadAll(pak), PlainOf(rebuilt));
    EXPECT_EQ(ReadAll(OpenOrDie("a.pak")), PlainOf(rebuilt));
    // Never shortened: the old end of the file is still there.
    EXPECT_GE(Read("a.pak").size(), c.bytes.size());
  }
}

TEST_F(LibraryTest, MovedBlocksKeepTheirBytes) {
  const RandomCase c = MakeRandomCase(9, 4, 1);
  Write("a.pak", c.bytes);
  Pakfile pak = OpenOrDie("a.pak");
  std::vector<std::string> codes;
  for (const TestBlock& block : c.blocks) {
    codes.push_back(EncodeTestBlock(c.nodes, block.strings));
  }
  Error error;
  ASSERT_TRUE(ReplaceBlocks(&pak, 1, ToBlocks({c.spare[0]}), &error))
      << error.message;
  codes[1] = EncodeTestBlock(c.nodes, c.spare[0].strings);
  std::vector<TestBlock> ids = c.blocks;
  ids[1] = c.spare[0];
  // Exactly the layout the maker gives the new blocks, old tail aside.
  const std::string made = MakePakfile(c.nodes, ids);
  const std::string now = Read("a.pak");
  EXPECT_EQ(Hex(now.substr(0, made.size())), Hex(made));
  if (made.size() < c.bytes.size()) {
    EXPECT_EQ(now.substr(made.size()), c.bytes.substr(made.size()));
  }
}

TEST_F(LibraryTest, WritesWhatThePackingCommandsWrite) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    const RandomCase c = MakeRandomCase(seed, 4, 3);
    const std::vector<TestBlock> last_two = {c.spare[0], c.spare[1]};
    auto compare = [&](const std::string& command,
                       const std::vector<TestBlock>& text_blocks,
                       const std::function<bool(Pakfile*, Error*)>& write) {
      SCOPED_TRACE(command);
      Write("a.pak", c.bytes);
      Write("b.pak", c.bytes);
      Write("t.txt", TextOf(text_blocks));
      const RunResult run = Vorlex({"b.pak", "t.txt", command});
      ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
      Pakfile pak = OpenOrDie("a.pak");
      Error error;
      ASSERT_TRUE(write(&pak, &error)) << error.message;
      EXPECT_EQ(Hex(Read("a.pak")), Hex(Read("b.pak")));
    };
    compare("/R", last_two, [&](Pakfile* pak, Error* error) {
      return ReplaceBlocks(pak, 2, ToBlocks(last_two), error);
    });
    compare("/A", {c.spare[2]}, [&](Pakfile* pak, Error* error) {
      return AppendBlocks(pak, ToBlocks({c.spare[2]}), error);
    });
    compare("/P", last_two, [&](Pakfile* pak, Error* error) {
      return RebuildPakfile(pak, ToBlocks(last_two), error);
    });
  }
}

TEST_F(LibraryTest, AppendingTwoBlocksIsAddingTwice) {
  const RandomCase c = MakeRandomCase(4, 3, 2);
  Write("b.pak", c.bytes);
  for (const TestBlock& block : {c.spare[0], c.spare[1]}) {
    Write("t.txt", TextOf({block}));
    ASSERT_EQ(Vorlex({"b.pak", "t.txt", "/A"}).exit_status, 0);
  }
  Write("a.pak", c.bytes);
  Pakfile pak = OpenOrDie("a.pak");
  Error error;
  ASSERT_TRUE(AppendBlocks(&pak, ToBlocks({c.spare[0], c.spare[1]}), &error))
      << error.message;
  EXPECT_EQ(Hex(Read("a.pak")), Hex(Read("b.pak")));
}

// Every refused write leaves the file and the Pakfile as they were, with a
// message that names the pakfile and the first reason.
struct Refused {
  std::string name;
  std::function<bool(Pakfile*, std::vector<Block>*, Error*)> write;
  std::string reason;  // what follows "'<path>' not changed: "
};

TEST_F(LibraryTest, RefusedWritesChangeNothing) {
  const std::vector<TestBlock> blocks = {
      {10, {"ab|", "ba|"}}, {11, {"b|"}}, {12, {"aa|", "|", "bb|"}}};
  auto replace_all = [](Pakfile* pak, std::vector<Block>* b, Error* error) {
    return ReplaceBlocks(pak, 0, *b, error);
  };
  const std::vector<Refused> cases = {
      {"a byte without a code",
       [&](Pakfile* pak, std::vector<Block>* b, Error* error) {
         (*b)[2].strings[1] = "a\xE9|";
         return replace_all(pak, b, error);
       },
       "block 2, string 1: byte 233 (character 2) has no code in the "
       "pakfile's tree"},
      {"no terminator",
       [&](Pakfile* pak, std::vector<Block>* b, Error* error) {
         (*b)[1].strings[0] = "ab";
         return replace_all(pak, b, error);
       },
       "block 1, string 0 does not end with the terminator '|'"},
      {"a terminator inside",
       [&](Pakfile* pak, std::vector<Block>* b, Error* error) {
         (*b)[0].strings[1] = "a|b|";
         return RebuildPakfile(pak, *b, error);
       },
       "block 0, string 1 holds the terminator '|' as character 2 of 4; only "
       "the last may be '|'"},
      {"an ID too large",
       [&](Pakfile* pak, std::vector<Block>* b, Error* error) {
         (*b)[2].id = 65536;
         return replace_all(pak, b, error);
       },
       "block 2: the ID 65536 lies outside 0 to 65535"},
      {"a negative ID",
       [&](Pakfile* pak, std::vector<Block>* b, Error* error) {
         (*b)[0].id = -1;
         return AppendBlocks(pak, {(*b)[0]}, error);
       },
       "block 3: the ID -1 lies outside 0 to 65535"},
      {"blocks beyond the last",
       [&](Pakfile* pak, std::vector<Block>* b, Error* error) {
         return ReplaceBlocks(pak, 2, {(*b)[0], (*b)[1]}, error);
       },
       "blocks 2 to 3 are not all in the pakfile, which has blocks 0 to 2"},
      {"a negative first block",
       [&](Pakfile* pak, std::vector<Block>* b, Error* error) {
         return ReplaceBlocks(pak, -1, {(*b)[0]}, error);
       },
       "blocks -1 to -1 are not all in the pakfile, which has blocks 0 to 2"},
      {"no blocks at all",
       [&](Pakfile* pak, std::vector<Block>*, Error* error) {
         return RebuildPakfile(pak, {}, error);
       },
       "a pakfile needs at least one block"},
      {"too many strings",
       [&](Pakfile* pak, std::vector<Block>* b, Error* error) {
         (*b)[1].strings.assign(65536, "|");
         return replace_all(pak, b, error);
       },
       "block 1 holds 65536 strings; a block holds at most 65535"},
      {"a relative offset too large",
       [&](Pakfile* pak, std::vector<Block>* b, Error* error) {
         // 'a' and 'b' take 2 bits each here, so 270000 of them fill more
         // bytes than a relative offset can count.
         (*b)[2].strings = {std::string(270000, 'a') + "|", "b|"};
         return replace_all(pak, b, error);
       },
       "block 2, string 1 would start 67501 bytes into the block's bit "
       "data; a relative offset holds at most 65535"},
  };
  const std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(blocks));
  const std::string bytes = MakePakfile(nodes, blocks);
  for (const Refused& r : cases) {
    SCOPED_TRACE(r.name);
    Write("a.pak", bytes);
    Pakfile pak = OpenOrDie("a.pak");
    const auto data_before = pak.data;
    std::vector<Block> edited = ToBlocks(blocks);
    Error error;
    EXPECT_FALSE(r.write(&pak, &edited, &error));
    EXPECT_EQ(error.message, Quoted("a.pak") + " not changed: " + r.reason);
    EXPECT_EQ(Hex(Read("a.pak")), Hex(bytes));
    EXPECT_EQ(pak.data, data_before);
    EXPECT_EQ(ReadAll(pak), PlainOf(blocks));
    // The error may be left out.
    EXPECT_FALSE(r.write(&pak, &edited, nullptr));
  }
}

TEST_F(LibraryTest, AStringTheTreeCannotCarryIsRefused) {
  // a = 0, b = 10, '|' = 11, and the interior node 3 carries 'c': its path
  // "1" is a code, but decoding it reads on into the next character.
  std::vector<TreeNode> nodes = {{97, 4, 255, 255},
                                 {98, 3, 255, 255},
                                 {124, 3, 255, 255},
                                 {99, 4, 1, 2},
                                 {0, 0, 0, 3}};
  const std::string bytes = MakePakfile(nodes, {{1, {"ab|"}}});
  Write("a.pak", bytes);
  Pakfile pak = OpenOrDie("a.pak");
  Error error;
  ASSERT_TRUE(EncodeString(pak, "ac|", &error));
  EXPECT_FALSE(
      RebuildPakfile(&pak, {Block{.id = 1, .strings = {"ac|"}}}, &error));
  EXPECT_EQ(error.message,
            Quoted("a.pak") +
                " not changed: block 0, string 0 does not decode back to the "
                "text encoded; the pakfile's code tree cannot carry it");
  EXPECT_EQ(Read("a.pak"), bytes);
}

TEST_F(LibraryTest, RefusesAReadOnlyPakfile) {
  const RandomCase c = MakeRandomCase(2, 2, 1);
  Write("a.pak", c.bytes);
  ASSERT_EQ(::chmod(Path("a.pak").c_str(), 0444), 0);
  Pakfile pak = OpenOrDie("a.pak");
  Error error;
  EXPECT_FALSE(AppendBlocks(&pak, ToBlocks({c.spare[0]}), &error));
  EXPECT_EQ(error.message, Quoted("a.pak") + " not changed: " + Path("a.pak") +
                               " is read-only");
  EXPECT_EQ(Read("a.pak"), c.bytes);
  // A write that changes no byte has nothing to refuse.
  EXPECT_TRUE(ReplaceBlocks(&pak, 0, ToBlocks({c.blocks[0]}), &error));
  EXPECT_TRUE(ReplaceBlocks(&pak, 2, {}, &error));
  EXPECT_FALSE(ReplaceBlocks(&pak, 3, {}, &error));
}

TEST_F(LibraryTest, AFileChangedSinceItWasOpenedIsNotOverwritten) {
  const RandomCase c = MakeRandomCase(6, 2, 2);
  Write("a.pak", c.bytes);
  Pakfile pak = OpenOrDie("a.pak");
  Pakfile stale = pak;
  Error error;
  ASSERT_TRUE(ReplaceBlocks(&pak, 1, ToBlocks({c.spare[0]}), &error))
      << error.message;
  const std::string written = Read("a.pak");

  EXPECT_FALSE(ReplaceBlocks(&stale, 0, ToBlocks({c.spare[1]}), &error));
  EXPECT_EQ(error.message,
            Quoted("a.pak") +
                " not changed: it changed since it was opened; open it again");
  EXPECT_EQ(Read("a.pak"), written);
  EXPECT_EQ(ReadAll(stale), PlainOf(c.blocks));  // the copy keeps what it read

  Write("a.pak", c.bytes);  // changed by someone else
  EXPECT_FALSE(AppendBlocks(&pak, ToBlocks({c.spare[1]}), &error));
  EXPECT_EQ(Read("a.pak"), c.bytes);
}

TEST_F(LibraryTest, AFailedReplaceLeavesTheOldFile) {
  const RandomCase c = MakeRandomCase(8, 3, 1);
  for (const bool fail_rename : {true, false}) {
    SCOPED_TRACE(fail_rename);
    Write("a.pak", c.bytes);
    Pakfile pak = OpenOrDie("a.pak");
    FileLayer layer = SystemFileLayer();
    if (fail_rename) {
      layer.rename = [](const char*, const char*) {
        errno = EIO;
        return -1;
      };
    } else {
      layer.fsync = [](int) {
        errno = EIO;
        return -1;
      };
    }
    Files() = layer;
    Error error;
    EXPECT_FALSE(AppendBlocks(&pak, ToBlocks({c.spare[0]}), &error));
    Files() = SystemFileLayer();
    EXPECT_NE(error.message.find("Input/output error"), std::string::npos)
        << error.message;
    EXPECT_EQ(Read("a.pak"), c.bytes);
    EXPECT_EQ(ReadAll(pak), PlainOf(c.blocks));
    // No temporary file is left beside it.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      (void)entry;
      ++files;
    }
    EXPECT_EQ(files, 1);
  }
}

TEST_F(LibraryTest, BlocksThatCannotMoveAreRefused) {
  const std::vector<TestBlock> blocks = {
      {1, {"ab|"}}, {2, {"ba|"}}, {3, {"aab|"}}};
  const std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(blocks));
  std::string bytes = MakePakfile(nodes, blocks);
  // Block 2's Offset before block 1's.
  const size_t entry2 = 4 + 4 * nodes.size() + 6 * 2 + 2;
  const size_t entry1 = entry2 - 6;
  bytes[entry2] = static_cast<char>(bytes[entry1] - 1);
  Write("a.pak", bytes);
  Pakfile pak = OpenOrDie("a.pak");
  Error error;
  EXPECT_FALSE(
      ReplaceBlocks(&pak, 0, {Block{.id = 1, .strings = {"b|"}}}, &error));
  EXPECT_NE(error.message.find("block 2 starts at offset"), std::string::npos)
      << error.message;
  EXPECT_NE(error.message.find("so it cannot be moved"), std::string::npos);
  EXPECT_EQ(Read("a.pak"), bytes);
}

TEST_F(LibraryTest, APakfileNotOpenHasNothing) {
  Pakfile none;
  Error error;
  EXPECT_EQ(PakfilePath(none), "");
  EXPECT_EQ(NodeCount(none), 0);
  EXPECT_EQ(BlockCount(none), 0);
  EXPECT_EQ(BlockId(none, 0), -1);
  EXPECT_TRUE(BrokenTreeNodes(none).empty());
  EXPECT_FALSE(ReadBlock(none, 0, &error));
  EXPECT_EQ(error.message, "block 0 is not in a pakfile that is not open");
  EXPECT_FALSE(ReplaceBlocks(&none, 0, {Block{}}, &error));
  EXPECT_EQ(error.message, "no pakfile is open");
  EXPECT_FALSE(AppendBlocks(&none, {}, nullptr));
  EXPECT_FALSE(RebuildPakfile(nullptr, {Block{}}, nullptr));
}

TEST_F(LibraryTest, ADamagedTreeIsReported) {
  // Node 1 names node 2 as its parent, which does not name it as a child.
  Write("a.pak", Unhex("03 00  41 02 FF FF  7C 02 FF FF  00 00 00 00  01 00 "
                       "07 00 16 00 00 00  01 00 00 00 40"));
  const Pakfile pak = OpenOrDie("a.pak");
  EXPECT_EQ(BrokenTreeNodes(pak), std::vector<int>{1});
  Error error;
  EXPECT_FALSE(EncodeString(pak, "A|", &error));
  EXPECT_NE(error.message.find("byte 124 '|' (character 2"), std::string::npos)
      << error.message;
}

}  // namespace
}  // namespace vorlex::testing
