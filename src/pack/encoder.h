// Huffman-coding one string with the pakfile's own tree.
#ifndef VORLEX_PACK_ENCODER_H_
#define VORLEX_PACK_ENCODER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pak/code_tree.h"

namespace vorlex::core {

// The code of every character, root first, ready to be shifted into a bit
// buffer. Built once per run from the tree's bit paths.
struct CodeTable {
  // Codes up to this many bits go through the 64-bit buffer in one step;
  // longer ones (a deep or damaged tree) are fed in pieces of this size.
  static constexpr int kMaxFastBits = 56;

  struct Code {
    uint64_t bits = 0;   // the code in the low `length` bits, root bit highest
    int32_t length = 0;  // 0: the character cannot be encoded
  };
  std::array<Code, 256> codes{};
  // Codes up to this many bits are also kept packed, for joining codes of
  // several characters before they enter the buffer: the code shifted up
  // by kPackedShift, its length in the low 6 bits, and kPackedStop where
  // encoding stops at the character (it has no code, or it is the
  // terminator). The low 10 bits of a sum of four stay apart from the codes.
  static constexpr int kMaxPackedBits = kMaxFastBits / 2;
  static constexpr int kPackedShift = 10;
  static constexpr uint64_t kPackedStop = 64;
  std::array<uint64_t, 256> packed{};
  // For codes longer than kMaxFastBits: the code as '0'/'1' characters, root
  // bit first. Empty for every other character.
  std::array<std::string, 256> long_codes{};
  // The longest code of any character: it bounds the bytes a text can take.
  int32_t max_length = 0;
  // Characters that have a code but whose node is not a leaf (an interior
  // node carries the byte too, and comes first): the decoder does not stop
  // at the end of such a code, so a text holding one cannot decode back.
  std::array<bool, 256> not_leaf{};
  bool any_not_leaf = false;  // whether any entry of not_leaf is set
};

// Turns the tree's bit paths (leaf first) into codes (root first). A
// character with no node, or whose node has an empty bit path, gets none.
CodeTable BuildCodeTable(const CodeTree& tree);

// What EncodeString met: every character encoded, or the first one that has
// no code (its position in the text given and its byte).
struct EncodeResult {
  bool ok = true;
  size_t position = 0;
  unsigned char byte = 0;
};

// Appends the code of `text` to *out: the text up to and including its first
// '|' (all of it when there is none), each character's code root first, most
// significant bit first, the last byte padded with 0 bits. At a character
// that has no code it stops; the bits before it are kept and padded.
EncodeResult EncodeString(std::string_view text, const CodeTable& table,
                          std::string* out);

// The first character of `text`, cut after its first '|', that has no code
// or whose code does not end at a leaf; ok when every one encodes soundly.
EncodeResult FindUnencodable(std::string_view text, const CodeTable& table);

// The text up to and including its first '|', or all of it.
std::string_view CutAfterTerminator(std::string_view text);

}  // namespace vorlex::core

#endif  // VORLEX_PACK_ENCODER_H_
