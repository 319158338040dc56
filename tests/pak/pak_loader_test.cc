// Loading the counts, the node table and the directory from a pakfile's
// bytes, whole or cut short.
#include "pak/pak_loader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pak/fields.h"
#include "support/command_test.h"

namespace vorlex {
namespace {

using ::vorlex::testing::Unhex;

struct Loaded {
  PakHeader header;
  std::vector<TreeNode> nodes;
  BlockDirectory directory;
};

Loaded Load(const std::string& bytes) {
  Loaded loaded;
  loaded.header = LoadPakHeader(bytes);
  LoadTreeAndDirectory(bytes, loaded.header, &loaded.nodes, &loaded.directory);
  return loaded;
}

void ExpectNode(const TreeNode& node, int32_t char_, int32_t parent,
                int32_t child_l, int32_t child_r) {
  EXPECT_EQ(node.char_, char_);
  EXPECT_EQ(node.parent, parent);
  EXPECT_EQ(node.child_l, child_l);
  EXPECT_EQ(node.child_r, child_r);
}

TEST(PakLoaderTest, WholeExampleFile) {
  const Loaded pak = Load(Unhex(
      "03 00  41 02 FF FF  7C 02 FF FF  00 00 00 01  01 00  07 00 16 00 00 00"
      "  01 00 00 00 40"));
  EXPECT_EQ(pak.header.node_count, 3);
  EXPECT_EQ(pak.header.block_count, 1);
  ASSERT_EQ(pak.nodes.size(), 3u);
  ExpectNode(pak.nodes[0], 'A', 2, 255, 255);
  ExpectNode(pak.nodes[1], '|', 2, 255, 255);
  ExpectNode(pak.nodes[2], 0, 0, 0, 1);
  ASSERT_EQ(pak.directory.size(), 1u);
  EXPECT_EQ(pak.directory[0].id, 7);
  EXPECT_EQ(pak.directory[0].offset, 22);
}

TEST(PakLoaderTest, EmptyFile) {
  const Loaded pak = Load("");
  EXPECT_EQ(pak.header.node_count, 0);
  EXPECT_EQ(pak.header.block_count, 0);
  EXPECT_TRUE(pak.nodes.empty());
  EXPECT_TRUE(pak.directory.empty());
}

TEST(PakLoaderTest, NoNodesOneBlock) {
  // The block count right after the node count, the entry right after that.
  const Loaded pak = Load(Unhex("00 00  01 00  34 12 0A 00 00 00  00 00"));
  EXPECT_EQ(pak.header.node_count, 0);
  EXPECT_EQ(pak.header.block_count, 1);
  EXPECT_TRUE(pak.nodes.empty());
  ASSERT_EQ(pak.directory.size(), 1u);
  EXPECT_EQ(pak.directory[0].id, 4660);
  EXPECT_EQ(pak.directory[0].offset, 10);
}

TEST(PakLoaderTest, ThreeNodesTwoBlocks) {
  std::string bytes = Unhex(
      "03 00  11 12 13 14  21 22 23 24  31 32 33 34"  // nodes 0 to 2
      "  02 00"                                       // 14: block count
      "  05 00 1C 00 00 00"                           // 16 to 21: block 0
      "  06 01 1E 00 00 00"                           // 22 to 27: block 1
      "  00 00 00 00");
  const Loaded pak = Load(bytes);
  EXPECT_EQ(pak.header.node_count, 3);
  EXPECT_EQ(pak.header.block_count, 2);
  ASSERT_EQ(pak.nodes.size(), 3u);
  ExpectNode(pak.nodes[0], 0x11, 0x12, 0x13, 0x14);
  ExpectNode(pak.nodes[1], 0x21, 0x22, 0x23, 0x24);
  ExpectNode(pak.nodes[2], 0x31, 0x32, 0x33, 0x34);
  ASSERT_EQ(pak.directory.size(), 2u);
  EXPECT_EQ(pak.directory[0].id, 5);
  EXPECT_EQ(pak.directory[0].offset, 28);
  EXPECT_EQ(pak.directory[1].id, 0x106);
  EXPECT_EQ(pak.directory[1].offset, 30);

  // The header's count decides how many entries are read; the stored count
  // is skipped, not read again.
  BlockDirectory directory;
  std::vector<TreeNode> nodes;
  LoadTreeAndDirectory(bytes, PakHeader{3, 1}, &nodes, &directory);
  ASSERT_EQ(directory.size(), 1u);
  EXPECT_EQ(directory[0].offset, 28);
}

TEST(PakLoaderTest, DirectoryCutInsideAnOffset) {
  // B = 3, but the file ends after the first byte of block 0's Offset.
  const Loaded pak = Load(Unhex("00 00  03 00  09 00 AB"));
  EXPECT_EQ(pak.header.block_count, 3);
  ASSERT_EQ(pak.directory.size(), 3u);
  EXPECT_EQ(pak.directory[0].id, 9);
  EXPECT_EQ(pak.directory[0].offset, 0xAB);
  for (size_t b : {size_t{1}, size_t{2}}) {
    EXPECT_EQ(pak.directory[b].id, 0);
    EXPECT_EQ(pak.directory[b].offset, 0);
  }
  // Three bytes of an Offset.
  const Loaded three = Load(Unhex("00 00  01 00  09 00 AB CD EF"));
  EXPECT_EQ(three.directory[0].offset, 0xEFCDAB);
  // One byte of the second entry's ID.
  const Loaded longer = Load(Unhex("00 00  02 00  09 00 AB CD EF 00  77"));
  ASSERT_EQ(longer.directory.size(), 2u);
  EXPECT_EQ(longer.directory[0].offset, 0xEFCDAB);
  EXPECT_EQ(longer.directory[1].id, 0x77);
  EXPECT_EQ(longer.directory[1].offset, 0);
}

TEST(PakLoaderTest, CountsCutShort) {
  // One byte of the node count: N is that byte; the block count lies past
  // the end and reads as 0.
  EXPECT_EQ(LoadPakHeader(Unhex("07")).node_count, 7);
  EXPECT_EQ(LoadPakHeader(Unhex("07")).block_count, 0);
  // One byte of the block count.
  const PakHeader header = LoadPakHeader(Unhex("00 00 05"));
  EXPECT_EQ(header.node_count, 0);
  EXPECT_EQ(header.block_count, 5);
}

TEST(PakLoaderTest, NodeTableCutShort) {
  // N = 3, and the file ends after node 1's Char and Parent.
  const Loaded pak = Load(Unhex("03 00  41 02 FF FF  7C 02"));
  EXPECT_EQ(pak.header.block_count, 0);
  ASSERT_EQ(pak.nodes.size(), 3u);
  ExpectNode(pak.nodes[0], 'A', 2, 255, 255);
  ExpectNode(pak.nodes[1], '|', 2, 0, 0);
  ExpectNode(pak.nodes[2], 0, 0, 0, 0);
  EXPECT_TRUE(pak.directory.empty());
}

TEST(PakLoaderTest, LargestCountsAreLoadedWhole) {
  // 65535 blocks, far beyond 2047: every entry is read. The Offsets have a
  // fourth byte of 1, which is read with the other three.
  std::string bytes = Unhex("00 00 FF FF");
  for (int32_t b = 0; b < 65535; ++b) {
    bytes += IntegerToBytes(b ^ 0x5A5A, 2);
    bytes += IntegerToBytes(0x01000000 + b, 4);
  }
  Loaded pak = Load(bytes);
  EXPECT_EQ(pak.header.node_count, 0);
  ASSERT_EQ(pak.header.block_count, 65535);
  ASSERT_EQ(pak.directory.size(), 65535u);
  for (int32_t b : {0, 2046, 2047, 2048, 40000, 65534}) {
    EXPECT_EQ(pak.directory[static_cast<size_t>(b)].id, b ^ 0x5A5A) << b;
    EXPECT_EQ(pak.directory[static_cast<size_t>(b)].offset, 0x01000000 + b)
        << b;
  }

  // 65535 nodes declared in a file that holds only the count: every node
  // is there, all zero.
  pak = Load(Unhex("FF FF"));
  EXPECT_EQ(pak.header.node_count, 65535);
  EXPECT_EQ(pak.header.block_count, 0);
  ASSERT_EQ(pak.nodes.size(), 65535u);
  ExpectNode(pak.nodes.back(), 0, 0, 0, 0);
}

TEST(PakLoaderTest, OffsetsFromTwoToTheThirtyOne) {
  const Loaded pak = Load(Unhex(
      "00 00  03 00  01 00 FF FF FF 7F  02 00 00 00 00 80  03 00 FF FF FF FF"));
  ASSERT_EQ(pak.directory.size(), 3u);
  EXPECT_EQ(pak.directory[0].offset, 2147483647);
  // What the field reader yields for 2^31 and more.
  EXPECT_EQ(pak.directory[1].offset, -2147483648LL);
  EXPECT_EQ(pak.directory[2].offset, -2147483648LL);
  EXPECT_EQ(pak.directory[2].id, 3);
}

}  // namespace
}  // namespace vorlex
