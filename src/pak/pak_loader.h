// The in-memory tables of a loaded pakfile.
#ifndef VORLEX_PAK_PAK_LOADER_H_
#define VORLEX_PAK_PAK_LOADER_H_

#include <cstdint>
#include <string_view>
#include <vector>

namespace vorlex::core {

struct PakHeader {
  int32_t node_count = 0;   // N, 0 to 65535
  int32_t block_count = 0;  // B, 0 to 65535
};

// One node record. Node k is the k-th record of the file; the root is N-1.
struct TreeNode {
  int32_t char_ = 0;    // the character of a leaf
  int32_t parent = 0;   // node number of the parent
  int32_t child_l = 0;  // reached by a 0 bit; 255: no child
  int32_t child_r = 0;  // reached by a 1 bit; 255: no child
};

// One directory entry. Entry b of a BlockDirectory describes block number b,
// the number the text file and the command line use.
struct BlockEntry {
  int32_t id = 0;
  // Held wider than the file's field so that moving every block (the add
  // step) never wraps; loaded values are those BytesToInteger gives.
  int64_t offset = 0;
};
using BlockDirectory = std::vector<BlockEntry>;

// Reads N and B from the start of a pakfile's bytes. Fields that the end of
// the file cuts short read as the bytes present, and as 0 when none are.
PakHeader LoadPakHeader(std::string_view pak_bytes);

// Reads the N node records and the B directory entries, with the same
// tolerance for a file that ends early (a missing node byte reads as 0).
void LoadTreeAndDirectory(std::string_view pak_bytes, const PakHeader& header,
                          std::vector<TreeNode>* nodes,
                          BlockDirectory* directory);

}  // namespace vorlex::core

#endif  // VORLEX_PAK_PAK_LOADER_H_
