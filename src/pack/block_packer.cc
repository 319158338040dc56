#include "pack/block_packer.h"

#include <algorithm>
#include <string_view>

namespace vorlex::core {
namespace {

// The text file's line of a problem the block encoder found.
int64_t ProblemLine(const TextSection& section, const BlockProblem& problem) {
  if (problem.string == BlockProblem::kWholeBlock) return section.count_line;
  const int64_t line = section.string_lines[problem.string];
  if (problem.kind != BlockProblem::Kind::kNoCode) return line;
  const std::string_view before =
      section.strings[problem.string].text.substr(0, problem.position);
  return line + std::count(before.begin(), before.end(), '\n');
}

}  // namespace

void BlockPacker::Tell(int64_t block_nr, int64_t line,
                       const std::vector<std::string>& messages,
                       const std::string& what, PackedSection* packed,
                       bool tell) {
  for (const std::string& message : messages) console_.PrintError(message);
  std::string text = txt_name_ + ":" + std::to_string(line) + ": block " +
                     std::to_string(block_nr) + ": " + what;
  if (tell) console_.Diagnose(text);
  if (packed->problem.empty()) packed->problem = std::move(text);
  ++packed->problems;
}

PackedSection BlockPacker::PackBlock(int64_t block_nr, std::string* out) {
  PackedSection packed;
  packed.start = out->size();
  ReadTextSection(reader_, &section_);
  packed.string_count = section_.string_count;
  packed.complete = section_.complete;
  for (const SectionProblem& problem : section_.problems) {
    Tell(block_nr, problem.line, problem.messages, problem.what, &packed);
  }
  problems_.clear();
  if (section_.string_count >= 0 &&
      !EncodeBlock(section_.string_count, section_.strings, coder_, out,
                   &problems_)) {
    static const std::vector<std::string> kNoCode = {
        " Error: Char not Found in Tree!"};
    for (const BlockProblem& problem : problems_) {
      // A section cut short misses its last index by nature; the end of the
      // text file is told instead, below.
      if (!section_.complete &&
          problem.kind == BlockProblem::Kind::kMissingIndex) {
        continue;
      }
      Tell(block_nr, ProblemLine(section_, problem),
           problem.kind == BlockProblem::Kind::kNoCode
               ? kNoCode
               : std::vector<std::string>{},
           problem.what, &packed);
    }
  }
  if (!section_.complete) {
    Tell(block_nr, section_.end_line, {}, section_.unfinished, &packed,
         !told_end_);
    told_end_ = true;
  }
  if (!packed.sound()) out->resize(packed.start);
  return packed;
}

}  // namespace vorlex::core
