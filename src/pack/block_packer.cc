#include "pack/block_packer.h"

#include <algorithm>
#include <string_view>

namespace vorlex::core {
namespace {

// "1 more problem", "2 more problems".
std::string MoreProblems(size_t count) {
  return std::to_string(count) +
         (count == 1 ? " more problem" : " more problems");
}

// The line and column of `position` in a string that begins at `place`.
std::pair<int64_t, int64_t> LineAndColumn(const TextSection::Place& place,
                                          std::string_view text,
                                          size_t position) {
  const std::string_view before = text.substr(0, position);
  const int64_t breaks = std::count(before.begin(), before.end(), '\n');
  const int64_t column =
      breaks == 0 ? place.column + static_cast<int64_t>(position)
                  : static_cast<int64_t>(position - before.rfind('\n'));
  return {place.line + breaks, column};
}

}  // namespace

std::string BlockPacker::Where(int64_t line, int64_t block_nr) const {
  return txt_name_ + ":" + std::to_string(line) + ": block " +
         std::to_string(block_nr) + ": ";
}

std::string BlockPacker::NoCodeMessage(const BlockProblem& problem,
                                       int64_t* line) const {
  const std::string_view text = section_->strings[problem.string].text;
  const TextSection::Place& place = section_->places[problem.string];
  *line = LineAndColumn(place, text, problem.position).first;
  // "column 7", or "line 9, column 2" off the line the message names.
  auto where = [&](size_t at) {
    const auto [at_line, column] = LineAndColumn(place, text, at);
    return (at_line == *line ? "" : "line " + std::to_string(at_line) + ", ") +
           "column " + std::to_string(column);
  };
  const std::string string =
      "string " + std::to_string(section_->strings[problem.string].index);
  if (problem.positions.size() <= 1) {
    return DescribeByteValue(
               static_cast<unsigned char>(text[problem.position])) +
           " (character " + std::to_string(problem.position + 1) + " of " +
           string + ", " + where(problem.position) +
           ") has no code in the pakfile's tree";
  }
  std::string what = string + " holds " +
                     std::to_string(problem.positions.size()) +
                     " characters that have no code in the pakfile's tree:";
  for (size_t k = 0; k < problem.positions.size(); ++k) {
    const size_t at = problem.positions[k];
    what += (k == 0 ? " " : ", ") +
            DescribeByteValue(static_cast<unsigned char>(text[at])) + " (" +
            where(at) + ")";
  }
  return what;
}

void BlockPacker::ConvertStrings(Pending* pending) const {
  TextSection& section = pending->section;
  pending->converted.clear();
  pending->converted_ends.clear();
  pending->not_converted.clear();
  for (size_t k = 0; k < section.strings.size(); ++k) {
    pending->text_problems.clear();
    StringTextToBytes(
        section.strings[k].text,
        {.line = section.places[k].line, .column = section.places[k].column},
        *alphabet_, &pending->converted, &pending->text_problems);
    pending->converted_ends.push_back(pending->converted.size());
    for (TextProblem& problem : pending->text_problems) {
      pending->not_converted.emplace_back(problem.line,
                                          std::move(problem.what));
    }
  }
  size_t begin = 0;
  for (size_t k = 0; k < section.strings.size(); ++k) {
    section.strings[k].text =
        std::string_view(pending->converted)
            .substr(begin, pending->converted_ends[k] - begin);
    begin = pending->converted_ends[k];
  }
}

void BlockPacker::CountSection(CharacterCounts* counts) {
  ReadSection(&pending_);
  for (const BlockString& string : pending_.section.strings) {
    CountCharacters(string.text, counts);
  }
}

void BlockPacker::ReadSection(Pending* pending) {
  ReadTextSection(reader_, &pending->section);
  pending->block_id = reader_.current_block_id;
  if (alphabet_) ConvertStrings(pending);
}

void BlockPacker::EncodeSection(Pending* pending, std::string* out) const {
  pending->in_output = out != nullptr;
  if (out == nullptr) {
    pending->bytes.clear();
    out = &pending->bytes;
  }
  pending->start = out->size();
  pending->problems.clear();
  const TextSection& section = pending->section;
  if (section.string_count >= 0) {
    EncodeBlock(section.string_count, section.strings, coder_, out,
                &pending->problems);
  }
}

PackedSection BlockPacker::PackBlock(int64_t block_nr, std::string* out) {
  ReadSection(&pending_);
  EncodeSection(&pending_, out);
  return TellSection(block_nr, &pending_, out);
}

PackedSection BlockPacker::TellSection(int64_t block_nr, Pending* pending,
                                       std::string* out) {
  const TextSection& section = pending->section;
  section_ = &section;
  PackedSection packed;
  packed.start = pending->in_output ? pending->start : out->size();
  packed.string_count = section.string_count;
  packed.complete = section.complete;
  found_.clear();
  for (const SectionProblem& problem : section.problems) {
    for (const std::string& message : problem.messages) {
      console_.PrintError(message);
    }
    found_.push_back({problem.line, problem.what, problem.cause});
  }
  for (const auto& [line, what] : pending->not_converted) {
    found_.push_back({line, what});
  }
  for (const BlockProblem& problem : pending->problems) {
    // A section cut short misses its last index by nature; the end of the
    // text file is told instead, below.
    if (!section.complete &&
        problem.kind == BlockProblem::Kind::kMissingIndex) {
      continue;
    }
    if (problem.string == BlockProblem::kWholeBlock) {
      found_.push_back({section.count_line, problem.what});
      continue;
    }
    int64_t line = section.places[problem.string].line;
    if (problem.kind != BlockProblem::Kind::kNoCode) {
      found_.push_back({line, problem.what});
      continue;
    }
    console_.PrintError(" Error: Char not Found in Tree!");
    const std::string_view text = section.strings[problem.string].text;
    if (alphabet_ == nullptr) {
      std::string what = NoCodeMessage(problem, &line);
      found_.push_back({line, std::move(what)});
    } else {
      // The text is the alphabet's bytes now, not the line as written.
      const std::string_view before = text.substr(0, problem.position);
      line += std::count(before.begin(), before.end(), '\n');
      std::string what = problem.what;
      const auto byte = static_cast<uint8_t>(text[problem.position]);
      const std::string& shown = alphabet_->texts[byte];
      if (shown != std::string(1, static_cast<char>(byte))) {
        what += " (\"" + shown + "\" in " + alphabet_->name + ")";
      }
      found_.push_back({line, std::move(what)});
    }
    if (!hinted_) {
      // Without an alphabet the texts are the bytes as written.
      const std::string hint =
          alphabet_ ? "the pakfile's tree lacks characters of the text; "
                      "--new-tree with /P makes a tree that holds them"
                    : Utf8Hint(text, problem.position, coder_.codes);
      if (!hint.empty()) console_.Diagnose(txt_name_ + ": " + hint);
      hinted_ = !hint.empty();
    }
  }
  if (!section.complete) {
    found_.push_back({section.end_line, section.unfinished});
  }
  TellBlock(block_nr, &packed);
  previous_count_line_ = section.count_line;
  previous_count_ = section.string_count;
  previous_complete_ = section.complete;
  previous_refused_ = !packed.sound();
  has_previous_ = true;
  if (!packed.sound()) {
    if (pending->in_output) out->resize(packed.start);
  } else if (!pending->in_output) {
    out->append(pending->bytes);
  }
  return packed;
}

void BlockPacker::TellBlock(int64_t block_nr, PackedSection* packed) {
  if (found_.empty()) return;
  packed->problems = static_cast<int64_t>(found_.size());
  // A section that begins with string lines holds the strings of the block
  // before, whose count was too low: that count is the cause.
  const bool strays_of_previous =
      section_->stray_line != 0 && has_previous_ && previous_complete_;
  if (strays_of_previous && previous_refused_) {
    // All of it follows from the block before, which was told.
    packed->problem = Where(section_->stray_line, block_nr) +
                      "string lines left over from block " +
                      std::to_string(block_nr - 1);
    return;
  }
  // The end of the text file is told once, however many blocks it cuts off.
  const bool end_told_before = told_end_;
  if (!section_->complete) told_end_ = true;
  if (found_.size() == 1 && !section_->complete && end_told_before) {
    packed->problem =
        Where(found_.front().line, block_nr) + found_.front().what;
    return;
  }
  std::string first;
  size_t others = found_.size() - 1;
  if (strays_of_previous && previous_count_ > 0) {
    first = Where(previous_count_line_, block_nr - 1) +
            "\"Nr of Strings:\" counts " + std::to_string(previous_count_) +
            (previous_count_ == 1 ? " string" : " strings") +
            ", but more string lines follow it (line " +
            std::to_string(section_->stray_line) + ")";
    others = found_.size();
    ++packed->problems;
  } else {
    // A header value of its own first, then a string that took in the lines
    // after it for want of its final '|', else the first in line order.
    const auto cause = std::find_if(found_.begin(), found_.end(),
                                    [](const Found& f) { return f.cause; });
    const auto swallowing =
        std::find_if(section_->places.begin(), section_->places.end(),
                     [](const TextSection::Place& p) { return p.swallowed; });
    if (cause != found_.end()) {
      first = Where(cause->line, block_nr) + cause->what;
    } else if (swallowing != section_->places.end()) {
      const size_t k =
          static_cast<size_t>(swallowing - section_->places.begin());
      const int64_t from = swallowing->line + 1;
      const std::string own = "line " + std::to_string(swallowing->swallowed) +
                              " reads like a line of its own";
      first = Where(swallowing->line, block_nr) + "string " +
              std::to_string(section_->strings[k].index) +
              " does not end with '|', so it took in " +
              (swallowing->last == from
                   ? "line " + std::to_string(from) +
                         ", which reads like a line of its own"
                   : "lines " + std::to_string(from) + " to " +
                         std::to_string(swallowing->last) + " (" + own + ")");
      others = found_.size();
      ++packed->problems;
    } else {
      first = Where(found_.front().line, block_nr) + found_.front().what;
    }
  }
  packed->problem = first;
  if (others > 0) first += " (and " + MoreProblems(others) + " in this block)";
  console_.Diagnose(first);
}

std::string BlockPacker::CheckNothingLeft(int64_t count_line, int64_t blocks,
                                          int64_t last_block_nr) {
  LineReader& lines = reader_.lines;
  if (!previous_complete_) return "";
  while (!lines.AtEnd()) {
    const std::string_view line = lines.NextLine();
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const int64_t at = lines.line_number();
    std::string what;
    const std::string_view key = line.substr(0, colon);
    const bool string_line =
        key.find_first_not_of(" 0123456789") == std::string_view::npos &&
        key.find_first_of("0123456789") != std::string_view::npos;
    if (string_line && previous_count_ > 0) {
      what = Where(previous_count_line_, last_block_nr) +
             "\"Nr of Strings:\" counts " + std::to_string(previous_count_) +
             (previous_count_ == 1 ? " string" : " strings") +
             ", but more string lines follow it (line " + std::to_string(at) +
             ")";
    } else {
      what =
          txt_name_ + ":" + std::to_string(at) +
          ": text after the last block section: \"Number of Blocks:\" (line " +
          std::to_string(count_line) + ") counts " + std::to_string(blocks) +
          (blocks == 1 ? " block" : " blocks") + ", but the text holds more";
    }
    console_.Diagnose(what);
    return what;
  }
  return "";
}

}  // namespace vorlex::core
