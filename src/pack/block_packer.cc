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

void BlockPacker::ConvertStrings(int64_t block_nr, PackedSection* packed,
                                 bool tell) {
  converted_.clear();
  converted_ends_.clear();
  for (size_t k = 0; k < section_.strings.size(); ++k) {
    text_problems_.clear();
    StringTextToBytes(section_.strings[k].text,
                      {.line = section_.string_lines[k],
                       .column = section_.string_columns[k]},
                      *alphabet_, &converted_, &text_problems_);
    converted_ends_.push_back(converted_.size());
    if (!tell) continue;
    for (const TextProblem& problem : text_problems_) {
      Tell(block_nr, problem.line, {}, problem.what, packed);
    }
  }
  size_t begin = 0;
  for (size_t k = 0; k < section_.strings.size(); ++k) {
    section_.strings[k].text =
        std::string_view(converted_).substr(begin, converted_ends_[k] - begin);
    begin = converted_ends_[k];
  }
}

void BlockPacker::CountSection(CharacterCounts* counts) {
  ReadTextSection(reader_, &section_);
  PackedSection ignored;
  if (alphabet_) ConvertStrings(0, &ignored, /*tell=*/false);
  for (const BlockString& string : section_.strings) {
    CountCharacters(string.text, counts);
  }
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
  if (alphabet_) ConvertStrings(block_nr, &packed, /*tell=*/true);
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
      const bool no_code = problem.kind == BlockProblem::Kind::kNoCode;
      std::string what = problem.what;
      if (no_code && alphabet_) {
        const auto byte = static_cast<uint8_t>(
            section_.strings[problem.string].text[problem.position]);
        const std::string& shown = alphabet_->texts[byte];
        if (shown != std::string(1, static_cast<char>(byte))) {
          what += " (\"" + shown + "\" in " + alphabet_->name + ")";
        }
      }
      Tell(block_nr, ProblemLine(section_, problem),
           no_code ? kNoCode : std::vector<std::string>{}, what, &packed);
      if (no_code && !hinted_) {
        // Without an alphabet the texts are the bytes as written.
        const std::string hint =
            alphabet_ ? "the pakfile's tree lacks characters of the text; "
                        "--new-tree with /P makes a tree that holds them"
                      : Utf8Hint(section_.strings[problem.string].text,
                                 problem.position, coder_.codes);
        if (!hint.empty()) console_.Diagnose(txt_name_ + ": " + hint);
        hinted_ = !hint.empty();
      }
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
