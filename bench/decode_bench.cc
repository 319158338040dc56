// Block decoding speed, in decoded text bytes per second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "extract/decoder.h"
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

}  // namespace
}  // namespace vorlex::core
