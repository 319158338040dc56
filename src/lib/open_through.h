// Opening a pakfile through a given file layer: the one seam by which tests
// make the library's file calls fail. Programs use OpenPakfile, which passes
// the real file system.
#ifndef VORLEX_LIB_OPEN_THROUGH_H_
#define VORLEX_LIB_OPEN_THROUGH_H_

#include <memory>
#include <optional>
#include <string>

#include "base/file_io.h"
#include "vorlex/vorlex.h"

namespace vorlex {

// As OpenPakfile; the Pakfile made, and every one written through it, reads
// and writes the file through `files`.
std::optional<Pakfile> OpenPakfileThrough(
    std::shared_ptr<core::FileSystem> files, const std::string& path,
    Error* error);

}  // namespace vorlex

#endif  // VORLEX_LIB_OPEN_THROUGH_H_
