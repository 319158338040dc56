// A table-driven block decoder: one lookup per byte of bit data instead of
// one tree step per bit. It gives exactly what DecodeBlock's walk gives, for
// any node table, damaged ones included.
#ifndef VORLEX_EXTRACT_DECODE_TABLE_H_
#define VORLEX_EXTRACT_DECODE_TABLE_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "extract/decoder.h"
#include "pak/code_tree.h"

namespace vorlex {

// What walking the eight bits of one byte from one node does.
struct ByteStep {
  char chars[8];        // the characters of the leaves reached, in order
  uint8_t count;        // how many of `chars` are used
  uint8_t terminated;   // 1 when the byte ended on the terminator
  uint16_t next_state;  // where the walk stands after the byte
};

// The walk stands at a byte boundary on the root or on a node named by a
// child field (0 to 255), so it has at most 257 states. Each state's 256
// steps are filled the first time the state is reached, so that a small
// block pays only for the states it uses.
struct DecodeTable {
  const CodeTree* tree = nullptr;
  int64_t root = -1;
  std::vector<ByteStep> steps;  // state * 256 + byte
  std::vector<bool> filled;     // per state
};

inline constexpr int kRootState = 256;

DecodeTable MakeDecodeTable(const CodeTree& tree);

// Decodes `block` as DecodeBlock does, through `table` (made for the same
// tree), filling its states as they are reached.
DecodedBlock DecodeBlockWithTable(std::string_view block, DecodeTable* table);

}  // namespace vorlex

#endif  // VORLEX_EXTRACT_DECODE_TABLE_H_
