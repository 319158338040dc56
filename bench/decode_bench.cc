// Block decoding speed, in decoded text bytes per second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "extract/decoder.h"
#include "extract/text_writer.h"
#include "support/pak_maker.h"
#include "workload.h"

namespace vorlex::core {
namespace {

void BM_DecodeBlockPlain(benchmark::State& state) {
  const bench::Workload& w = bench::SharedWorkload();
  const BlockDecoder decoder(w.pak.tree);
  size_t decoded_bytes = 0;
  for (auto _ : state) {
    for (const std::string& block : w.blocks) {
      DecodedBlock decoded = decoder.DecodeByWalk(block);
      decoded_bytes += decoded.text.size();
      benchmark::DoNotOptimize(decoded);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(decoded_bytes));
}
BENCHMARK(BM_DecodeBlockPlain)->Unit(benchmark::kMillisecond);

void BM_DecodeBlockTable(benchmark::State& state) {
  const bench::Workload& w = bench::SharedWorkload();
  const BlockDecoder decoder(w.pak.tree);
  size_t decoded_bytes = 0;
  for (auto _ : state) {
    for (const std::string& block : w.blocks) {
      DecodedBlock decoded = decoder.Decode(block);
      decoded_bytes += decoded.text.size();
      benchmark::DoNotOptimize(decoded);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(decoded_bytes));
}
BENCHMARK(BM_DecodeBlockTable)->Unit(benchmark::kMillisecond);

// Lays out the sections of the decoded blocks as /E writes them, in bytes of
// text file per second: the writer's share of /E beside the decoding.
void BM_AppendBlockSections(benchmark::State& state) {
  const bench::Workload& w = bench::SharedWorkload();
  const BlockDecoder decoder(w.pak.tree);
  std::vector<DecodedBlock> decoded;
  for (const std::string& block : w.blocks) {
    decoded.push_back(decoder.Decode(block));
  }
  std::string text;
  size_t bytes = 0;
  for (auto _ : state) {
    for (size_t b = 0; b < decoded.size(); ++b) {
      AppendBlockSection(static_cast<int64_t>(b), 0, decoded[b], &text,
                         nullptr);
      bytes += text.size();
      text.clear();
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_AppendBlockSections)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vorlex::core
