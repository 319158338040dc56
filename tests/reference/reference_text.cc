#include "reference/reference_text.h"

#include <algorithm>
#include <cctype>

#include "base/numbers.h"
#include "pack/text_reader.h"
#include "support/pak_maker.h"

namespace vorlex::core::reference {
namespace {

std::string_view TrimLeading(std::string_view text) {
  return text.substr(std::min(text.find_first_not_of(' '), text.size()));
}

std::string_view TrimTrailing(std::string_view text) {
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

bool EndsWithTerminator(std::string_view text) {
  text = TrimTrailing(text);
  return !text.empty() && text.back() == '|';
}

std::string_view UpToTerminator(std::string_view text) {
  const size_t bar = text.find('|');
  return bar == std::string_view::npos ? text : text.substr(0, bar + 1);
}

// Whether a header value holds a number: white space, then a digit, a sign
// or '.' before a digit, or "&H", "&O", "&B" before a digit of that radix.
bool IsNumber(std::string_view value) {
  while (!value.empty() && std::isspace(static_cast<unsigned char>(value[0]))) {
    value.remove_prefix(1);
  }
  auto is = [&](size_t k, std::string_view set) {
    return k < value.size() && set.find(value[k]) != std::string_view::npos;
  };
  const std::string_view digits = "0123456789";
  if (is(0, digits)) return true;
  if (is(0, "+-.")) return is(1, digits);
  if (!is(0, "&")) return false;
  return (is(1, "Hh") && is(2, "0123456789abcdefABCDEF")) ||
         (is(1, "Oo") && is(2, "01234567")) || (is(1, "Bb") && is(2, "01"));
}

std::string LineOut(std::string_view text) {
  return std::string(text) + "\r\n";
}

}  // namespace

TextLines::TextLines(std::string_view text) {
  text = text.substr(0, text.find('\x1a'));
  while (!text.empty()) {
    const size_t lf = text.find('\n');
    if (lf == std::string_view::npos) {
      lines_.push_back(text);  // the last line keeps a CR of its own
      break;
    }
    std::string_view line = text.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.push_back(line);
    text.remove_prefix(lf + 1);
  }
}

std::array<Coding, 256> CodingsOf(const std::vector<TreeNode>& nodes) {
  std::array<Coding, 256> coding{};
  for (size_t k = nodes.size(); k-- > 0;) {
    const TreeNode& node = nodes[k];
    coding[static_cast<size_t>(node.char_) & 0xFF] =
        k + 1 == nodes.size() ? Coding::kNone
        : node.child_l == 255 ? Coding::kLeaf
                              : Coding::kInterior;
  }
  return coding;
}

std::optional<int32_t> ReadCountLine(TextLines& lines, std::string* out) {
  while (!lines.AtEnd()) {
    const std::string_view line = lines.Next();
    const std::string upper = UpperAscii(line);
    if (upper.find("NUMBER OF BLOCKS:") == std::string::npos) continue;
    const int32_t count = RoundToInteger(
        NumericValue(TrimLeading(line.substr(line.find(':') + 1))));
    *out += LineOut("Nr of Blocks:" + std::string(count < 0 ? "" : " ") +
                    std::to_string(count));
    return count;
  }
  return std::nullopt;
}

SectionModel ReadSection(TextLines& lines, const std::vector<TreeNode>& nodes,
                         const std::array<Coding, 256>& coding, int32_t* id,
                         std::string* out) {
  SectionModel block;
  std::vector<int64_t> indexes;  // of the strings, in line order
  int header_lines = 0;
  std::vector<int> seen;
  while (!block.complete && !lines.AtEnd()) {
    const std::string_view line = lines.Next();
    if (line.find(':') == std::string_view::npos) continue;
    const std::string_view trimmed = TrimLeading(line);
    const size_t colon = trimmed.find(':');
    const std::string_view key = TrimTrailing(trimmed.substr(0, colon));
    const std::string_view value = trimmed.substr(colon + 1);

    if (block.n == -1 && key != "0" && NumericValue(key) == 0) {
      if (header_lines == 1) {
        *id = RoundToInteger(NumericValue(value));
        if (!IsNumber(value) || *id < 0 || *id > 65535) block.sound = false;
      } else if (header_lines == 2) {
        block.n = RoundToInteger(NumericValue(value));
        if (!IsNumber(value) || block.n < 0 || block.n > 65535) {
          block.sound = false;
        } else {
          seen.assign(static_cast<size_t>(block.n), 0);
        }
      } else if (header_lines >= 3) {
        *out += LineOut("???: " + FormatMessageNumber(NumericValue(value)));
        *out += LineOut("(" + std::string(trimmed) + ")");
        block.sound = false;
      }
      if (block.n == 0) {
        block.complete = true;
        break;
      }
      ++header_lines;
      continue;
    }
    if (block.n < 0) {
      *out += LineOut(" Error: String Before Header!");
      block.sound = false;
      continue;
    }

    const int64_t index = RoundToInteger(NumericValue(key));
    if (block.n > 65535) {
      // Refused already; indexes are not looked at.
    } else if (index < 0 || index >= block.n) {
      block.sound = false;
    } else if (seen[static_cast<size_t>(index)]++ > 0) {
      block.sound = false;  // the index came twice
    }
    std::string text(value.substr(value.size() < 2 ? value.size() : 2));
    while (!EndsWithTerminator(text) && !lines.AtEnd()) {
      text += '\n';
      text += lines.Next();
    }
    std::string cut(UpToTerminator(text));
    for (size_t i = 0; i < cut.size(); ++i) {
      const Coding how = coding[static_cast<unsigned char>(cut[i])];
      if (how == Coding::kInterior) block.sound = false;
      if (how == Coding::kNone) {
        *out += LineOut(" Error: Char not Found in Tree!");
        cut.resize(i);
        block.sound = false;
        break;
      }
    }
    // A string without its terminator cannot be told from the next.
    if (cut.empty() || cut.back() != '|') block.sound = false;
    indexes.push_back(index);
    block.strings.push_back(std::move(cut));
    if (index + 1 == block.n) block.complete = true;
  }
  if (!block.complete) block.sound = false;
  for (int times : seen) {
    if (times != 1) block.sound = false;
  }
  if (!block.sound) return block;

  // The block as the format lays it out.
  std::vector<int64_t> offsets(static_cast<size_t>(block.n), 0);
  std::string data;
  for (size_t k = 0; k < block.strings.size(); ++k) {
    if (data.size() > 65535) {  // beyond what a relative offset holds
      block.sound = false;
      return block;
    }
    offsets[static_cast<size_t>(indexes[k])] =
        static_cast<int64_t>(data.size());
    data += testing::EncodeTestString(nodes, block.strings[k]);
  }
  block.bytes.push_back(static_cast<char>(block.n & 0xFF));
  block.bytes.push_back(static_cast<char>(block.n >> 8));
  for (int64_t offset : offsets) {
    block.bytes.push_back(static_cast<char>(offset & 0xFF));
    block.bytes.push_back(static_cast<char>(offset >> 8));
  }
  block.bytes += data;
  return block;
}

}  // namespace vorlex::core::reference
