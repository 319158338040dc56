// Encoding speed: EncodeString in input bytes per second, and PackBlock
// (reading the text file, encoding and the read-back check) in text bytes per
// second.
#include <benchmark/benchmark.h>

#include <optional>
#include <string>
#include <vector>

#include "base/console.h"
#include "extract/decoder.h"
#include "pack/block_packer.h"
#include "pack/encoder.h"
#include "pack/line_reader.h"
#include "pack/text_reader.h"
#include "workload.h"

namespace vorlex::core {
namespace {

void BM_EncodeString(benchmark::State& state) {
  const bench::Workload& w = bench::SharedWorkload();
  const CodeTable codes = BuildCodeTable(w.pak.tree);
  // The strings back to back, as the text reader hands them over from its
  // line buffer.
  std::string all;
  std::vector<size_t> ends;
  for (const testing::TestBlock& block : w.source) {
    for (const std::string& s : block.strings) {
      all += s;
      ends.push_back(all.size());
    }
  }
  std::string out;
  out.reserve(all.size());
  for (auto _ : state) {
    out.clear();
    size_t begin = 0;
    for (size_t end : ends) {
      EncodeString(std::string_view(all).substr(begin, end - begin), codes,
                   &out);
      begin = end;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(all.size()));
}
BENCHMARK(BM_EncodeString)->Unit(benchmark::kMillisecond);

// Reads every block section of the workload's text file: with `kEncode`
// as /P does (encoding and the read-back check included), else only what
// the thread that reads for /P does while the blocks read before are
// encoded.
template <bool kEncode>
void BM_Sections(benchmark::State& state) {
  const bench::Workload& w = bench::SharedWorkload();
  const CodeTable codes = BuildCodeTable(w.pak.tree);
  const BlockDecoder decoder(w.pak.tree);
  std::string out, err;
  std::string image;
  BlockPacker::Pending pending;
  for (auto _ : state) {
    Console console = StringConsole(&out, &err);
    LineReader lines(std::string_view{w.text});
    const std::optional<int32_t> count = ReadBlockCount(lines);
    const BlockCoder coder{.codes = codes, .decoder = decoder};
    BlockPacker packer(lines, coder, "bench.txt", console);
    image.clear();
    for (int32_t b = 0; b < count.value_or(0); ++b) {
      if (!kEncode) {
        packer.ReadSection(&pending);
      } else if (!packer.PackBlock(b, &image).sound()) {
        state.SkipWithError("a block did not read back");
      }
    }
    benchmark::DoNotOptimize(image.data());
    benchmark::DoNotOptimize(pending.section.texts.data());
    out.clear();
    err.clear();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(w.text.size()));
}
void BM_ReadTextBlock(benchmark::State& state) { BM_Sections<true>(state); }
void BM_ReadSections(benchmark::State& state) { BM_Sections<false>(state); }
BENCHMARK(BM_ReadTextBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSections)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vorlex::core
