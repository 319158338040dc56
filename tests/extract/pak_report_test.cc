// vorlex --info through the built program: the report read back record by
// record and held against the pakfile's own directory and tree.
#include "extract/pak_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "extract/worked_examples.h"

namespace vorlex::core::testing {
namespace {

using Words = std::vector<std::string>;

// The records of a report, each split at its blanks.
std::vector<Words> Records(const std::string& report) {
  std::vector<Words> records;
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    Words words;
    for (std::string word; fields >> word;) words.push_back(word);
    records.push_back(words);
  }
  return records;
}

// The character a CHAR field names: itself, or 0x and two hexadecimal digits.
unsigned char Named(const std::string& field) {
  if (field.size() == 1) return static_cast<unsigned char>(field[0]);
  EXPECT_EQ(field.substr(0, 2), "0x");
  return static_cast<unsigned char>(std::stoi(field.substr(2), nullptr, 16));
}

using PakReportTest = CommandTest;

TEST_F(PakReportTest, BlockTableMatchesTheDirectory) {
  const std::vector<TestBlock> blocks = {
      {300, {"Open the gate|", "|", "Price: 40 coins|"}},
      {301, {}},
      {65535, {"First line\nsecond line|", "Goodbye.|"}}};
  const std::vector<TreeNode> nodes = BuildHuffmanTree(AllStrings(blocks));
  const std::string sound = MakePakfile(nodes, blocks);
  // Leaf 'G' names another leaf as its parent: its walk breaks.
  int32_t g = 0;
  while (nodes[static_cast<size_t>(g)].char_ != 'G') ++g;
  std::string broken = MakePakfile(nodes, {blocks[1]}) + "x";
  broken[static_cast<size_t>(2 + 4 * g + 1)] = g == 0 ? 1 : 0;
  struct Case {
    std::string name, bytes;
    std::string broken_nodes;  // the record's fields after its word
    int64_t stale;
    std::string completeness;  // c or i per block
  } cases[] = {
      {"sound", sound, "0", 0, "ccc"},
      {"stale tail", sound + Unhex("FF FF 00 C3"), "0", 4, "ccc"},
      {"cut in its last string", sound.substr(0, sound.size() - 1), "0", 0,
       "cci"},
      {"broken leaf", broken, "1 " + std::to_string(g), 1, "c"},
      {"sample", ReadFileOrDie(VORLEX_SOURCE_DIR "/examples/sample.pak"), "0",
       0, "cccc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write("p.pak", c.bytes);
    const RunResult run = Vorlex({"--info", "p.pak"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    const std::vector<Words> records = Records(run.out);
    const LoadedPak pak = LoadPak(c.bytes);
    const int64_t size = static_cast<int64_t>(c.bytes.size());
    const int64_t alphabet = std::stoll(records.at(3).at(1));
    ASSERT_EQ(records.size(),
              static_cast<size_t>(7 + alphabet) + pak.directory.size());
    EXPECT_EQ(records[0], (Words{"file-size", std::to_string(size)}));
    EXPECT_EQ(records[1],
              (Words{"node-count", std::to_string(pak.header.node_count)}));
    EXPECT_EQ(records[2].at(0), "broken-nodes");
    std::string fields;
    for (size_t k = 1; k < records[2].size(); ++k) {
      fields += (k > 1 ? " " : "") + records[2][k];
    }
    EXPECT_EQ(fields, c.broken_nodes);

    // Every character is encodable or, if printable ASCII, listed as not;
    // the codes of a full tree fill it exactly (their 2^-bits sum to 1).
    std::set<unsigned char> encodable;
    double kraft = 0;
    for (int64_t k = 0; k < alphabet; ++k) {
      const Words& code = records.at(static_cast<size_t>(4 + k));
      ASSERT_EQ(code.size(), 3u);
      EXPECT_EQ(code[0], "code");
      encodable.insert(Named(code[1]));
      kraft += std::ldexp(1.0, -std::stoi(code[2]));
    }
    EXPECT_EQ(kraft == 1.0, c.broken_nodes == "0") << kraft;
    EXPECT_EQ(encodable.count('G'), c.name == "broken leaf" ? 0u : 1u);
    const Words& missing = records.at(static_cast<size_t>(4 + alphabet));
    EXPECT_EQ(missing.at(0), "not-encodable");
    std::set<unsigned char> listed;
    for (size_t k = 2; k < missing.size(); ++k)
      listed.insert(Named(missing[k]));
    for (unsigned char ch = ' '; ch < 127; ++ch) {
      EXPECT_NE(encodable.count(ch), listed.count(ch)) << ch;
    }
    EXPECT_EQ(std::to_string(listed.size()), missing.at(1));

    // The block table against the directory; the last block and the stale
    // bytes after it together reach the end of the file.
    const size_t first = static_cast<size_t>(6 + alphabet);
    EXPECT_EQ(records.at(first - 1),
              (Words{"block-count", std::to_string(pak.directory.size())}));
    for (size_t b = 0; b < pak.directory.size(); ++b) {
      const Words& row = records.at(first + b);
      const int64_t offset = pak.directory[b].offset;
      const int64_t length = BlockExtent(pak.directory, size, b) -
                             (b + 1 == pak.directory.size() ? c.stale : 0);
      const int strings = static_cast<unsigned char>(c.bytes[offset]) |
                          static_cast<unsigned char>(c.bytes[offset + 1]) << 8;
      EXPECT_EQ(
          row,
          (Words{"block", std::to_string(b),
                 std::to_string(pak.directory[b].id), std::to_string(offset),
                 std::to_string(length), std::to_string(strings),
                 c.completeness[b] == 'c' ? "complete" : "incomplete"}));
    }
    EXPECT_EQ(records.back(), (Words{"stale-bytes", std::to_string(c.stale)}));
  }
}

}  // namespace
}  // namespace vorlex::core::testing
