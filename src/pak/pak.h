// A pakfile as one run holds it.
#ifndef VORLEX_PAK_PAK_H_
#define VORLEX_PAK_PAK_H_

#include <string>

#include "pak/code_tree.h"
#include "pak/pak_loader.h"

namespace vorlex::core {

struct LoadedPak {
  std::string bytes;  // the whole file as read at start-up
  PakHeader header;
  CodeTree tree;
  BlockDirectory directory;
};

}  // namespace vorlex::core

#endif  // VORLEX_PAK_PAK_H_
