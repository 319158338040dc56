// The library interface: reading, encoding, and writes that lay blocks out as
// the packing commands do or leave the pakfile exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "lib/open_through.h"
#include "support/command_test.h"
#include "support/faulty_files.h"
#include "support/pak_maker.h"
#include "vorlex/vorlex.h"

namespace vorlex::testing {
using ::vorlex::core::TreeNode;
using namespace ::vorlex::core::testing;
namespace {

// Blocks as the text file shows them, for comparing.
template <typename B>
std::string Text(const std::vector<B>& blocks) {
  std::string text;
  for (size_t b = 0; b < blocks.size(); ++b) {
    text += ExpectedBlockSection(b, {blocks[b].id, blocks[b].strings});
  }
  return text;
}

// Every block of `pak`, each expected to be read whole.
std::string ReadAll(const Pakfile& pak) {
  std::vector<Block> blocks;
  for (int b = 0; b < BlockCount(pak); ++b) {
    blocks.push_back(ReadBlock(pak, b, nullptr).value_or(Block{-1, {}, 0, 0}));
    EXPECT_TRUE(blocks.back().complete) << b;
    EXPECT_EQ(blocks.back().stored_count, std::ssize(blocks.back().strings));
  }
  return Text(blocks);
}

// The library's counterpart of a packing command.
bool Apply(std::string_view a_switch, Pakfile* pak, int first,
           const std::vector<Block>& blocks, Error* error) {
  if (a_switch == "/A") return AppendBlocks(pak, blocks, error);
  if (a_switch == "/P") return RebuildPakfile(pak, blocks, error);
  return ReplaceBlocks(pak, first, blocks, error);
}

// Characters a (2 bits), b (2 bits) and '|' (1 bit); block 1 is empty.
const std::vector<TestBlock> kBlocks = {
    {10, {"ab|", "ba|"}}, {11, {}}, {12, {"b|"}}, {13, {"aa|", "|", "bb|"}}};

class LibraryTest : public CommandTest {
 protected:
  Pakfile Make(const std::string& bytes) {
    Write("a.pak", bytes);
    Error error;
    std::optional<Pakfile> pak = OpenPakfile(Path("a.pak"), &error);
    EXPECT_TRUE(pak) << error.message;
    return pak.value_or(Pakfile{});
  }
  // "'<path of name>'".
  std::string Quoted(std::string_view name) const {
    return std::string(1, '\'').append(Path(name)).append(1, '\'');
  }
};

// Reading gives the maker's blocks and codes. Each write lays the blocks out
// as the commands do, moving the blocks after the replaced ones with their
// bytes; the old end of a longer file stays, and a copy keeps what it read.
TEST_F(LibraryTest, ReadsAndWritesAsTheCommandsDo) {
  const std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(kBlocks));
  const std::string bytes = MakePakfile(nodes, kBlocks);
  const Pakfile read = Make(bytes);
  EXPECT_EQ(PakfilePath(read), Path("a.pak"));
  EXPECT_EQ(NodeCount(read), std::ssize(nodes));
  EXPECT_EQ(ReadAll(read), Text(kBlocks));
  EXPECT_EQ(Hex(EncodeString(read, "bab|", nullptr).value_or("?")),
            Hex(EncodeTestString(nodes, "bab|")));
  EXPECT_TRUE(EncodeString(read, "ba", nullptr));
  EXPECT_EQ(EncodeString(read, "", nullptr), std::string());
  // clang-format off
  const struct {
    const char* a_switch;
    int first;
    std::vector<Block> blocks;
    std::vector<TestBlock> expected;
  } cases[] = {
      {"/R", 1, {{14, {"bab|", "|"}}, {15, {}}},
       {kBlocks[0], {14, {"bab|", "|"}}, {15, {}}, kBlocks[3]}},
      {"/A", 0, {{14, {"b|"}}, {15, {}}},
       {kBlocks[0], kBlocks[1], kBlocks[2], kBlocks[3], {14, {"b|"}}, {15, {}}}},
      {"/P", 0, {{15, {"a|"}}}, {{15, {"a|"}}}}};
  // clang-format on
  for (const auto& [a_switch, first, blocks, expected] : cases) {
    SCOPED_TRACE(a_switch);
    Pakfile pak = Make(bytes);
    const Pakfile copy = pak;
    Error error;
    EXPECT_TRUE(Apply(a_switch, &pak, first, blocks, &error)) << error.message;
    const std::string made = MakePakfile(nodes, expected);
    EXPECT_EQ(Hex(Read("a.pak")),
              Hex(made + bytes.substr(std::min(made.size(), bytes.size()))));
    EXPECT_EQ(ReadAll(pak), Text(expected));
    EXPECT_EQ(ReadAll(copy), Text(kBlocks));
  }
}

TEST_F(LibraryTest, ReadingAndItsFailures) {
  Error error;
  EXPECT_FALSE(OpenPakfile(Path("none.pak"), &error));
  EXPECT_EQ(error.message, "cannot read pakfile " + Quoted("none.pak") +
                               ": No such file or directory");
  EXPECT_FALSE(Exists("none.pak"));  // never created
  // A file that ends before its block count has a count of 0 too.
  Write("none.pak", Unhex("03 00 41 02 FF FF 7C 02 FF FF"));
  EXPECT_FALSE(OpenPakfile(Path("none.pak"), &error));
  EXPECT_EQ(error.message, "no blocks in pakfile " + Quoted("none.pak") +
                               " (its block count is 0)");

  // A read-only pakfile whose one block, ID 7, counts a string it does not
  // hold; node 1 ('|') names node 2 as its parent, which does not name it.
  Write("a.pak", Unhex("03 00  41 02 FF FF  7C 02 FF FF  00 00 00 00  01 00 "
                       "07 00 16 00 00 00  01 00 00 00"));
  ::chmod(Path("a.pak").c_str(), 0444);
  Pakfile pak = OpenPakfile(Path("a.pak"), nullptr).value_or(Pakfile{});
  Block block = ReadBlock(pak, 0, nullptr).value_or(Block{});
  EXPECT_EQ(std::tie(block.id, block.stored_count, block.complete),
            std::tuple(7, 1, false));
  EXPECT_TRUE(block.strings.empty());
  EXPECT_EQ(BrokenTreeNodes(pak), std::vector<int>{1});
  EXPECT_EQ(BlockId(pak, 1) + BlockId(pak, -1), -2);
  EXPECT_FALSE(ReadBlock(pak, 1, &error));
  EXPECT_EQ(error.message, "block 1 is not in pakfile " + Quoted("a.pak") +
                               ", which has blocks 0 to 0");
  EXPECT_FALSE(ReadBlock(pak, -1, nullptr));
  EXPECT_FALSE(EncodeString(pak, "A|", &error));
  EXPECT_EQ(error.message,
            "byte 124 '|' (character 2 of the text) has no code in the tree "
            "of pakfile " +
                Quoted("a.pak"));
  // The sample has no leaf for byte 0; interior node 40 carries it.
  const std::string sample = VORLEX_SOURCE_DIR "/examples/sample.pak";
  const Pakfile shipped = OpenPakfile(sample, nullptr).value_or(Pakfile{});
  EXPECT_FALSE(EncodeString(shipped, std::string("A\0B|", 4), &error));
  EXPECT_EQ(error.message,
            "byte 0 (character 2 of the text) has no code in the tree of "
            "pakfile '" +
                sample + "': the node that carries it, 40, is not a leaf");
  EXPECT_FALSE(EncodeString(pak, "a|b|", &error));
  EXPECT_EQ(error.message,
            "the text holds the terminator '|' as character 2 of 4; only the "
            "last may be '|'");
  // The damaged block is written back when released (see the refusals), as it
  // stands; then writing it again changes no byte and needs no permission.
  ::chmod(Path("a.pak").c_str(), 0644);
  block.complete = true;
  EXPECT_TRUE(ReplaceBlocks(&pak, 0, {block}, &error)) << error.message;
  EXPECT_EQ(ReadAll(pak), Text(std::vector<TestBlock>{{7, {}}}));
  ::chmod(Path("a.pak").c_str(), 0444);
  EXPECT_TRUE(ReplaceBlocks(&pak, 0, {block}, &error)) << error.message;
  EXPECT_TRUE(ReplaceBlocks(&pak, 1, {}, &error) &&
              AppendBlocks(&pak, {}, &error));
  EXPECT_FALSE(ReplaceBlocks(&pak, 2, {}, nullptr));

  // A Pakfile not open has nothing, and nothing is written through it.
  Pakfile none;
  EXPECT_TRUE(PakfilePath(none).empty() && BrokenTreeNodes(none).empty());
  EXPECT_EQ(NodeCount(none) + BlockCount(none) + BlockId(none, 0), -1);
  EXPECT_FALSE(EncodeString(none, "a", nullptr) || ReadBlock(none, 0, &error));
  EXPECT_EQ(error.message, "block 0 is not in a pakfile that is not open");
  EXPECT_FALSE(ReplaceBlocks(&none, 0, {Block{}}, &error));
  EXPECT_EQ(error.message, "no pakfile is open");
  EXPECT_FALSE(AppendBlocks(&none, {}, nullptr) ||
               RebuildPakfile(nullptr, {Block{}}, nullptr));
}

// Every refused write leaves the file and the Pakfile as they were, leaves
// no other file, and names the pakfile and the first reason.
TEST_F(LibraryTest, RefusedWritesChangeNothing) {
  const std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(kBlocks));
  const std::string bytes = MakePakfile(nodes, kBlocks);
  Write("a.pak", bytes);
  // Block 2 starting one byte before block 1.
  std::string disordered = bytes;
  const size_t entry1 = 4 + 4 * nodes.size() + 6 + 2;
  const int at = static_cast<uint8_t>(bytes[entry1]);
  disordered[entry1 + 6] = static_cast<char>(at - 1);
  struct Refusal {
    const char* a_switch;
    int first;
    std::vector<Block> blocks;
    std::string reason;  // what follows "'<path>' not changed: "
    std::function<void(Pakfile*)> prepare = nullptr;
  };
  // clang-format off
  const Refusal cases[] = {
      {"/R", 3, {{13, {"aa|", "a\xE9|"}}}, "block 3: byte 233 (character 2 "
       "of string 1) has no code in the pakfile's tree"},
      {"/R", 2, {{12, {"ab"}}},
       "block 2: string 0 does not end with the terminator '|'"},
      {"/P", 0, {{10, {"ab|", "a|b|"}}}, "block 0: string 1 holds the "
       "terminator '|' as character 2 of 4; only the last may be '|'"},
      {"/R", 3, {{1, {}}, {2, {}}},
       "blocks 3 to 4 are not all in the pakfile, which has blocks 0 to 3"},
      {"/R", -1, {{1, {}}},
       "blocks -1 to -1 are not all in the pakfile, which has blocks 0 to 3"},
      {"/P", 0, {}, "a pakfile needs at least one block"},
      {"/R", 1, {{11, {}, 0, false}}, "block 1 is marked incomplete (it was "
       "read damaged); set `complete` to write it as it stands"},
      {"/R", 0, {{1, {"b|"}}}, "block 2 starts at offset " +
       std::to_string(at - 1) + ", before the block ahead of it (" +
       std::to_string(at) + "), so it cannot be moved",
       [&](Pakfile* pak) { *pak = Make(disordered); }},
      {"/A", 0, {{14, {}}}, Path("a.pak") + " is read-only",
       [&](Pakfile*) { ::chmod(Path("a.pak").c_str(), 0444); }},
      {"/A", 0, {{14, {}}}, "it changed since it was opened; open it again",
       [&](Pakfile*) { Write("a.pak", bytes + "x"); }},
#if !VORLEX_SHARED_LIBRARY  // which exports no way to the file layer
      {"/A", 0, {{14, {}}}, "writing the new " +
       std::filesystem::canonical(Path("a.pak")).string() +
       " failed: Input/output error", [&](Pakfile* pak) {
         auto files = std::make_shared<FaultyFiles>();
         files->FailEvery(FaultyFiles::kRename);
         *pak = OpenPakfileThrough(files, Path("a.pak"), nullptr).value();
       }},
#endif
  };
  // clang-format on
  for (const auto& [a_switch, first, blocks, reason, prepare] : cases) {
    SCOPED_TRACE(reason);
    ::chmod(Path("a.pak").c_str(), 0644);
    Pakfile pak = Make(bytes);
    if (prepare) prepare(&pak);
    const std::string before = Read("a.pak");
    const auto data = pak.data;
    Error error;
    EXPECT_FALSE(Apply(a_switch, &pak, first, blocks, &error));
    EXPECT_EQ(error.message, Quoted("a.pak") + " not changed: " + reason);
    EXPECT_FALSE(Apply(a_switch, &pak, first, blocks, nullptr));
    EXPECT_EQ(Hex(Read("a.pak")), Hex(before));
    EXPECT_EQ(pak.data, data);
    EXPECT_EQ(Files(), 1);
  }
}

}  // namespace
}  // namespace vorlex::testing
