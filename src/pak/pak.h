// A pakfile as one run holds it, and the one way it is loaded.
//
// Map of src/pak: pak_format.h gives the layout and the fields' limits,
// fields.h reads and writes little-endian fields, pak_loader.h the header,
// node and directory records; code_tree.h holds the tree with its one leaf
// rule (StepDown) and the tables derived from it; this file loads all of it
// (LoadPak) and gives each block's extent.
#ifndef VORLEX_PAK_PAK_H_
#define VORLEX_PAK_PAK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "pak/code_tree.h"
#include "pak/pak_loader.h"

namespace vorlex::core {

struct LoadedPak {
  std::string bytes;  // the whole file as read
  PakHeader header;
  CodeTree tree;
  BlockDirectory directory;
  // The nodes whose bit path is broken, in node order: each is worth one
  // "Error in Tree!".
  std::vector<int32_t> broken_nodes;
};

// Loads a pakfile from its bytes, as the commands and the library do: the
// counts, then (unless the block count is 0, which leaves the rest empty) the
// node table, the directory and the code tree's tables. A file cut short
// reads as the bytes present; loading itself never fails.
LoadedPak LoadPak(std::string bytes);

// The extent of block `block`: from its Offset to the next block's, the last
// block to `file_length`; 0 where the Offsets do not rise.
int64_t BlockExtent(const BlockDirectory& directory, int64_t file_length,
                    size_t block);
std::vector<int64_t> BlockExtents(const BlockDirectory& directory,
                                  int64_t file_length);

}  // namespace vorlex::core

#endif  // VORLEX_PAK_PAK_H_
