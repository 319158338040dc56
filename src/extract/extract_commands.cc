#include "extract/extract_commands.h"

namespace vorlex {

void ExtractAll(const std::string&, const std::string&, const LoadedPak&,
                Console& console) {
  console.PrintError("Error: /E is not built yet");
}
void ExtractOne(const std::string&, const std::string&, int32_t,
                const LoadedPak&, Console& console) {
  console.PrintError("Error: /E is not built yet");
}
void ExtractLast(const std::string&, const std::string&, int32_t,
                 const LoadedPak&, Console& console) {
  console.PrintError("Error: /L is not built yet");
}

}  // namespace vorlex
