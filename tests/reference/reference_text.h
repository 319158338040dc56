// A second reader of the text file, written from the text file's rules
// alone and kept plain: the block packer is checked against it by the tests
// and the text reader fuzz target.
#ifndef VORLEX_TESTS_REFERENCE_REFERENCE_TEXT_H_
#define VORLEX_TESTS_REFERENCE_REFERENCE_TEXT_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pak/pak_loader.h"

namespace vorlex::core::reference {

// The text file's lines: up to the first byte 26, each ending at LF or CR LF.
class TextLines {
 public:
  explicit TextLines(std::string_view text);
  bool AtEnd() const { return next_ == lines_.size(); }
  std::string_view Next() { return lines_[next_++]; }
  int64_t Consumed() const { return static_cast<int64_t>(next_); }

 private:
  std::vector<std::string_view> lines_;
  size_t next_ = 0;
};

// What the encoder makes of a character: it takes the lowest node that
// carries the character, leaf or not.
enum class Coding {
  kNone,      // no node, or the root: " Error: Char not Found in Tree!"
  kLeaf,      // a code that decodes back
  kInterior,  // an interior node's path: it cannot decode back
};
// For a sound tree, whose interior nodes have both children.
std::array<Coding, 256> CodingsOf(const std::vector<TreeNode>& nodes);

// The count of the first line holding "Number of Blocks:" in any case, with
// the line a command prints for it appended to *out.
std::optional<int32_t> ReadCountLine(TextLines& lines, std::string* out);

// One block section as the rules read it.
struct SectionModel {
  int32_t n = -1;
  bool complete = false;
  bool sound = true;
  std::vector<std::string> strings;  // cut after their first '|'
  std::string bytes;                 // the block, when it is sound
};

// Reads the next block section; *id keeps the last "ID:" value, *out gets
// the error lines printed on standard output.
SectionModel ReadSection(TextLines& lines, const std::vector<TreeNode>& nodes,
                         const std::array<Coding, 256>& coding, int32_t* id,
                         std::string* out);

}  // namespace vorlex::core::reference

#endif  // VORLEX_TESTS_REFERENCE_REFERENCE_TEXT_H_
