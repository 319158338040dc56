// Loading the counts, the node table and the directory from a pakfile's
// bytes, whole or cut short; fields past 2^31 and at their widths' limits.
#include "pak/pak_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>

#include "pak/fields.h"
#include "support/command_test.h"

namespace vorlex::core::testing {
namespace {

// "N B | nodes | id@offset ...", each node as its four fields.
std::string Load(const std::string& bytes) {
  const PakHeader header = LoadPakHeader(bytes);
  std::vector<TreeNode> nodes;
  BlockDirectory directory;
  LoadTreeAndDirectory(bytes, header, &nodes, &directory);
  std::ostringstream text;
  text << header.node_count << ' ' << header.block_count << " |";
  for (const TreeNode& n : nodes) {
    text << ' ' << n.char_ << ',' << n.parent << ',' << n.child_l << ','
         << n.child_r;
  }
  text << " |";
  for (const BlockEntry& e : directory) text << ' ' << e.id << '@' << e.offset;
  return text.str();
}

TEST(PakLoaderTest, WholeAndCutShortFiles) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "0 0 | |"},
      {"03 00  41 02 FF FF  7C 02 FF FF  00 00 00 01  01 00  07 00 16 00 00 00"
       "  01 00 00 00 40",
       "3 1 | 65,2,255,255 124,2,255,255 0,0,0,1 | 7@22"},
      // The block count at offset 14, the entries at 16 and 22.
      {"03 00  11 12 13 14  21 22 23 24  31 32 33 34  02 00"
       "  05 00 1C 00 00 00  06 01 1E 00 00 00  00 00 00 00",
       "3 2 | 17,18,19,20 33,34,35,36 49,50,51,52 | 5@28 262@30"},
      {"00 00  01 00  34 12 0A 00 00 00  00 00", "0 1 | | 4660@10"},
      // Cut inside the node count, the block count, a node, an Offset, an ID.
      {"01", "1 0 | 0,0,0,0 |"},
      {"00 00 05", "0 5 | | 0@0 0@0 0@0 0@0 0@0"},
      {"03 00  41 02 FF FF  7C 02", "3 0 | 65,2,255,255 124,2,0,0 0,0,0,0 |"},
      {"00 00  03 00  09 00 AB", "0 3 | | 9@171 0@0 0@0"},
      {"00 00  02 00  09 00 AB CD EF 00  77", "0 2 | | 9@15715755 119@0"},
      // Offsets of 2^31 and more read as the lowest integer.
      {"00 00  03 00  01 00 FF FF FF 7F  02 00 00 00 00 80  03 00 FF FF FF FF",
       "0 3 | | 1@2147483647 2@-2147483648 3@-2147483648"}};
  for (const auto& [hex, expected] : cases)
    EXPECT_EQ(Load(Unhex(hex)), expected);
  // The largest counts, far beyond 2047 blocks, are loaded whole; fields are
  // written one to four bytes wide, and no other width; a field read longer
  // than four bytes saturates on any byte set past the fourth.
  EXPECT_EQ(IntegerToBytes(-1, 0) + IntegerToBytes(-1, 5), "");
  EXPECT_EQ(BytesToInteger(Unhex("01 00 00 00 01")), INT32_MIN);
  std::string bytes = Unhex("00 00 FF FF");
  for (int32_t b = 0; b < 65535; ++b) {
    bytes += IntegerToBytes(b, 2) + IntegerToBytes(0x01000000 + b, 4);
  }
  EXPECT_TRUE(Load(bytes).ends_with(" 65533@16842749 65534@16842750"));
  EXPECT_EQ(std::ranges::count(Load(Unhex("FF FF")), ','), 3 * 65535);
}

}  // namespace
}  // namespace vorlex::core::testing
