// The extract commands: /E (all blocks), /E with a block nr (one block,
// appended), /L (from a block nr to the end).
#ifndef VORLEX_EXTRACT_EXTRACT_COMMANDS_H_
#define VORLEX_EXTRACT_EXTRACT_COMMANDS_H_

#include <cstdint>
#include <string>

#include "base/console.h"
#include "base/file_io.h"
#include "base/run_options.h"
#include "pak/pak.h"

namespace vorlex::core {

// Each writes the text file through `files`.
// Each refuses a txtfile that holds something other than a Vorlex text file
// ("Error: txtfile is not a Vorlex text file!"), unless options.force: a
// file that is not empty must begin (after a UTF-8 byte-order mark) with the
// file header's first words, or for ExtractOne with a block section's.
void ExtractAll(const std::string& pakfile, const std::string& txtfile,
                const LoadedPak& pak, FileSystem& files,
                const RunOptions& options, Console& console);
void ExtractOne(const std::string& pakfile, const std::string& txtfile,
                int32_t block_nr, const LoadedPak& pak, FileSystem& files,
                const RunOptions& options, Console& console);
// Refuses a block nr below 0 or above the block count; at the block count it
// writes the file header alone.
void ExtractLast(const std::string& pakfile, const std::string& txtfile,
                 int32_t block_nr, const LoadedPak& pak, FileSystem& files,
                 const RunOptions& options, Console& console);

}  // namespace vorlex::core

#endif  // VORLEX_EXTRACT_EXTRACT_COMMANDS_H_
