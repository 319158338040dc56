// vorlex --info through the built program: every record of small pakfiles
// whose directory, tree and tail are known byte by byte.
#include "extract/pak_report.h"

#include <gtest/gtest.h>

#include <string>

#include "extract/worked_examples.h"

namespace vorlex::core::testing {
namespace {

// The not-encodable record: the printable ASCII characters but `coded`.
std::string NotEncodable(std::string_view coded) {
  std::string list;
  int count = 0;
  for (char c = ' '; c < 127; ++c) {
    if (coded.find(c) != std::string_view::npos) continue;
    list += c == ' ' ? std::string(" 0x20") : std::string(" ") + c;
    ++count;
  }
  return "not-encodable " + std::to_string(count) + list + "\n";
}

using PakReportTest = CommandTest;

TEST_F(PakReportTest, EveryRecordOfSoundCutAndBrokenPakfiles) {
  const std::string pak = ThreeNodePak();  // A 0, | 1; "A|" in 5 bytes at 22
  const std::string codes =
      "alphabet 2\ncode A 1\ncode | 1\n" + NotEncodable("A|");
  // Leaf A names leaf | as its parent: broken, and without a code.
  std::string broken = pak, cut = pak;
  broken[3] = 1;
  cut[22] = 2;  // two strings counted, the bits of one present
  const struct {
    std::string bytes, report;
  } cases[] = {
      {pak + "\xFF\xFF",
       "file-size 29\nnode-count 3\nbroken-nodes 0\n" + codes +
           "block-count 1\nblock 0 7 22 5 1 complete\nstale-bytes 2\n"},
      {cut, "file-size 27\nnode-count 3\nbroken-nodes 0\n" + codes +
                "block-count 1\nblock 0 7 22 5 2 incomplete\nstale-bytes 0\n"},
      {broken,
       "file-size 27\nnode-count 3\nbroken-nodes 1 0\nalphabet 1\n"
       "code | 1\n" +
           NotEncodable("|") +
           "block-count 1\nblock 0 7 22 5 1 complete\nstale-bytes 0\n"},
      // A 28-byte head; "A|" and "AA|" in 8 bytes, then an empty block.
      {MakePakfile(ThreeNodeTree(), {{65535, {"A|", "AA|"}}, {0, {}}}),
       "file-size 38\nnode-count 3\nbroken-nodes 0\n" + codes +
           "block-count 2\nblock 0 65535 28 8 2 complete\n"
           "block 1 0 36 2 0 complete\nstale-bytes 0\n"}};
  for (const auto& [bytes, report] : cases) {
    Write("p.pak", bytes);
    const RunResult run = Vorlex({"--info", "p.pak"});
    EXPECT_EQ(run.out, report) << Hex(bytes);
    EXPECT_EQ(run.exit_status, 0) << run.err;
  }
}

}  // namespace
}  // namespace vorlex::core::testing
