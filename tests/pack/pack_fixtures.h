// Small trees, pakfiles and runners shared by the packing tests.
#ifndef VORLEX_TESTS_PACK_PACK_FIXTURES_H_
#define VORLEX_TESTS_PACK_PACK_FIXTURES_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pak/code_tree.h"
#include "pak/console.h"
#include "pak/file_io.h"
#include "pak/pak.h"
#include "support/command_test.h"
#include "support/pak_maker.h"

namespace vorlex::testing {

// A = 0 and '|' = 1 under the root.
inline std::vector<TreeNode> ThreeNodeTree() {
  return {{65, 2, 255, 255}, {124, 2, 255, 255}, {0, 0, 0, 1}};
}

// N = 3, B = 1: ThreeNodeTree and one block with the string "A|", ID 7.
inline std::string ThreeNodePak() {
  return Unhex(
      "03 00  41 02 FF FF  7C 02 FF FF  00 00 00 01  01 00  07 00 16 00 00 00"
      "  01 00 00 00 40");
}

// a = 0, b = 10, '|' = 11.
inline std::vector<TreeNode> FiveNodeTree() {
  return {{97, 4, 255, 255},
          {98, 3, 255, 255},
          {124, 3, 255, 255},
          {0, 4, 1, 2},
          {0, 0, 0, 3}};
}

// The character of leaf d of ChainTree: high bytes, then '|' last.
inline char ChainChar(int d, int leaves) {
  return d == leaves - 1 ? '|' : static_cast<char>(128 + d);
}

// A tree as deep as it gets: the interior node at depth d has leaf d on its
// left and the next interior node on its right, so leaf d's code is d ones
// and a zero, and the last leaf ('|') has leaves - 1 ones. Leaves 0 to
// leaves - 1 come first, the root last. At most 128 leaves.
inline std::vector<TreeNode> ChainTree(int leaves) {
  const int count = 2 * leaves - 1;
  const int root = count - 1;
  auto interior = [&](int depth) { return root - depth; };
  std::vector<TreeNode> nodes(static_cast<size_t>(count));
  for (int d = 0; d + 1 < leaves; ++d) {
    const int here = interior(d);
    const int right = d + 2 < leaves ? interior(d + 1) : leaves - 1;
    nodes[static_cast<size_t>(here)] = {0, d == 0 ? 0 : interior(d - 1), d,
                                        right};
    nodes[static_cast<size_t>(d)] = {
        static_cast<unsigned char>(ChainChar(d, leaves)), here, 255, 255};
  }
  nodes[static_cast<size_t>(leaves - 1)] = {'|', interior(leaves - 2), 255,
                                            255};
  return nodes;
}

// Whether `text` holds `part`, showing both when not.
inline ::testing::AssertionResult Contains(std::string_view text,
                                           std::string_view part) {
  if (text.find(part) != std::string_view::npos) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "'" << text << "' does not hold '" << part << "'";
}

// What a packing command did when called in-process.
struct InProcessRun {
  std::string out;
  std::string err;
  bool error_reported = false;
};

using PackCommand = void (*)(const std::string&, const std::string&, LoadedPak&,
                             Console&);

// Loads `pakfile` as start-up does and runs `command` on it with a string
// console.
inline InProcessRun RunInProcess(PackCommand command,
                                 const std::string& pakfile,
                                 const std::string& txtfile) {
  InProcessRun run;
  Console console = StringConsole(&run.out, &run.err);
  std::optional<std::string> bytes = ReadFileBytes(pakfile);
  LoadedPak pak = LoadTestPak(bytes ? *bytes : std::string());
  command(pakfile, txtfile, pak, console);
  run.error_reported = console.error_reported;
  return run;
}

}  // namespace vorlex::testing

#endif  // VORLEX_TESTS_PACK_PACK_FIXTURES_H_
