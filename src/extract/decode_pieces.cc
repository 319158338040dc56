// Decoding a block a piece at a time, for checks that compare the strings
// as they come instead of holding a second copy of a long block's text.
#include "extract/bit_reader.h"
#include "extract/decode_engines.h"
#include "extract/decoder.h"
#include "pak/fields.h"

namespace vorlex::core {

void BlockDecoder::DecodeInPieces(std::string_view block,
                                  const PieceSink& sink) const {
  const Walker& walker = engines_->walker;
  if (!walker.compact) {
    // Only hand-made trees step outside the walk states: decoded whole.
    const DecodedBlock decoded = Decode(block);
    for (size_t k = 0; k < decoded.StringsDecoded(); ++k) {
      if (!sink(decoded.String(k), true)) return;
    }
    return;
  }
  const size_t n = static_cast<size_t>(BytesToInteger(block.substr(0, 2)));
  const size_t start = 2 + 2 * n;
  if (tree_->NodeCount() == 0 || n == 0 || start >= block.size()) return;
  const BitReader bits(block.substr(start));
  const uint64_t fast_limit = bits.WindowLimit();
  const TableEntry* const table = Table().data();
  constexpr size_t kPiece = 4096;
  char piece[kPiece + 8];
  size_t used = 0;
  size_t ended = 0;
  uint64_t pos = 0;
  // Every lookup and every walked code ends at a leaf, so each starts at
  // the root; a terminator ends its byte, the rest of it being padding.
  while (ended < n && pos < bits.bit_count) {
    bool ends = false;
    const TableEntry* entry =
        pos < fast_limit ? &table[bits.Window(pos) >> (64 - kTableBits)]
                         : nullptr;
    if (entry != nullptr && entry->bits() != 0) {
      entry->Store(piece + used);
      used += entry->count();
      pos += entry->bits();
      ends = entry->terminated();
    } else {
      // A code longer than the table, or one of the last bytes' codes.
      int32_t state = walker.root;
      while (pos < bits.bit_count) {
        const WalkStep& step =
            walker.steps[static_cast<size_t>(state)][bits.Bit(pos++)];
        state = step.next;
        if (step.leaf) {
          piece[used++] = step.c;
          ends = step.ends != 0;
          break;
        }
      }
    }
    if (ends) {
      ++ended;
      pos = NextByteBoundary(pos);
      if (!sink(std::string_view(piece, used), true)) return;
      used = 0;
    } else if (used >= kPiece) {
      if (!sink(std::string_view(piece, used), false)) return;
      used = 0;
    }
  }
  if (used > 0) sink(std::string_view(piece, used), false);
}

}  // namespace vorlex::core
