// Compiled with only include/ on the include path: the public header needs
// nothing but the standard library.
#include "vorlex/vorlex.h"

[[maybe_unused]] static bool Uses(vorlex::Pakfile* pak, vorlex::Error* error) {
  return vorlex::ReplaceBlocks(pak, vorlex::BlockCount(*pak),
                               {{.id = 1, .strings = {"text|"}}}, error);
}
