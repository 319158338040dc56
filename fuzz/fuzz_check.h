// What every fuzz target uses to stop on a disagreement: libFuzzer keeps the
// input that made the process abort.
#ifndef VORLEX_FUZZ_FUZZ_CHECK_H_
#define VORLEX_FUZZ_FUZZ_CHECK_H_

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>

#include "extract/decoder.h"
#include "pack/encoder.h"
#include "pak/code_tree.h"
#include "support/pak_maker.h"

// Stops with the message `what` when `holds` is false. A macro so that the
// message is only built on failure: most inputs pass every check.
#define FUZZ_REQUIRE(holds, what)                   \
  do {                                              \
    if (!(holds)) ::vorlex::core::fuzz::Fail(what); \
  } while (false)

namespace vorlex::core::fuzz {

using testing::Hex;

[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

// The decoder and the codes of a tree, kept from one input to the next, as a
// run keeps them from one block to the next: a mutation often leaves the
// tree as it was, and making the decode table is most of an input's work.
struct TreeTables {
  CodeTree tree;
  CodeTable codes;
  std::optional<BlockDecoder> decoder;
};

inline const TreeTables& TablesFor(const CodeTree& tree) {
  static TreeTables* const kept = new TreeTables();
  const auto fields = [](const TreeNode& n) {
    return std::tie(n.char_, n.parent, n.child_l, n.child_r);
  };
  if (!kept->decoder ||
      !std::ranges::equal(tree.nodes, kept->tree.nodes, {}, fields, fields)) {
    kept->decoder.reset();
    kept->tree = tree;
    kept->codes = BuildCodeTable(kept->tree);
    kept->decoder.emplace(kept->tree);
  }
  return *kept;
}

}  // namespace vorlex::core::fuzz

#endif  // VORLEX_FUZZ_FUZZ_CHECK_H_
