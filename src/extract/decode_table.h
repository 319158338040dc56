// A table-driven block decoder. Every code of a block starts at the root, so
// one lookup of the next kTableBits bits gives every character whose code
// lies wholly inside them; only codes longer than that are walked bit by bit.
// It gives exactly what DecodeBlock's walk gives, for any node table, damaged
// ones included.
#ifndef VORLEX_EXTRACT_DECODE_TABLE_H_
#define VORLEX_EXTRACT_DECODE_TABLE_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "extract/decoder.h"
#include "pak/code_tree.h"

namespace vorlex::core {

// 2^11 entries of 12 bytes: small enough to stay in the first-level cache.
inline constexpr int kTableBits = 11;

// What walking kTableBits bits from the root gives, up to the last leaf
// reached (or the terminator, or the eighth character).
struct TableEntry {
  char chars[8];       // the characters, in order
  uint8_t count;       // how many of `chars` are used
  uint8_t bits;        // the bits their codes take; 0 when no code fits
  uint8_t terminated;  // 1 when the last of them is the terminator
  uint8_t unused;
};

struct DecodeTable {
  const CodeTree* tree = nullptr;
  std::vector<TableEntry> entries;  // indexed by the next kTableBits bits
};

// Builds the table for `tree`, which must outlive it.
DecodeTable MakeDecodeTable(const CodeTree& tree);

// Decodes `block` exactly as DecodeBlock does, through `table`.
DecodedBlock DecodeBlockWithTable(std::string_view block,
                                  const DecodeTable& table);

// Whether a table pays for itself on `data_size` bytes of blocks: building
// it walks 2^kTableBits bit strings.
inline bool TableWorthBuilding(size_t data_size) { return data_size >= 16384; }

}  // namespace vorlex::core

#endif  // VORLEX_EXTRACT_DECODE_TABLE_H_
