// Compiled with only include/ on the include path: the public header needs
// nothing but the standard library.
#include "vorlex/vorlex.h"

namespace {

[[maybe_unused]] bool UsesTheInterface(vorlex::Pakfile* pak) {
  vorlex::Error error;
  vorlex::Block block{.id = 1, .strings = {"text|"}};
  return vorlex::BlockCount(*pak) > 0 &&
         vorlex::ReplaceBlocks(pak, 0, {block}, &error);
}

}  // namespace
