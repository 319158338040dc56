// The report of --info: what a pakfile holds, for people and for scripts.
#ifndef VORLEX_EXTRACT_PAK_REPORT_H_
#define VORLEX_EXTRACT_PAK_REPORT_H_

#include <cstdint>
#include <string>

#include "base/alphabet.h"
#include "pak/pak.h"

namespace vorlex::core {

// The number of bits of character c's code when encoding c with `tree` and
// decoding the code back gives c again; 0 when c cannot be encoded (no node
// carries it, its node is the root, or its code does not lead to a leaf that
// carries c).
int32_t SoundCodeLength(const CodeTree& tree, unsigned char c);

// The report on `pak`, one record per line, LF line ends, each record a word
// and its fields separated by single blanks, in this order:
//   file-size BYTES
//   node-count N
//   broken-nodes COUNT [NODE ...]
//   charset NAME                    only with --charset or --table
//   alphabet COUNT                  then COUNT records, in byte order:
//   code CHAR BITS [TEXT]           TEXT with --charset or --table
//   not-encodable COUNT [CHAR ...]  the printable ASCII characters, 32 to 126
//   block-count B                   then B records, in directory order:
//   block NR ID OFFSET LENGTH STRINGS complete|incomplete
//   stale-bytes BYTES
// CHAR is the character itself for 33 to 126 and 0x followed by two upper
// case hexadecimal digits for every other byte (the blank is 0x20). LENGTH is
// the block's extent (to the next block's Offset); for the last block, when
// it decodes completely, the bytes its strings take, and the rest of the file
// after them are the stale bytes (otherwise 0). TEXT is the character's
// text in the chosen code page or table, blanks and control characters
// written as U+ and four or more hexadecimal digits.
std::string PakReport(const LoadedPak& pak, const Alphabet* alphabet = nullptr);

}  // namespace vorlex::core

#endif  // VORLEX_EXTRACT_PAK_REPORT_H_
