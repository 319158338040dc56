#include "workload.h"

namespace vorlex::core::bench {

const Workload& SharedWorkload() {
  static const Workload* const workload = [] {
    auto* w = new Workload;
    w->source = testing::RandomBlocks(20261206, 2047, 120, kAlphabet, 70);
    const auto nodes =
        testing::BuildHuffmanTree(testing::AllStrings(w->source));
    w->pak = LoadPak(testing::MakePakfile(nodes, w->source));
    for (const testing::TestBlock& block : w->source) {
      w->blocks.push_back(testing::EncodeTestBlock(nodes, block.strings));
    }
    w->text = testing::ExpectedExtractText("bench.pak",
                                           w->pak.header.node_count, w->source);
    return w;
  }();
  return *workload;
}

}  // namespace vorlex::core::bench
