// New contents for a pakfile whose new blocks are given as strings in memory
// rather than read from a text file: the layouts that the packing commands
// write, and the same checks before anything is written.
#ifndef VORLEX_PACK_PAK_EDIT_H_
#define VORLEX_PACK_PAK_EDIT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pack/encoder.h"
#include "pak/pak.h"

namespace vorlex::core {

struct NewBlock {
  int64_t id = 0;                    // 0 to 65535
  std::vector<std::string> strings;  // each ends with its terminator '|'
};

// Each builder returns the whole new contents of the pakfile, never shorter
// than pak.bytes (old bytes past the new end stay, as the commands keep
// them), or nothing, with the first reason in *why. `codes` is
// BuildCodeTable(pak.tree).

// Blocks `first` to `first` + blocks.size() - 1 replaced by `blocks`, written
// from block `first`'s Offset on. Blocks after them follow the new ones,
// their bytes moved unchanged and their Offsets moved with them; this needs
// them to lie in directory order inside the file. When the replaced blocks
// are the last ones, the result is what /R writes for them.
std::optional<std::string> ReplaceBlocksImage(
    const LoadedPak& pak, const CodeTable& codes, int64_t first,
    const std::vector<NewBlock>& blocks, std::string* why);

// `blocks` added after the last block: one add step per block, then the new
// blocks written as the last ones. For one block the result is what /A
// writes.
std::optional<std::string> AppendBlocksImage(
    const LoadedPak& pak, const CodeTable& codes,
    const std::vector<NewBlock>& blocks, std::string* why);

// Every block from `blocks`, one after the other behind the node table and a
// new directory, as /P writes them. At least one block is needed.
std::optional<std::string> RebuildImage(const LoadedPak& pak,
                                        const CodeTable& codes,
                                        const std::vector<NewBlock>& blocks,
                                        std::string* why);

}  // namespace vorlex::core

#endif  // VORLEX_PACK_PAK_EDIT_H_
