#include "pack/pack_commands.h"

namespace vorlex {

void RebuildPak(const std::string&, const std::string&, LoadedPak&,
                Console& console) {
  console.PrintError("Error: /P is not built yet");
}
void ReplaceLastBlocks(const std::string&, const std::string&, LoadedPak&,
                       Console& console) {
  console.PrintError("Error: /R is not built yet");
}
void AddBlock(const std::string&, const std::string&, LoadedPak&,
              Console& console) {
  console.PrintError("Error: /A is not built yet");
}

}  // namespace vorlex
