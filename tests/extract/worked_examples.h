// Small hand-made pakfiles and trees for the extraction and packing tests.
#ifndef VORLEX_TESTS_EXTRACT_WORKED_EXAMPLES_H_
#define VORLEX_TESTS_EXTRACT_WORKED_EXAMPLES_H_

#include <string>
#include <vector>

#include "support/command_test.h"
#include "support/pak_maker.h"

namespace vorlex::core::testing {

// N = 3, B = 1: A (code 0) and '|' (code 1); one block, ID 7, holding "A|".
inline std::string ThreeNodePak() {
  return Unhex(
      "03 00  41 02 FF FF  7C 02 FF FF  00 00 00 01  01 00  07 00 16 00 00 00"
      "  01 00 00 00 40");
}

inline std::vector<TreeNode> ThreeNodeTree() {
  return {{65, 2, 255, 255}, {124, 2, 255, 255}, {0, 0, 0, 1}};
}

// a = 0, b = 10, '|' = 11.
inline std::vector<TreeNode> FiveNodeTree() {
  return {{97, 4, 255, 255},
          {98, 3, 255, 255},
          {124, 3, 255, 255},
          {0, 4, 1, 2},
          {0, 0, 0, 3}};
}

// '|' = 0 and A = 1, so that zero bytes read as empty strings.
inline std::vector<TreeNode> ZeroIsTerminatorTree() {
  return {{124, 2, 255, 255}, {65, 2, 255, 255}, {0, 0, 0, 1}};
}

}  // namespace vorlex::core::testing

#endif  // VORLEX_TESTS_EXTRACT_WORKED_EXAMPLES_H_
