// Arbitrary pakfile bytes through loading and the decoding of every block:
// the walk, the lookup table, the reference bit-by-bit walk of the whole
// block (zeros past the end of the file included) and ExtractBlock agree.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "extract/decoder.h"
#include "extract/extract_block.h"
#include "fuzz_check.h"
#include "pak/fields.h"
#include "pak/pak.h"
#include "pak/pak_format.h"
#include "reference/reference_walk.h"

namespace vorlex::core::fuzz {
namespace {

// Limits that keep every input fast: blocks per input (a larger count is
// lowered before loading), bytes decoded, and blocks walked whole.
constexpr int64_t kMostBlocks = 49;
constexpr size_t kDecodeBudget = size_t{64} << 10;
constexpr int64_t kWholeBlockLimit = 8 << 10;
constexpr int64_t kWalkBudget = 64 << 10;

// Stops unless `got` is what the walk decoded.
void RequireSame(const DecodedBlock& walk, const DecodedBlock& got,
                 std::string_view engine, size_t b) {
  FUZZ_REQUIRE(walk.string_count == got.string_count && walk.text == got.text &&
                   walk.ends == got.ends,
               "block " + std::to_string(b) + ": " + std::string(engine) +
                   " decodes " + Hex(got.text) + "\nexpected " +
                   Hex(walk.text));
}

void CheckBlock(const LoadedPak& pak, const BlockDecoder& decoder,
                StringEndMemo* memo, size_t b, size_t* budget,
                int64_t* walk_budget) {
  std::string scratch;
  const std::string_view bytes = BlockBytes(pak, b, &scratch);
  if (bytes.size() > *budget) {
    *budget = 0;
    return;
  }
  *budget -= bytes.size();
  const DecodedBlock walk = decoder.DecodeByWalk(bytes);
  RequireSame(walk, decoder.DecodeByTable(bytes), "the table", b);
  std::string section;
  RequireSame(walk, ExtractBlock(pak, decoder, b, memo, &section),
              "ExtractBlock", b);

  const int64_t length =
      BlockExtent(pak.directory, static_cast<int64_t>(pak.bytes.size()), b);
  if (length <= kWholeBlockLimit && length <= *walk_budget) {
    *walk_budget -= length;
    const std::string whole = reference::WholeBlock(pak, b, length);
    FUZZ_REQUIRE(std::string_view(whole).substr(0, bytes.size()) == bytes,
                 "block " + std::to_string(b) +
                     ": BlockBytes differs from the block's own bytes");
    RequireSame(reference::WalkBitByBit(whole, pak.tree.nodes), walk,
                "the engines' walk", b);
  }
}

}  // namespace
}  // namespace vorlex::core::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlex::core;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  const int64_t count_at = BlockCountOffset(LoadPakHeader(bytes).node_count);
  if (ReadField(bytes, count_at, 2) > fuzz::kMostBlocks &&
      count_at + 2 <= static_cast<int64_t>(size)) {
    bytes.replace(static_cast<size_t>(count_at), 2, {fuzz::kMostBlocks, 0});
  }
  const LoadedPak pak = LoadPak(std::move(bytes));
  if (pak.header.block_count == 0) return 0;
  FUZZ_REQUIRE(
      pak.directory.size() == static_cast<size_t>(pak.header.block_count),
      "the directory does not hold the block count's rows");

  const BlockDecoder& decoder = *fuzz::TablesFor(pak.tree).decoder;
  StringEndMemo memo(static_cast<int64_t>(pak.bytes.size()));
  size_t budget = fuzz::kDecodeBudget;
  int64_t walk_budget = fuzz::kWalkBudget;
  for (size_t b = 0; b < pak.directory.size(); ++b) {
    fuzz::CheckBlock(pak, decoder, &memo, b, &budget, &walk_budget);
  }
  return 0;
}
