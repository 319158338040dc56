#include "pack/text_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/numbers.h"
#include "extract/decoder.h"
#include "pack/block_encoder.h"
#include "pak/fields.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

constexpr std::string_view kCountLine = "NUMBER OF BLOCKS:";

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

// Whether a string's text is complete: it ends with '|' once the blanks at
// its end are removed.
bool EndsWithTerminator(std::string_view text) {
  text = TrimTrailingBlanks(text);
  return !text.empty() && text.back() == kTerminator;
}

// Reads one block section; the state of one call of ReadTextBlock.
class BlockSectionReader {
 public:
  BlockSectionReader(TextReader& reader, int64_t block_nr, std::string* out)
      : reader_(reader), block_nr_(block_nr), out_(out) {
    block_.start = out->size();
    reader_.expected.clear();
    reader_.expected_ends.clear();
    reader_.string_lines.clear();
    reader_.seen.clear();
  }

  TextBlock Read() {
    while (!block_.complete && !reader_.lines.AtEnd()) {
      const std::string_view line = reader_.lines.NextLine();
      if (line.find(':') == std::string_view::npos) continue;
      TakeLine(line);
    }
    Finish();
    return std::move(block_);
  }

 private:
  int64_t n() const { return block_.string_count; }

  void TakeLine(std::string_view line) {
    const std::string_view trimmed = TrimLeadingBlanks(line);
    const size_t colon = trimmed.find(':');
    const std::string_view key = TrimTrailingBlanks(trimmed.substr(0, colon));
    const std::string_view value = trimmed.substr(colon + 1);
    if (n() == -1 && key != "0" && NumericValue(key) == 0) {
      TakeHeaderLine(trimmed, value);
    } else if (n() < 0) {
      reader_.console.PrintError(" Error: String Before Header!");
      Problem(reader_.lines.line_number(),
              "a string line before the block's three header lines (block "
              "nr, ID, nr of strings); the line is dropped");
    } else {
      TakeStringLine(key, value.substr(std::min<size_t>(2, value.size())));
    }
  }

  void TakeHeaderLine(std::string_view trimmed, std::string_view value) {
    const int64_t line_number = reader_.lines.line_number();
    switch (header_lines_) {
      case 0:  // the block number: blocks are taken in file order
        break;
      case 1:
        reader_.current_block_id = RoundToInteger(NumericValue(value));
        break;
      case 2:
        StartStrings(RoundToInteger(NumericValue(value)), line_number);
        break;
      default: {
        const double number = NumericValue(value);
        reader_.console.PrintError("???: " + FormatMessageNumber(number));
        std::string shown = "(";
        shown.append(trimmed).append(")");
        reader_.console.PrintError(shown);
        Problem(line_number,
                "a fourth header line while the string count is still -1");
        break;
      }
    }
    if (n() == 0) {
      out_->append(2, '\0');
      block_.complete = true;
      return;
    }
    ++header_lines_;
  }

  void StartStrings(int32_t count, int64_t line_number) {
    block_.string_count = count;
    count_line_ = line_number;
    if (count > kMaxFieldValue) {
      Problem(line_number, "a string count of " + std::to_string(count) +
                               "; a block holds at most 65535 strings");
      return;
    }
    if (count < 0) {
      Problem(line_number,
              "a negative string count (" + std::to_string(count) + ")");
      return;
    }
    if (count == 0) return;
    // Room for the count and the relative offsets; the bit data follows.
    AppendInteger(count, 2, out_);
    out_->append(2 * static_cast<size_t>(count), '\0');
    data_start_ = out_->size();
    reader_.seen.assign(static_cast<size_t>(count), 0);
  }

  void TakeStringLine(std::string_view key, std::string_view value) {
    const int64_t line_number = reader_.lines.line_number();
    const int64_t index = RoundToInteger(NumericValue(key));
    const size_t data_size = out_->size() - data_start_;
    RecordIndex(index, data_size, line_number);

    std::string_view text = value;
    if (!EndsWithTerminator(text)) {
      // The view dies with the next line read, so the string is gathered.
      std::string& joined = reader_.joined;
      joined.assign(text);
      while (!EndsWithTerminator(joined) && !reader_.lines.AtEnd()) {
        joined.push_back('\n');
        joined.append(reader_.lines.NextLine());
      }
      text = joined;
    }

    const EncodeResult result = EncodeString(text, reader_.codes, out_);
    if (!result.ok) {
      reader_.console.PrintError(" Error: Char not Found in Tree!");
      const std::string_view before = text.substr(0, result.position);
      const int64_t at_line =
          line_number + std::count(before.begin(), before.end(), '\n');
      Problem(at_line, DescribeByteValue(result.byte) + " (character " +
                           std::to_string(result.position + 1) + " of string " +
                           std::to_string(index) +
                           ") has no code in the pakfile's tree");
    }
    reader_.expected.append(CutAfterTerminator(text));
    reader_.expected_ends.push_back(reader_.expected.size());
    reader_.string_lines.push_back(line_number);
    if (index + 1 == n()) block_.complete = true;
  }

  // Points the relative-offset entry of `index` at the string's code.
  void RecordIndex(int64_t index, size_t data_size, int64_t line_number) {
    if (n() > kMaxFieldValue) return;  // already refused, nothing to record
    if (index < 0 || index >= n()) {
      Problem(line_number, "string index " + std::to_string(index) +
                               " lies outside 0 to " + std::to_string(n() - 1));
      return;
    }
    uint8_t& seen = reader_.seen[static_cast<size_t>(index)];
    if (seen != 0) {
      Problem(line_number,
              "string index " + std::to_string(index) + " occurs twice");
    }
    seen = 1;
    if (data_size > static_cast<size_t>(kMaxFieldValue)) {
      Problem(line_number,
              "string " + std::to_string(index) + " starts " +
                  std::to_string(data_size) +
                  " bytes into the block's bit data; a relative offset holds "
                  "at most 65535");
    }
    const size_t at = block_.start + 2 + 2 * static_cast<size_t>(index);
    (*out_)[at] = static_cast<char>(data_size & 0xFF);
    (*out_)[at + 1] = static_cast<char>((data_size >> 8) & 0xFF);
  }

  void Finish() {
    const int64_t last_line = reader_.lines.line_number();
    if (!block_.complete) {
      // Every block after the end would say the same; the first one tells.
      const bool tell = !reader_.told_end;
      reader_.told_end = true;
      if (reader_.lines.read_failed()) {
        Problem(last_line, "the text file could not be read to its end", tell);
      } else {
        Problem(last_line,
                "the text file ends before the block is complete" +
                    (n() < 0 ? std::string(" (its header lines are missing)")
                             : " (index " + std::to_string(n() - 1) +
                                   " never came)"),
                tell);
      }
      return;
    }
    if (!block_.sound()) return;
    for (size_t k = 0; k < reader_.seen.size(); ++k) {
      if (reader_.seen[k] == 0) {
        Problem(count_line_, "no string has the index " + std::to_string(k) +
                                 " (the indexes must run 0 to " +
                                 std::to_string(n() - 1) + ")");
        return;
      }
    }
    CheckReadBack();
  }

  // Decodes the block exactly as it will be written: it must give back the
  // strings encoded, in line order, as many as its count.
  void CheckReadBack() {
    const std::string_view block = std::string_view(*out_).substr(block_.start);
    const DecodedBlock decoded = reader_.decoder.Decode(block);
    const size_t strings = reader_.expected_ends.size();
    for (size_t k = 0; k < strings; ++k) {
      const size_t begin = k == 0 ? 0 : reader_.expected_ends[k - 1];
      const std::string_view wanted =
          std::string_view(reader_.expected)
              .substr(begin, reader_.expected_ends[k] - begin);
      if (k >= decoded.StringsDecoded() || decoded.String(k) != wanted) {
        Problem(reader_.string_lines[k],
                "this string does not decode back to the text encoded; the "
                "pakfile's code tree cannot carry it");
        return;
      }
    }
  }

  void Problem(int64_t line_number, const std::string& what, bool tell = true) {
    std::string text = reader_.txt_name + ":" + std::to_string(line_number) +
                       ": block " + std::to_string(block_nr_) + ": " + what;
    if (tell) reader_.console.Diagnose(text);
    ++reader_.problems;
    if (block_.problem.empty()) block_.problem = std::move(text);
  }

  TextReader& reader_;
  const int64_t block_nr_;
  std::string* const out_;
  TextBlock block_;
  int header_lines_ = 0;
  int64_t count_line_ = 0;  // the line of the string count
  size_t data_start_ = 0;   // where the bit data begins in *out_
};

}  // namespace

std::optional<int32_t> ReadBlockCount(LineReader& lines, Console& console) {
  while (!lines.AtEnd()) {
    const std::string_view line = lines.NextLine();
    if (!ContainsCountLine(line)) continue;
    const std::string_view value =
        TrimLeadingBlanks(line.substr(line.find(':') + 1));
    const int32_t count = RoundToInteger(NumericValue(value));
    console.PrintLine("Nr of Blocks:" + ConsoleInteger(count));
    return count;
  }
  return std::nullopt;
}

std::string FormatMessageNumber(double value) {
  if (value == 0) value = 0;  // no "-0"
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.16G", value);
  std::string text = std::signbit(value) ? "" : " ";
  text += digits;
  return text;
}

TextBlock ReadTextBlock(TextReader& reader, int64_t block_nr,
                        std::string* out) {
  return BlockSectionReader(reader, block_nr, out).Read();
}

}  // namespace vorlex::core
