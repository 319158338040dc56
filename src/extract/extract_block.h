// One block of a loaded pakfile: its bytes and its section of the text file.
#ifndef VORLEX_EXTRACT_EXTRACT_BLOCK_H_
#define VORLEX_EXTRACT_EXTRACT_BLOCK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/alphabet.h"
#include "extract/decoder.h"
#include "pak/pak.h"

namespace vorlex::core {

// The bytes of block `block` as the decoder reads them, positions outside the
// file (past its end, or before its start) reading as 0. A block that lies
// inside the file is a view into pak.bytes; any other is built in *scratch,
// and only as far as it can change what DecodeBlock gives: a block that runs
// far past the end of the file keeps its real bytes and enough zeros for
// every string that zeros could still finish.
std::string_view BlockBytes(const LoadedPak& pak, size_t block,
                            std::string* scratch);

// Decodes block `block` with `decoder` (made for pak.tree), as
// decoder.Decode(BlockBytes(...)) would, in place in the file where it can;
// `memo` (made for pak.bytes) is shared by the blocks of one pakfile.
DecodedBlock DecodePakBlock(const LoadedPak& pak, const BlockDecoder& decoder,
                            size_t block, StringEndMemo* memo);

// Decodes block `block` as DecodePakBlock does and appends its section of
// the text file to *out, the strings through `alphabet` if given.
DecodedBlock ExtractBlock(const LoadedPak& pak, const BlockDecoder& decoder,
                          size_t block, StringEndMemo* memo, std::string* out,
                          const Alphabet* alphabet = nullptr);

}  // namespace vorlex::core

#endif  // VORLEX_EXTRACT_EXTRACT_BLOCK_H_
