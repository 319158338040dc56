// Encoding a whole block from strings held in memory (not read from a text
// file), with the same checks the packing commands make before they write.
#ifndef VORLEX_PACK_BLOCK_ENCODER_H_
#define VORLEX_PACK_BLOCK_ENCODER_H_

#include <string>
#include <string_view>
#include <vector>

#include "extract/decoder.h"
#include "pack/encoder.h"

namespace vorlex::core {

// A byte as diagnostics name it: "byte 233", or "byte 65 'A'" when printable.
std::string DescribeByteValue(unsigned char byte);

// Why the character FindUnencodable stopped at cannot be encoded, to follow
// "byte 99 'c' (character 2) ": "has no code in <tree_name>", and for a
// character whose node is not a leaf, which node carries it.
std::string UnencodableReason(
    const EncodeResult& bad, const CodeTree& tree, const CodeTable& codes,
    std::string_view tree_name = "the pakfile's tree");

// Why `text` cannot be a string of a block: it must end with the terminator
// '|' and hold no other. The empty text when it can.
std::string StringShapeProblem(const std::string& text);

// Appends the bytes of a block holding `strings` to *out: the string count,
// the relative offsets and the bit data. Every string must have the shape
// above and every character a code that ends at a leaf; the count and every
// relative offset must fit their two-byte fields; and the block must decode
// back to exactly `strings` through `decoder` (made for the tree of `codes`).
// Returns the empty text when all holds, otherwise the first reason it does
// not ("string 3: ...") with *out as it was.
std::string EncodeBlock(const std::vector<std::string>& strings,
                        const BlockDecoder& decoder, const CodeTable& codes,
                        std::string* out);

}  // namespace vorlex::core

#endif  // VORLEX_PACK_BLOCK_ENCODER_H_
