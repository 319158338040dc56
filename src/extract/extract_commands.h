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
void ExtractAll(const std::string& pakfile, const std::string& txtfile,
                const LoadedPak& pak, FileSystem& files,
                const RunOptions& options, Console& console);
void ExtractOne(const std::string& pakfile, const std::string& txtfile,
                int32_t block_nr, const LoadedPak& pak, FileSystem& files,
                const RunOptions& options, Console& console);
void ExtractLast(const std::string& pakfile, const std::string& txtfile,
                 int32_t block_nr, const LoadedPak& pak, FileSystem& files,
                 const RunOptions& options, Console& console);

}  // namespace vorlex::core

#endif  // VORLEX_EXTRACT_EXTRACT_COMMANDS_H_
