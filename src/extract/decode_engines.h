// The two engines behind BlockDecoder; nothing outside the decoder uses them.
//
// The walk steps through the tree one bit at a time, over a compact table of
// states. The lookup table decodes, per lookup of the next kTableBits bits,
// every character whose code lies wholly inside them (every code of a block
// starts at the root), walking only longer codes bit by bit. Both give
// exactly the same result for any node table, damaged ones included.
#ifndef VORLEX_EXTRACT_DECODE_ENGINES_H_
#define VORLEX_EXTRACT_DECODE_ENGINES_H_

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "extract/decoder.h"
#include "pak/code_tree.h"

namespace vorlex::core {

// At a byte boundary the walk stands on the root or on a node reached
// through a child field, and child fields of a loaded tree are bytes. So
// every state is one of: a node numbered 0 to 255, the root (which may be
// numbered higher), or a node beyond the table (all such nodes read as the
// same all-zero record).
inline constexpr size_t kHighRootState = 256;
inline constexpr size_t kBeyondTableState = 257;
inline constexpr size_t kStateCount = 258;

// One bit's step from a state. The fields are plain numbers so that the walk
// can add them in instead of branching on them.
struct WalkStep {
  int32_t next = 0;  // the root after a leaf
  char c = 0;        // the leaf's character
  uint8_t leaf = 0;  // 1 at a leaf
  uint8_t ends = 0;  // 1 at the terminator's leaf
};

struct Walker {
  std::array<std::array<WalkStep, 2>, kStateCount> steps;
  int32_t root = 0;
  // False for a hand-made tree with child fields above 255 that the states
  // cannot stand for: the walk then steps through the node records.
  bool compact = false;
};

// 2^12 entries of 8 bytes, 32 KiB. A wider lookup gives more characters
// (for text of 6-bit codes about 1.5 each, against 1.2 at 11 bits and 1.8 at
// 13, which measured no faster), and four lookups still fit a window. The
// table is made in 2^13 steps, once per tree.
inline constexpr int kTableBits = 12;
inline constexpr int kLookupsPerWindow = 57 / kTableBits;

// What walking kTableBits bits from the root gives, up to the last leaf
// reached (or the terminator, or the seventh character), in one word so that
// a lookup is one load: the characters in its low seven bytes, first lowest,
// and in the top byte the count (bits 56 to 58), the bits their codes take
// (59 to 62; 0 when no code fits, and then the word is 0) and whether the
// last of them is the terminator (63).
struct TableEntry {
  static constexpr int kMaxChars = 7;
  uint64_t word = 0;

  size_t count() const { return (word >> 56) & 7; }
  unsigned bits() const { return (word >> 59) & 15; }
  bool terminated() const { return word >> 63; }
  // Writes the 8 bytes of which the first count() are the characters.
  void Store(char* out) const {
    uint64_t bytes = word;
    if constexpr (std::endian::native == std::endian::big) {
      bytes = __builtin_bswap64(bytes);
    }
    std::memcpy(out, &bytes, sizeof bytes);
  }
};

struct DecodeEngines {
  Walker walker;
  std::once_flag table_made;
  std::vector<TableEntry> table;  // indexed by the next kTableBits bits
};

Walker MakeWalker(const CodeTree& tree);
std::vector<TableEntry> MakeDecodeTable(const CodeTree& tree);

DecodedBlock WalkBlock(std::string_view block, const CodeTree& tree,
                       const Walker& walker);
DecodedBlock DecodeBlockWithTable(std::string_view block, const CodeTree& tree,
                                  const std::vector<TableEntry>& table);

// How a run of DecodeStrings ended.
struct StringRun {
  static constexpr uint64_t kNone = UINT64_MAX;
  // The first bit of the string under way when the run stopped short of the
  // strings wanted (the bits ran out, or it gave up), or kNone.
  uint64_t unfinished_bit = kNone;
  bool gave_up = false;  // the string under way took more than allowed
};

// Decodes up to `wanted` strings from the start of `bit_data` through the
// table, appending them to *decoded. `hints` are the block's relative
// offsets, if any; a string that takes more than `give_up_bits` is left
// unfinished. A string that the bits end before its terminator is dropped.
StringRun DecodeStrings(std::string_view bit_data, size_t wanted,
                        std::string_view hints, const CodeTree& tree,
                        const std::vector<TableEntry>& table,
                        uint64_t give_up_bits, DecodedBlock* decoded);

// What one whole byte does from each walk state at a byte boundary: for the
// long strings of damaged pakfiles, walked a byte at a time.
struct ByteStep {
  uint16_t next = 0;  // the state at the next byte boundary
  uint8_t count = 0;  // characters decoded in the byte
  uint8_t ended = 0;  // 1 when a terminator ended a string in the byte
  char chars[8] = {};
};

// Made a state at a time, as walks reach states: most pakfiles need none.
class ByteMachine {
 public:
  explicit ByteMachine(const Walker& walker) : walker_(&walker) {
    zero_end_.fill(kUnknown);
  }

  int32_t root() const { return walker_->root; }
  const ByteStep& Step(int32_t state, unsigned byte) {
    std::unique_ptr<Row>& row = rows_[static_cast<size_t>(state)];
    if (row == nullptr) row = MakeRow(state);
    return (*row)[byte];
  }
  // The zero bytes that end a string from `state` at a byte boundary (the
  // terminator's byte included), or -1 when zeros never end it.
  int64_t ZeroEnd(int32_t state);

 private:
  using Row = std::array<ByteStep, 256>;
  static constexpr int64_t kUnknown = -2;
  std::unique_ptr<Row> MakeRow(int32_t state) const;

  const Walker* walker_;
  std::array<std::unique_ptr<Row>, kStateCount> rows_;
  std::array<int64_t, kStateCount> zero_end_;
};

}  // namespace vorlex::core

#endif  // VORLEX_EXTRACT_DECODE_ENGINES_H_
