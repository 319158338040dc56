#include "pack/text_reader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>

#include "base/alphabet.h"
#include "base/numbers.h"
#include "pak/fields.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

constexpr std::string_view kCountLine = "NUMBER OF BLOCKS:";

// A string this long is kept in the storage it was read into rather than
// copied among the section's other strings.
constexpr size_t kOwnStorage = size_t{1} << 20;

char UpperAsciiChar(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool ContainsCountLine(std::string_view line) {
  return std::search(line.begin(), line.end(), kCountLine.begin(),
                     kCountLine.end(), [](char a, char b) {
                       return UpperAsciiChar(a) == b;
                     }) != line.end();
}

std::string_view TrimLeadingBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view()
                                         : text.substr(first);
}

std::string_view TrimTrailingBlanks(std::string_view text) {
  const size_t last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view()
                                        : text.substr(0, last + 1);
}

// The index a string line's key gives, as RoundToInteger of its
// NumericValue; plain digits, as almost every key is, are read at once.
int64_t KeyValue(std::string_view key) {
  int64_t value = 0;
  for (const char c : key) {
    if (c < '0' || c > '9' || key.size() > 9) {
      return RoundToInteger(NumericValue(key));
    }
    value = value * 10 + (c - '0');
  }
  return key.empty() ? RoundToInteger(NumericValue(key)) : value;
}

// Whether a string's text is complete: it ends with '|' once the blanks at
// its end are removed.
bool EndsWithTerminator(std::string_view text) {
  text = TrimTrailingBlanks(text);
  return !text.empty() && text.back() == kTerminator;
}

// Whether a line taken into a string reads like a line of its own: a string
// line ("12: ...") or a header line ("ID: 3"). Said only to explain a
// refusal; the reading itself never looks at it.
bool ReadsLikeItsOwnLine(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view key =
      TrimTrailingBlanks(TrimLeadingBlanks(line.substr(0, colon)));
  if (key == "Block Nr" || key == "ID" || key == "Nr of Strings") return true;
  return !key.empty() &&
         key.find_first_not_of("0123456789") == std::string_view::npos;
}

// Reads one block section; the state of one call of ReadTextSection.
class SectionParser {
 public:
  SectionParser(SectionReader& reader, TextSection* section)
      : reader_(reader), section_(*section) {
    section_.string_count = -1;
    section_.count_line = 0;
    section_.complete = false;
    section_.strings.clear();
    section_.places.clear();
    section_.stray_line = 0;
    section_.texts.clear();
    if (section_.texts.capacity() > kOwnStorage) {
      std::string().swap(section_.texts);  // a long string's room goes
    }
    section_.long_texts.clear();
    section_.problems.clear();
    section_.unfinished.clear();
    section_.end_line = 0;
    reader_.ends.clear();
  }

  void Read() {
    while (!section_.complete && !reader_.lines.AtEnd()) {
      const std::string_view line = reader_.lines.NextLine();
      const size_t colon = line.find(':');
      if (colon != std::string_view::npos) TakeLine(line, colon);
    }
    Finish();
  }

 private:
  int64_t n() const { return section_.string_count; }

  // `line_colon` is the place of the line's first colon.
  void TakeLine(std::string_view line, size_t line_colon) {
    const std::string_view trimmed = TrimLeadingBlanks(line);
    const size_t colon = line_colon - (line.size() - trimmed.size());
    const std::string_view key = TrimTrailingBlanks(trimmed.substr(0, colon));
    const std::string_view value = trimmed.substr(colon + 1);
    if (n() == -1 && key != "0" && NumericValue(key) == 0) {
      TakeHeaderLine(trimmed, value);
    } else if (n() < 0) {
      if (header_lines_ == 0 && section_.stray_line == 0) {
        section_.stray_line = reader_.lines.line_number();
      }
      Problem(reader_.lines.line_number(),
              "a string line before the block's three header lines (block "
              "nr, ID, nr of strings); the line is dropped",
              {" Error: String Before Header!"});
    } else {
      const std::string_view text =
          value.substr(std::min<size_t>(2, value.size()));
      // The column (from 1, in characters) where the text begins.
      const auto column = static_cast<int64_t>(CharacterCount(
          line.substr(0, static_cast<size_t>(text.data() - line.data()))));
      TakeStringLine(key, text, column + 1);
    }
  }

  void TakeHeaderLine(std::string_view trimmed, std::string_view value) {
    const int64_t line_number = reader_.lines.line_number();
    switch (header_lines_) {
      case 0:  // the block number: blocks are taken in file order
        break;
      case 1:
        reader_.current_block_id = RoundToInteger(NumericValue(value));
        if (!HoldsNumber(value)) {
          NoNumber(line_number, "ID", value);
        } else if (!Fits(Limit::kBlockId, reader_.current_block_id)) {
          Problem(line_number,
                  "the ID " + std::to_string(reader_.current_block_id) + "; " +
                      std::string(LimitText(Limit::kBlockId)));
          section_.problems.back().cause = true;
        }
        break;
      case 2:
        section_.string_count = RoundToInteger(NumericValue(value));
        section_.count_line = line_number;
        if (!HoldsNumber(value)) {
          NoNumber(line_number, "Nr of Strings", value);
        } else if (n() < 0) {
          Problem(line_number,
                  "a negative string count (" + std::to_string(n()) + ")");
        }
        break;
      default: {
        std::string shown = "(";
        shown.append(trimmed).append(")");
        Problem(line_number,
                "a fourth header line while the string count is still -1",
                {"???: " + FormatMessageNumber(NumericValue(value)),
                 std::move(shown)});
        break;
      }
    }
    if (n() == 0) {
      section_.complete = true;
      return;
    }
    ++header_lines_;
  }

  void TakeStringLine(std::string_view key, std::string_view value,
                      int64_t column) {
    const int64_t line_number = reader_.lines.line_number();
    const int64_t index = KeyValue(key);
    std::string_view text = value;
    TextSection::Place place{
        .line = line_number, .column = column, .last = line_number};
    BlockString string{.index = index, .text = {}};
    std::string& texts = section_.texts;
    if (!EndsWithTerminator(text)) {
      // The view dies with the next line read, so the string is gathered
      // where the section keeps its strings.
      const size_t start = texts.size();
      auto gathered = [&] { return std::string_view(texts).substr(start); };
      texts.append(text);
      while (!EndsWithTerminator(gathered()) && !reader_.lines.AtEnd()) {
        const std::string_view next = reader_.lines.NextLine();
        if (place.swallowed == 0 && ReadsLikeItsOwnLine(next)) {
          place.swallowed = reader_.lines.line_number();
        }
        texts.push_back('\n');
        texts.append(next);
      }
      place.last = reader_.lines.line_number();
      texts.resize(start + CutAfterTerminator(gathered()).size());
    } else if (text = CutAfterTerminator(text); text.size() < kOwnStorage) {
      texts.append(text);
    } else {
      // Kept in the line reader's buffer, not copied: a string of hundreds
      // of MiB is held once.
      std::string storage = reader_.lines.TakeBuffer();
      const std::less<const char*> before;
      if (before(text.data(), storage.data()) ||
          before(storage.data() + storage.size(), text.data() + text.size())) {
        storage.assign(text);  // a reader over memory owns no buffer
        text = storage;
      }
      string.text = text;
      section_.long_texts.push_back(std::move(storage));
    }
    // Each string's end for now; Finish turns them into views.
    section_.strings.push_back(string);
    reader_.ends.push_back(section_.texts.size());
    section_.places.push_back(place);
    if (index + 1 == n()) section_.complete = true;
  }

  void Finish() {
    size_t begin = 0;
    for (size_t k = 0; k < section_.strings.size(); ++k) {
      if (section_.strings[k].text.data() != nullptr) continue;  // kept apart
      section_.strings[k].text = std::string_view(section_.texts)
                                     .substr(begin, reader_.ends[k] - begin);
      begin = reader_.ends[k];
    }
    if (section_.complete) return;
    section_.end_line = reader_.lines.line_number();
    if (reader_.lines.read_failed()) {
      section_.unfinished = "the text file could not be read to its end";
    } else {
      section_.unfinished =
          "the text file ends before the block is complete" +
          (n() < 0 ? std::string(" (its header lines are missing)")
                   : " (index " + std::to_string(n() - 1) + " never came)");
    }
  }

  void NoNumber(int64_t line, std::string_view name, std::string_view value) {
    Problem(line, "\"" + std::string(name) + ":\" holds no number (\"" +
                      std::string(TrimLeadingBlanks(value)) + "\")");
    section_.problems.back().cause = true;
  }

  void Problem(int64_t line, std::string what,
               std::vector<std::string> messages = {}) {
    section_.problems.push_back(SectionProblem{.line = line,
                                               .messages = std::move(messages),
                                               .what = std::move(what)});
  }

  SectionReader& reader_;
  TextSection& section_;
  int header_lines_ = 0;
};

}  // namespace

std::optional<int32_t> ReadBlockCount(LineReader& lines) {
  while (!lines.AtEnd()) {
    const std::string_view line = lines.NextLine();
    if (!ContainsCountLine(line)) continue;
    const std::string_view value =
        TrimLeadingBlanks(line.substr(line.find(':') + 1));
    return RoundToInteger(NumericValue(value));
  }
  return std::nullopt;
}

bool HoldsNumber(std::string_view value) {
  size_t at = 0;
  while (at < value.size() &&
         std::isspace(static_cast<unsigned char>(value[at])) != 0) {
    ++at;
  }
  const std::string_view rest = value.substr(at);
  auto digit_at = [&](size_t k, std::string_view digits) {
    return k < rest.size() && digits.find(rest[k]) != std::string_view::npos;
  };
  constexpr std::string_view kDecimal = "0123456789";
  if (digit_at(0, kDecimal)) return true;
  if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
    return digit_at(1, kDecimal);
  }
  if (!rest.empty() && rest[0] == '.') return digit_at(1, kDecimal);
  if (rest.size() >= 2 && rest[0] == '&') {
    switch (rest[1]) {
      case 'H':
      case 'h':
        return digit_at(2, "0123456789ABCDEFabcdef");
      case 'O':
      case 'o':
        return digit_at(2, "01234567");
      case 'B':
      case 'b':
        return digit_at(2, "01");
    }
  }
  return false;
}

std::string FormatMessageNumber(double value) {
  if (value == 0) value = 0;  // no "-0"
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.16G", value);
  std::string text = std::signbit(value) ? "" : " ";
  text += digits;
  return text;
}

void ReadTextSection(SectionReader& reader, TextSection* section) {
  SectionParser(reader, section).Read();
  // The strings are in the section by now: a string of hundreds of MiB need
  // not stay in the line buffer as well while it is encoded and read back.
  reader.lines.ReleaseSpareRoom();
}

}  // namespace vorlex::core
