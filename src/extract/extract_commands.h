// The extract commands: /E (all blocks), /E with a block nr (one block,
// appended), /L (from a block nr to the end).
#ifndef VORLEX_EXTRACT_EXTRACT_COMMANDS_H_
#define VORLEX_EXTRACT_EXTRACT_COMMANDS_H_

#include <cstdint>
#include <string>

#include "base/console.h"
#include "pak/pak.h"

namespace vorlex::core {

void ExtractAll(const std::string& pakfile, const std::string& txtfile,
                const LoadedPak& pak, Console& console);
void ExtractOne(const std::string& pakfile, const std::string& txtfile,
                int32_t block_nr, const LoadedPak& pak, Console& console);
void ExtractLast(const std::string& pakfile, const std::string& txtfile,
                 int32_t block_nr, const LoadedPak& pak, Console& console);

}  // namespace vorlex::core

#endif  // VORLEX_EXTRACT_EXTRACT_COMMANDS_H_
