// Extracting a pakfile and packing the text back gives the same bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "pack/pack_commands.h"
#include "pack/pack_fixtures.h"

namespace vorlex::testing {
namespace {

// A random pakfile as the pak command lays it out, with empty blocks and
// strings that are only a terminator among its blocks now and then.
struct RandomPak {
  std::vector<TreeNode> nodes;
  std::vector<TestBlock> blocks;
  std::string bytes;
};

RandomPak MakeRandomPak(uint32_t seed) {
  std::mt19937 random(seed);
  RandomPak pak;
  const int block_count = 1 + static_cast<int>(random() % 6);
  const int strings = static_cast<int>(random() % 30);
  const std::string_view alphabets[] = {kDefaultAlphabet, "ab", "a b\n",
                                        "xyz0123456789 "};
  pak.blocks = RandomBlocks(seed, block_count, strings,
                            alphabets[random() % std::size(alphabets)],
                            static_cast<int>(1 + random() % 90));
  if (random() % 3 == 0) {
    pak.blocks.insert(pak.blocks.begin() + random() % pak.blocks.size(),
                      TestBlock{static_cast<int32_t>(random() % 65536), {}});
  }
  pak.nodes = BuildHuffmanTree(AllStrings(pak.blocks));
  if (random() % 2 == 0) pak.nodes = RenumberTree(pak.nodes, random());
  pak.bytes = MakePakfile(pak.nodes, pak.blocks);
  return pak;
}

class RoundTripTest : public CommandTest {};

TEST_F(RoundTripTest, PackingTheExtractedTextGivesTheSamePakfile) {
  // The text as extraction writes it, made apart from the extract commands.
  for (uint32_t seed = 0; seed < 40; ++seed) {
    SCOPED_TRACE(seed);
    const RandomPak pak = MakeRandomPak(seed);
    Write("a.pak", pak.bytes);
    Write("t.txt",
          ExpectedExtractText("a.pak", static_cast<int>(pak.nodes.size()),
                              pak.blocks));
    const InProcessRun run =
        RunInProcess(RebuildPak, Path("a.pak"), Path("t.txt"));
    ASSERT_FALSE(run.error_reported) << run.out << run.err;
    ASSERT_EQ(Hex(Read("a.pak")), Hex(pak.bytes));
  }
}

TEST_F(RoundTripTest, ExtractThenPakOnACopy) {
  for (uint32_t seed = 100; seed < 110; ++seed) {
    SCOPED_TRACE(seed);
    const RandomPak pak = MakeRandomPak(seed);
    Write("a.pak", pak.bytes);
    ASSERT_EQ(Vorlex({"a.pak", "t.txt", "/E"}).exit_status, 0);
    Write("copy.pak", pak.bytes);
    const RunResult run = Vorlex({"copy.pak", "t.txt", "/P"});
    EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
    EXPECT_EQ(Hex(Read("copy.pak")), Hex(pak.bytes));
  }
}

TEST_F(RoundTripTest, ExtractLastThenReplaceFromEveryBlock) {
  const RandomPak pak = MakeRandomPak(7);
  for (size_t first = 0; first < pak.blocks.size(); ++first) {
    SCOPED_TRACE(first);
    Write("a.pak", pak.bytes);
    ASSERT_EQ(
        Vorlex({"a.pak", "t.txt", "/L", std::to_string(first)}).exit_status, 0);
    const RunResult run = Vorlex({"a.pak", "t.txt", "/R"});
    EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
    EXPECT_EQ(Hex(Read("a.pak")), Hex(pak.bytes));
  }
}

TEST_F(RoundTripTest, TheSample) {
  const std::string sample =
      std::string(VORLEX_SOURCE_DIR) + "/examples/sample.pak";
  if (!std::filesystem::exists(sample)) GTEST_SKIP() << "no " << sample;
  const std::string bytes = ReadFileOrDie(sample);
  Write("sample.pak", bytes);
  ASSERT_EQ(Vorlex({"sample.pak", "sample.txt", "/E"}).exit_status, 0);
  Write("copy.pak", bytes);
  const RunResult run = Vorlex({"copy.pak", "sample.txt", "/P"});
  EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
  EXPECT_EQ(Hex(Read("copy.pak")), Hex(bytes));
}

}  // namespace
}  // namespace vorlex::testing
