// Every field limit of packing, exactly at its maximum and one past it: the
// string count and a relative offset (the block encoder), the ID, the block
// count, a three-byte Offset and the add step's four-byte Offsets (the image
// builder).
#include "pack/image_builder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "extract/worked_examples.h"

namespace vorlex::core::testing {
namespace {

// The first problem EncodeBlock finds in `strings` (indexes 0, 1, ...) under
// `count`, with FiveNodeTree (a = 0, b = 10, '|' = 11).
std::string EncodeProblem(int64_t count,
                          const std::vector<std::string>& texts) {
  const CodeTree tree = MakeCodeTree(FiveNodeTree());
  const CodeTable codes = BuildCodeTable(tree);
  std::vector<BlockString> strings;
  for (size_t k = 0; k < texts.size(); ++k) {
    strings.push_back({.index = static_cast<int64_t>(k), .text = texts[k]});
  }
  std::string out = "x";
  std::vector<BlockProblem> problems;
  const BlockDecoder decoder(tree);
  const bool ok = EncodeBlock(
      count, strings, {.codes = codes, .decoder = decoder}, &out, &problems);
  EXPECT_EQ(ok, problems.empty());
  EXPECT_TRUE(ok || out == "x");  // nothing of a refused block is kept
  return ok ? "" : problems.front().what;
}

// A pakfile of `blocks` empty blocks with the three-node tree, loaded.
LoadedPak EmptyBlocks(int blocks) {
  return LoadPak(MakePakfile(ThreeNodeTree(), std::vector<TestBlock>(blocks)));
}

// Builds the image of `blocks`, begun as a rebuild of one block (`first` -1)
// or as the replacement of block `first`, and grown to `fill` bytes before
// the blocks; the reason if refused.
std::string Build(const LoadedPak& pak, const std::vector<NewBlock>& blocks,
                  int64_t first, int64_t fill = 0) {
  const CodeTable codes = BuildCodeTable(pak.tree);
  const BlockDecoder decoder(pak.tree);
  ImageBuilder builder;
  std::string why;
  const bool started = first < 0 ? builder.StartRebuild(pak, 1, &why)
                                 : builder.StartReplace(pak, first, 1, &why);
  if (fill > 0) builder.image()->resize(static_cast<size_t>(fill));
  const BlockCoder coder = {.codes = codes, .decoder = decoder};
  return started && BuildBlocks(&builder, blocks, coder, &why) ? "" : why;
}

std::string WithId(int64_t id) {
  return Build(EmptyBlocks(1), {{.id = id, .strings = {}}}, 0);
}

// The add step on `blocks` blocks, block 1 at `offset` unless it is 0.
std::string AddAfterOffset(int blocks, int64_t offset) {
  LoadedPak pak = EmptyBlocks(blocks);
  if (offset != 0) pak.directory[1].offset = offset;
  std::string why;
  return CanAddBlock(pak, &why) ? "" : why;
}

// Each limit is accepted at its maximum and refused one past it.
TEST(FieldLimitTest, AtEachMaximumAndOnePast) {
  const struct {
    const char* name;
    std::function<std::string(int64_t)> problem;  // empty when accepted
    int64_t most;
    const char* refusal;
  } edges[] = {
      {"strings",
       [](int64_t n) {
         return EncodeProblem(n, std::vector<std::string>(n, "|"));
       },
       65535, "a string count of 65536; a block holds at most 65535 strings"},
      {"relative offset",
       // 'a' is one bit: n of them and '|' take (n + 2) / 8 bytes.
       [](int64_t at) {
         return EncodeProblem(
             2,
             {std::string(static_cast<size_t>(at * 8 - 2), 'a') + "|", "b|"});
       },
       65535,
       "string 1 starts 65536 bytes into the block's bit data; a relative "
       "offset holds at most 65535"},
      // Block 1 of two moved to `at` (past the file's end: the replaced
      // block is written there, zeros before it).
      {"replace at",
       [](int64_t at) {
         LoadedPak pak = EmptyBlocks(2);
         pak.directory[1].offset = at;
         return Build(pak, {{.id = 1, .strings = {"A|"}}}, 1);
       },
       16777215,
       "block 1 would start at offset 16777216; a directory entry holds "
       "offsets up to 16,777,215"},
      {"rebuild at",
       [](int64_t at) {
         return Build(EmptyBlocks(1), {{.id = 1, .strings = {}}}, -1, at);
       },
       16777215, "block 0 would start at offset 16777216"},
      {"ID", WithId, 65535, "block 0: an ID of 65536; an ID holds 0 to 65535"},
      {"blocks",
       [](int64_t n) {
         std::string why;
         return ImageBuilder().StartRebuild(EmptyBlocks(1), n, &why) ? "" : why;
       },
       65535, "65536 blocks; a pakfile holds at most 65535 blocks"},
      {"add to", [](int64_t n) { return AddAfterOffset(n, 0); }, 65534,
       "the pakfile already has 65535 blocks"},
      {"moved to", [](int64_t at) { return AddAfterOffset(2, at); },
       4294967289,  // block 1 then ends at 2^32 - 1
       "block 1 would move to offset 4294967296; an offset holds at most "
       "4,294,967,295"}};
  for (const auto& [name, problem, most, refusal] : edges) {
    SCOPED_TRACE(name);
    EXPECT_EQ(problem(most), "");
    const std::string why = problem(most + 1);
    EXPECT_NE(why.find(refusal), std::string::npos) << why;
  }
  EXPECT_NE(WithId(-1).find("an ID of -1"), std::string::npos);
}

}  // namespace
}  // namespace vorlex::core::testing
