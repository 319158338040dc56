// The Vorlex library: reads the strings of a pakfile and writes new ones with
// the pakfile's own code tree, for programs such as editors and script
// bindings. It needs only the C++ standard library and prints nothing.
//
//   vorlex::Error error;
//   std::optional<vorlex::Pakfile> pak = vorlex::OpenPakfile("game.pak",
//                                                            &error);
//   if (!pak) return Complain(error.message);
//   std::optional<vorlex::Block> block = vorlex::ReadBlock(*pak, 0, &error);
//   if (!block) return Complain(error.message);
//   block->strings[0] = "Open the gate|";
//   if (!vorlex::ReplaceBlocks(&*pak, 0, {*block}, &error)) {
//     return Complain(error.message);  // game.pak is as it was
//   }
//
// Strings are byte strings: a character is one byte, never converted. Every
// string of a block ends with the terminator '|' and holds no other.
//
// Errors come back as values, never as exceptions. A function that can fail
// returns false or nothing and, when `error` is not null, puts the reason in
// it: the file, the block, the string and, for a character that cannot be
// encoded, its byte value.
//
// Writing is all or nothing. Every new block is encoded and decoded back
// before the file is touched; if anything is wrong (a character without a
// code, a string that does not decode back, a value too large for its field,
// a read-only file, a file changed since it was opened, a failed write) the
// pakfile stays byte for byte as it was. The new contents go to a temporary
// file beside the pakfile, are flushed to disk and renamed over it, so that
// a crash at any moment leaves the old file or the new one; where no
// temporary file can be made, nothing is written. While it writes, the
// library holds the lock that the vorlex program's packing commands take
// (flock, waiting up to 10 seconds for another holder). Only a regular file
// of at most 4 GiB is opened as a pakfile. A write that
// would not change a byte does not touch the file. A pakfile is never
// shortened, and its code tree is never changed.
#ifndef VORLEX_VORLEX_H_
#define VORLEX_VORLEX_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Marks the functions the library exports; a shared libvorlex hides all else.
#if defined(__GNUC__)
#define VORLEX_API __attribute__((visibility("default")))
#else
#define VORLEX_API
#endif

namespace vorlex {

// The character that ends every string.
inline constexpr char kStringTerminator = '|';

struct Error {
  std::string message;
};

// What the library holds of an open pakfile; defined inside the library.
struct PakfileData;

// A pakfile read whole into memory, its code tree ready for decoding and
// encoding. Copies are cheap and share what they hold, which never changes:
// a successful write gives the Pakfile it was made through the new contents
// and leaves other copies as they were (a later write through one of them is
// refused, since the file changed under it). A default-made Pakfile is not
// open: it has no blocks and every write through it fails.
struct Pakfile {
  std::shared_ptr<const PakfileData> data;
};

// One block: its ID and its strings, in order, each ending with '|'.
struct Block {
  int id = 0;  // 0 to 65535
  std::vector<std::string> strings;
  // Set by ReadBlock: the string count stored in the block, and whether all
  // of those strings were decoded. A damaged or cut-short block gives fewer
  // strings than its count and `complete` false. The writers ignore
  // `stored_count` and refuse a block whose `complete` is false, so that a
  // damaged block is not written back shorter by accident; set it to true to
  // write it as it stands.
  int stored_count = 0;
  bool complete = true;
};

// Reads the pakfile at `path`, which is only read: never created, never
// changed. Fails when it cannot be read or has no blocks. A damaged code tree
// does not make it fail (see BrokenTreeNodes).
VORLEX_API std::optional<Pakfile> OpenPakfile(const std::string& path,
                                              Error* error);

// The path the pakfile was opened from, where writes go; empty if not open.
VORLEX_API const std::string& PakfilePath(const Pakfile& pak);

// The number of nodes of the code tree (0 to 65535).
VORLEX_API int NodeCount(const Pakfile& pak);

// The number of blocks (1 to 65535; 0 if not open).
VORLEX_API int BlockCount(const Pakfile& pak);

// The ID of block `block` (0 to BlockCount - 1), or -1 for no such block.
VORLEX_API int BlockId(const Pakfile& pak, int block);

// The nodes of the code tree whose path to the root is broken, in node order;
// empty for a sound tree. Characters there may lack a code, and a string that
// would not decode back is refused by the writers.
VORLEX_API std::vector<int> BrokenTreeNodes(const Pakfile& pak);

// Decodes block `block` (0 to BlockCount - 1). Fails only for a block number
// outside the pakfile; a damaged block gives what could be decoded.
VORLEX_API std::optional<Block> ReadBlock(const Pakfile& pak, int block,
                                          Error* error);

// The code of `text` with the pakfile's tree: each character's code, most
// significant bit first, the last byte padded with 0 bits. `text` may end
// with '|' and holds no other. Fails naming the first character that has no
// code, by its byte value and position; a character whose entry in the tree
// names a node that is not a leaf (an interior node carrying the same byte)
// has none, since its code would not decode back. The writers refuse such
// characters alike.
VORLEX_API std::optional<std::string> EncodeString(const Pakfile& pak,
                                                   std::string_view text,
                                                   Error* error);

// Replaces blocks `first` to `first` + blocks.size() - 1 with `blocks`. The
// new blocks are written from where block `first` starts; blocks after them
// follow, their bytes moved unchanged (they must lie in order in the file).
// Replacing the last blocks writes what `vorlex pakfile txtfile /R` writes
// for a text file of those blocks. Nothing to replace changes nothing.
VORLEX_API bool ReplaceBlocks(Pakfile* pak, int first,
                              const std::vector<Block>& blocks, Error* error);

// Adds `blocks` after the last block. One block is added exactly as
// `vorlex pakfile txtfile /A` adds it.
VORLEX_API bool AppendBlocks(Pakfile* pak, const std::vector<Block>& blocks,
                             Error* error);

// Makes `blocks` (at least one) the pakfile's blocks, laid out one after the
// other behind the code tree and a new directory, exactly as
// `vorlex pakfile txtfile /P` does for a text file of them.
VORLEX_API bool RebuildPakfile(Pakfile* pak, const std::vector<Block>& blocks,
                               Error* error);

}  // namespace vorlex

#endif  // VORLEX_VORLEX_H_
