// The packing commands: /P (rebuild the whole pakfile), /R (replace the last
// blocks), /A (add a block, then replace the last blocks). Each reads and
// encodes everything it needs before the pakfile changes, and changes it all
// at once or not at all.
#ifndef VORLEX_PACK_PACK_COMMANDS_H_
#define VORLEX_PACK_PACK_COMMANDS_H_

#include <string>

#include "base/console.h"
#include "base/file_io.h"
#include "base/run_options.h"
#include "pak/pak.h"

namespace vorlex::core {

// Each reads the text file and writes the pakfile through `files`.
void RebuildPak(const std::string& pakfile, const std::string& txtfile,
                LoadedPak& pak, FileSystem& files, const RunOptions& options,
                Console& console);
void ReplaceLastBlocks(const std::string& pakfile, const std::string& txtfile,
                       LoadedPak& pak, FileSystem& files,
                       const RunOptions& options, Console& console);
// The add step (AddEmptyBlock) followed by ReplaceLastBlocks in one run.
void AddBlock(const std::string& pakfile, const std::string& txtfile,
              LoadedPak& pak, FileSystem& files, const RunOptions& options,
              Console& console);

}  // namespace vorlex::core

#endif  // VORLEX_PACK_PACK_COMMANDS_H_
