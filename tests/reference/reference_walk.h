// Reference models for tests and fuzz targets, written from the format alone
// and kept plain rather than fast: the product's decoders are checked
// against them.
#ifndef VORLEX_TESTS_REFERENCE_REFERENCE_WALK_H_
#define VORLEX_TESTS_REFERENCE_REFERENCE_WALK_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "extract/decoder.h"
#include "pak/pak.h"

namespace vorlex::core::reference {

// The decoder as the format describes it: from the root, a 0 bit to Child-L
// and a 1 bit to Child-R, node numbers beyond the table reading as an
// all-zero record; a node is a leaf when its child on the side just taken is
// 255; a terminator ends the string and the rest of its byte; at most n
// strings, and one the bytes end before its terminator is dropped.
DecodedBlock WalkBitByBit(std::string_view block,
                          const std::vector<TreeNode>& nodes);

// The whole of block `b` as the format defines it: from its Offset to the
// next block's (the last to the end of the file), zeros outside the file.
// Aborts beyond `limit` bytes.
std::string WholeBlock(const LoadedPak& pak, size_t b, int64_t limit);

}  // namespace vorlex::core::reference

#endif  // VORLEX_TESTS_REFERENCE_REFERENCE_WALK_H_
