#include "extract/extract_block.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "extract/text_writer.h"
#include "extract/worked_examples.h"
#include "support/command_test.h"
#include "support/pak_maker.h"

namespace vorlex::testing {
namespace {

using std::string_literals::operator""s;

// A loaded pakfile whose directory is then set by hand.
LoadedPak WithOffsets(std::string bytes, const std::vector<int64_t>& offsets) {
  LoadedPak pak = LoadTestPak(std::move(bytes));
  pak.directory.clear();
  for (int64_t offset : offsets) {
    pak.directory.push_back(BlockEntry{.id = 9, .offset = offset});
  }
  pak.header.block_count = static_cast<int32_t>(offsets.size());
  return pak;
}

std::string Bytes(const LoadedPak& pak, size_t block) {
  std::string scratch;
  return std::string(BlockBytes(pak, block, &scratch));
}

TEST(BlockBytesTest, BlocksRunToTheNextOffsetAndTheLastToTheEndOfTheFile) {
  const LoadedPak pak = WithOffsets("0123456789", {2, 5, 5, 8});
  EXPECT_EQ(Bytes(pak, 0), "234");
  EXPECT_EQ(Bytes(pak, 1), "");
  EXPECT_EQ(Bytes(pak, 2), "567");
  EXPECT_EQ(Bytes(pak, 3), "89");
  EXPECT_EQ(BlockLength(pak, 3), 2);
}

TEST(BlockBytesTest, OffsetsThatDoNotRiseGiveEmptyBlocks) {
  const LoadedPak pak = WithOffsets("0123456789", {6, 3, 12});
  EXPECT_EQ(BlockLength(pak, 0), -3);
  EXPECT_EQ(Bytes(pak, 0), "");
  EXPECT_EQ(Bytes(pak, 1), "3456789\0\0"s);
  // The last block starts past the end of the file.
  EXPECT_EQ(BlockLength(pak, 2), -2);
  EXPECT_EQ(Bytes(pak, 2), "");
}

TEST(BlockBytesTest, BytesPastTheEndOfTheFileReadAsZero) {
  const LoadedPak pak =
      WithOffsets(Unhex("00 00 00 00  02 00 00 00 01 00 58"), {4, 14});
  EXPECT_EQ(Hex(Bytes(pak, 0)), "02 00 00 00 01 00 58 00 00 00");
}

TEST(BlockBytesTest, NegativeOffsetReadsAsAnEmptyBlock) {
  // An Offset of 2^31 or more loads as INT32_MIN: the block's first bytes lie
  // before the file, so its count is 0, and nothing of its two gigabytes is
  // kept.
  const LoadedPak pak = WithOffsets("\x05\x00\x01\x02\x03"s, {INT32_MIN});
  EXPECT_EQ(BlockLength(pak, 0), int64_t{5} - INT32_MIN);
  EXPECT_EQ(Hex(Bytes(pak, 0)), "00 00");
  // One byte before the file: the count's high byte is the file's first.
  const LoadedPak one_before = WithOffsets("\x01\x00\x40"s, {-1, 3});
  EXPECT_EQ(Hex(Bytes(one_before, 0)), "00 01 00 40");
}

TEST(BlockBytesTest, BlockReachingFarPastTheEndKeepsOnlyWhatDecodingUses) {
  // '|' = 0: zero bytes past the end still finish strings, one per byte.
  const std::vector<TreeNode> nodes = ZeroIsTerminatorTree();
  std::string block = EncodeTestBlock(nodes, {"A|", "AA|", "|", "|", "|"});
  block.resize(block.size() - 3);  // the last three strings are zero bytes
  std::string pak = MakePakfileFromBlockBytes(nodes, {block, ""});
  const int64_t far = int64_t{1} << 30;
  pak.replace(4 + 4 * 3 + 6 + 2, 4, Unhex("00 00 00 40"));  // block 1: 2^30
  const LoadedPak loaded = LoadTestPak(pak);
  ASSERT_EQ(loaded.directory[1].offset, far);

  std::string scratch;
  const std::string_view bytes = BlockBytes(loaded, 0, &scratch);
  EXPECT_LE(bytes.size(), block.size() + 258 * 6u);
  std::string text;
  const DecodedBlock decoded = ExtractBlock(loaded, 0, &text);
  EXPECT_EQ(decoded.text, "A|AA||||");
  EXPECT_EQ(decoded.StringsDecoded(), 5u);
}

TEST(BlockBytesTest, ZerosThatNeverEndAStringAreCutShort) {
  // A = 0: zero bytes never finish a string. The block claims 65535 strings
  // and runs to 2^31 - 1; it is cut to its bytes and the zeros that could
  // still matter, and decodes nothing.
  std::string pak = ThreeNodePak();
  pak.replace(22, 2, Unhex("FF FF"));
  pak.replace(16 + 2, 4, Unhex("16 00 00 00"));
  pak += Unhex("00 00 00 00 00 00");
  LoadedPak loaded = LoadTestPak(pak);
  loaded.directory.push_back(BlockEntry{.offset = INT32_MAX});
  std::string scratch;
  const std::string_view bytes = BlockBytes(loaded, 0, &scratch);
  EXPECT_LE(bytes.size(), 2 + 2 * 65535u + 2 * 258u);
  std::string text;
  const DecodedBlock decoded = ExtractBlock(loaded, 0, &text);
  EXPECT_EQ(decoded.string_count, 65535);
  EXPECT_EQ(decoded.StringsDecoded(), 0u);
}

TEST(BlockBytesTest, CutBlocksDecodeAsTheirWholeZeroExtendedBytes) {
  std::mt19937 random(3);
  for (int round = 0; round < 300; ++round) {
    // Small trees rich in terminators, so that zeros often end strings.
    std::vector<TreeNode> nodes(1 + random() % 12);
    for (TreeNode& node : nodes) {
      auto link = [&] {
        return random() % 3 == 0
                   ? 255
                   : static_cast<int>(random() % (nodes.size() + 2));
      };
      node = {random() % 2 == 0 ? '|' : 'a' + static_cast<int>(random() % 3), 0,
              link(), link()};
    }
    std::string block;
    block.push_back(static_cast<char>(random() % 40));
    block.push_back(random() % 8 == 0 ? '\x01' : '\0');
    for (size_t i = random() % 30; i > 0; --i) {
      block.push_back(static_cast<char>(random() % 4 == 0 ? 0 : random()));
    }
    const int64_t length =
        static_cast<int64_t>(block.size()) + random() % 20000;
    LoadedPak pak = WithOffsets(block, {0, length});
    pak.tree = MakeCodeTree(nodes);
    std::string whole = block;
    whole.resize(static_cast<size_t>(length), '\0');

    std::string scratch;
    const std::string_view kept = BlockBytes(pak, 0, &scratch);
    EXPECT_LE(kept.size(), whole.size());
    EXPECT_EQ(kept, std::string_view(whole).substr(0, kept.size()));
    const DecodedBlock expected = DecodeBlock(whole, pak.tree);
    const DecodedBlock decoded = DecodeBlock(kept, pak.tree);
    EXPECT_EQ(decoded.text, expected.text) << "round " << round;
    EXPECT_EQ(decoded.ends, expected.ends) << "round " << round;
  }
}

TEST(TextWriterTest, FileHeaderLines) {
  std::string text;
  AppendFileHeader("../some dir/demo.pak", 61, 2, &text);
  AppendFileHeader("x", 0, -3, &text);
  EXPECT_EQ(text, CrLf({"Strings extracted from: ../some dir/demo.pak",
                        "Number of Nods: 61", "Number of Blocks: 2",
                        std::string(78, '-'), "Strings extracted from: x",
                        "Number of Nods: 0", "Number of Blocks: -3",
                        std::string(78, '-')}));
}

TEST(TextWriterTest, BlockSectionWritesStringsUnchanged) {
  // An LF inside a string is written in place; so is every control byte.
  const TestBlock block{300,
                        {"First line\nsecond line|", "|", "Price: 40 coins|",
                         "\r\x01\x1a\xff tail|"}};
  const std::vector<TreeNode> nodes = BuildHuffmanTree(block.strings);
  const LoadedPak pak = LoadTestPak(MakePakfile(nodes, {block}));
  std::string text;
  ExtractBlock(pak, 0, &text);
  EXPECT_EQ(text, CrLf({"Block Nr: 0", "ID: 300", "Nr of Strings: 4",
                        "0:  First line\nsecond line|", "1:  |",
                        "2:  Price: 40 coins|", "3:  \r\x01\x1a\xff tail|",
                        std::string(78, '-')}));
}

TEST(TextWriterTest, SectionOfAnEmptyBlock) {
  DecodedBlock empty;
  std::string text;
  AppendBlockSection(12, 65535, empty, &text);
  EXPECT_EQ(text, CrLf({"Block Nr: 12", "ID: 65535", "Nr of Strings: 0",
                        std::string(78, '-')}));
}

TEST(TextWriterTest, IndexesOfTenAndMoreAreWrittenWithTheirDigits) {
  TestBlock block{5, {}};
  for (int k = 0; k < 12; ++k) block.strings.push_back(std::to_string(k) + "|");
  const std::vector<TreeNode> nodes = BuildHuffmanTree(block.strings);
  const LoadedPak pak = LoadTestPak(MakePakfile(nodes, {block}));
  std::string text;
  ExtractBlock(pak, 0, &text);
  EXPECT_EQ(text, ExpectedBlockSection(0, block));
  EXPECT_NE(text.find("\r\n9:  9|\r\n10:  10|\r\n11:  11|\r\n"),
            std::string::npos);
}

TEST(TextWriterTest, RoundTripHazards) {
  EXPECT_TRUE(HoldsCrLf("a\r\nb|"));
  EXPECT_FALSE(HoldsCrLf("a\n\rb\r|"));
  EXPECT_TRUE(HoldsEndOfText("\x1a|"));
  EXPECT_FALSE(HoldsEndOfText("\x1b\x19|"));
}

}  // namespace
}  // namespace vorlex::testing
