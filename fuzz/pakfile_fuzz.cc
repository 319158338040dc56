// Arbitrary pakfile bytes through loading, the code tree and the decoding of
// every block. The plain and the table-driven decoders must give the same
// strings, and both must agree with the reference bit-by-bit walk; the bytes
// that BlockBytes keeps of a block that runs past the end of the file must
// decode as the whole block would.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "extract/decoder.h"
#include "extract/extract_block.h"
#include "fuzz_check.h"
#include "pak/pak.h"
#include "reference/reference_walk.h"

namespace vorlex::core::fuzz {
namespace {

// Blocks handled per input: the first ones and the last, which runs to the
// end of the file.
constexpr size_t kFirstBlocks = 48;
// Block bytes decoded per input, so that every input stays fast.
constexpr size_t kDecodeBudget = size_t{8} << 20;
// Blocks up to this length are also built whole, zeros included, and walked
// bit by bit, up to kWalkBudget bytes per input.
constexpr int64_t kWholeBlockLimit = 8 << 10;
constexpr int64_t kWalkBudget = 64 << 10;

void CheckShape(const DecodedBlock& decoded, size_t b) {
  const std::string where = "block " + std::to_string(b) + ": ";
  Require(decoded.StringsDecoded() <=
              static_cast<size_t>(std::max(decoded.string_count, 0)),
          where + "more strings than the count");
  size_t begin = 0;
  for (size_t k = 0; k < decoded.StringsDecoded(); ++k) {
    Require(decoded.ends[k] > begin && decoded.ends[k] <= decoded.text.size(),
            where + "string ends out of order");
    const std::string_view s = decoded.String(k);
    Require(s.find('|') == s.size() - 1,
            where + "a string that does not end at its first terminator");
    begin = decoded.ends[k];
  }
  Require(begin == decoded.text.size(), where + "text after the last string");
}

void CheckBlock(const LoadedPak& pak, const BlockDecoder& decoder, size_t b,
                size_t* budget, int64_t* walk_budget) {
  const std::string where = "block " + std::to_string(b) + ": ";
  std::string scratch;
  const std::string_view bytes = BlockBytes(pak, b, &scratch);
  if (bytes.size() > *budget) {
    *budget = 0;
    return;
  }
  *budget -= bytes.size();

  const DecodedBlock plain = decoder.DecodeByWalk(bytes);
  const DecodedBlock fast = decoder.DecodeByTable(bytes);
  Require(SameDecoding(plain, fast), where + "the table decoder gives " +
                                         Describe(fast) + ", the plain one " +
                                         Describe(plain));
  CheckShape(plain, b);

  const int64_t length =
      BlockExtent(pak.directory, static_cast<int64_t>(pak.bytes.size()), b);
  if (length <= kWholeBlockLimit && length <= *walk_budget) {
    *walk_budget -= length;
    const std::string whole = reference::WholeBlock(pak, b, length);
    Require(std::string_view(whole).substr(0, bytes.size()) == bytes,
            where + "BlockBytes differs from the block's own bytes");
    const DecodedBlock walked = reference::WalkBitByBit(whole, pak.tree.nodes);
    Require(SameDecoding(plain, walked),
            where + "the decoder gives " + Describe(plain) +
                ", a walk of the whole block " + Describe(walked));
  }

  std::string section;
  StringEndMemo memo(static_cast<int64_t>(pak.bytes.size()));
  const DecodedBlock extracted = ExtractBlock(pak, decoder, b, &memo, &section);
  Require(SameDecoding(extracted, plain), where + "ExtractBlock decodes " +
                                              Describe(extracted) +
                                              ", the walk " + Describe(plain));
}

}  // namespace
}  // namespace vorlex::core::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlex::core;
  const LoadedPak pak =
      LoadPak(std::string(reinterpret_cast<const char*>(data), size));
  if (pak.header.block_count == 0) return 0;
  fuzz::Require(
      pak.directory.size() == static_cast<size_t>(pak.header.block_count),
      "the directory does not hold the block count's rows");

  const BlockDecoder decoder(pak.tree);
  size_t budget = fuzz::kDecodeBudget;
  int64_t walk_budget = fuzz::kWalkBudget;
  const size_t blocks = pak.directory.size();
  for (size_t b = 0; b < blocks && b < fuzz::kFirstBlocks; ++b) {
    fuzz::CheckBlock(pak, decoder, b, &budget, &walk_budget);
  }
  if (blocks > fuzz::kFirstBlocks) {
    fuzz::CheckBlock(pak, decoder, blocks - 1, &budget, &walk_budget);
  }
  return 0;
}
