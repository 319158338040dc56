// The packing commands: /P (rebuild the whole pakfile), /R (replace the last
// blocks), /A (add a block, then replace the last blocks). Each reads and
// encodes everything it needs before the pakfile changes, and changes it all
// at once or not at all.
//
// The packing folder, from text file to pakfile:
//   line_reader    the text file's lines
//   text_reader    block sections parsed (ID, indexed strings and their
//                  lines, problems); it neither encodes nor decodes
//   encoder        the code of one string
//   block_encoder  one block: count, relative offsets, codes, the field
//                  limits and the read-back check
//   block_packer   one section into one block, each problem told with its
//                  text-file line
//   image_builder  the new pakfile image: rebuild, replace, the add step,
//                  every placement refusal, the old tail kept
//   pack_commands  dots, messages and the commit
// The library (src/lib) encodes and lays out through the same two,
// block_encoder and image_builder.
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
