// The text file as the extract commands write it: a file header, then one
// block section per block, every line ending in CR LF.
//
//   Strings extracted from: <pakfile as typed>
//   Number of Nods: <N>
//   Number of Blocks: <sections that follow>
//   <rule line>
//   Block Nr: <b>
//   ID: <id>
//   Nr of Strings: <count stored in the block>
//   0:  <string 0, terminator included>
//   ...
//   <rule line>
#ifndef VORLEX_EXTRACT_TEXT_WRITER_H_
#define VORLEX_EXTRACT_TEXT_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "base/alphabet.h"
#include "extract/decoder.h"

namespace vorlex::core {

inline constexpr std::string_view kRuleLine =
    "------------------------------------------------------------------------"
    "------";

void AppendFileHeader(std::string_view pakfile, int64_t node_count,
                      int64_t block_count, std::string* out);

// The section of block number `block_nr`: its three header lines, one line
// per decoded string (an LF inside a string is written in place) and the rule
// line. With an alphabet the strings are written as its UTF-8 texts.
void AppendBlockSection(int64_t block_nr, int64_t id,
                        const DecodedBlock& decoded, std::string* out,
                        const Alphabet* alphabet = nullptr);

// What the text file cannot carry back unchanged when it is packed again.
// A CR directly before an LF comes back as the LF alone, since the reader
// takes CR LF as one line end.
bool HoldsCrLf(std::string_view decoded_string);
// The byte 26 ends the text file for the reader (pack/line_reader.h).
inline constexpr char kEndOfText = 26;
bool HoldsEndOfText(std::string_view decoded_string);

}  // namespace vorlex::core

#endif  // VORLEX_EXTRACT_TEXT_WRITER_H_
