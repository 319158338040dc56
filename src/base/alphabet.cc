#include "base/alphabet.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <utility>

namespace vorlex::core {
namespace {

const uint8_t* Units(std::string_view text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

std::string Utf8(int32_t code_point) {
  uint8_t units[U8_MAX_LENGTH];
  size_t length = 0;
  U8_APPEND_UNSAFE(units, length, code_point);
  return std::string(reinterpret_cast<const char*>(units), length);
}

// Where a private-use character stands in for a byte whose own number is
// taken.
constexpr int32_t kPrivateUseBase = 0xF700;

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Why a table's text cannot stand for `byte`, or the empty text.
std::string TableTextProblem(uint8_t byte, std::string_view text) {
  if (FirstInvalidUtf8(text)) return "the text is not UTF-8";
  if (byte == '|') {
    return text == "|" ? ""
                       : "byte 7C ends every string and must stand for \"|\"";
  }
  if (text.find('|') != std::string_view::npos) {
    return "the text holds \"|\", which ends a string in the text file";
  }
  for (unsigned char c : text) {
    if (c < 0x20 && c != '\t') {
      return "the text holds the control character " + HexByte(c) +
             ", which the text file cannot carry";
    }
  }
  return "";
}

}  // namespace

std::string HexByte(uint8_t byte) {
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02X", byte);
  return digits;
}

std::string BuildAlphabet(std::string name, const DefinedTexts& defined,
                          Alphabet* alphabet) {
  alphabet->name = std::move(name);
  std::map<std::string, int, std::less<>> owner;
  auto take = [&](int byte, std::string text) -> std::string {
    if (text.empty()) return "byte " + HexByte(byte) + " stands for no text";
    const auto [it, fresh] = owner.emplace(text, byte);
    if (!fresh) {
      return "bytes " + HexByte(it->second) + " and " + HexByte(byte) +
             " both stand for " + Quoted(text);
    }
    alphabet->texts[byte] = std::move(text);
    return "";
  };
  for (int byte = 0; byte < 256; ++byte) {
    if (!defined[byte]) continue;
    if (std::string problem = take(byte, *defined[byte]); !problem.empty()) {
      return problem;
    }
  }
  for (int byte = 0; byte < 256; ++byte) {
    if (defined[byte]) continue;
    std::string own =
        byte < 0x80 ? std::string(1, static_cast<char>(byte)) : Utf8(byte);
    if (owner.contains(own)) own = Utf8(kPrivateUseBase + byte);
    if (std::string problem = take(byte, std::move(own)); !problem.empty()) {
      return problem;
    }
  }
  for (std::vector<uint8_t>& bytes : alphabet->by_lead) bytes.clear();
  for (int byte = 0; byte < 256; ++byte) {
    const auto lead = static_cast<uint8_t>(alphabet->texts[byte][0]);
    alphabet->by_lead[lead].push_back(static_cast<uint8_t>(byte));
  }
  for (std::vector<uint8_t>& bytes : alphabet->by_lead) {
    std::stable_sort(bytes.begin(), bytes.end(), [&](uint8_t a, uint8_t b) {
      return alphabet->texts[a].size() > alphabet->texts[b].size();
    });
  }
  return "";
}

void AppendAsText(std::string_view bytes, const Alphabet& alphabet,
                  std::string* out) {
  for (unsigned char byte : bytes) out->append(alphabet.texts[byte]);
}

std::vector<size_t> AppendAsBytes(std::string_view text,
                                  const Alphabet& alphabet, std::string* out) {
  std::vector<size_t> unheld;
  size_t at = 0;
  while (at < text.size()) {
    const std::vector<uint8_t>& candidates =
        alphabet.by_lead[static_cast<uint8_t>(text[at])];
    const auto match =
        std::find_if(candidates.begin(), candidates.end(), [&](uint8_t byte) {
          return text.substr(at).starts_with(alphabet.texts[byte]);
        });
    if (match != candidates.end()) {
      out->push_back(static_cast<char>(*match));
      at += alphabet.texts[*match].size();
      continue;
    }
    unheld.push_back(at);
    U8_FWD_1(Units(text), at, text.size());
  }
  return unheld;
}

int32_t CodePointAt(std::string_view text, size_t position) {
  if (position >= text.size()) return -1;
  int32_t code_point = 0;
  U8_NEXT(Units(text), position, text.size(), code_point);
  return code_point;
}

std::string DescribeCharacterAt(std::string_view text, size_t position) {
  const int32_t code_point = CodePointAt(text, position);
  char name[32];
  if (code_point < 0) {
    std::snprintf(name, sizeof name, "byte 0x%02X",
                  position < text.size() ? Units(text)[position] : 0);
    return name;
  }
  std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(code_point));
  // Control characters are named only by number.
  if (code_point < 0x20 || (code_point >= 0x7F && code_point < 0xA0)) {
    return name;
  }
  return std::string(name) + " '" + Utf8(code_point) + "'";
}

std::optional<size_t> FirstInvalidUtf8(std::string_view text) {
  size_t at = 0;
  while (at < text.size()) {
    const size_t start = at;
    int32_t code_point = 0;
    U8_NEXT(Units(text), at, text.size(), code_point);
    if (code_point < 0) return start;
  }
  return std::nullopt;
}

size_t CharacterCount(std::string_view text) {
  return static_cast<size_t>(std::count_if(
      text.begin(), text.end(), [](char c) { return !U8_IS_TRAIL(c); }));
}

std::string ParseCharacterTable(std::string_view contents,
                                std::vector<CharacterTableEntry>* entries) {
  entries->clear();
  if (contents.starts_with("\xEF\xBB\xBF")) contents.remove_prefix(3);
  std::map<int, int64_t> byte_lines;
  int64_t line_nr = 0;
  while (!contents.empty()) {
    const size_t end = contents.find('\n');
    std::string_view line = contents.substr(0, end);
    contents.remove_prefix(end == std::string_view::npos ? contents.size()
                                                         : end + 1);
    ++line_nr;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty()) continue;
    const std::string where = "line " + std::to_string(line_nr) + ": ";
    const int high = line.size() > 3 ? HexDigit(line[0]) : -1;
    const int low = line.size() > 3 ? HexDigit(line[1]) : -1;
    if (high < 0 || low < 0 || line[2] != '=') {
      return where +
             "not an entry of the form XX=text (two hexadecimal digits, "
             "\"=\", the text the byte stands for)";
    }
    const auto byte = static_cast<uint8_t>(high * 16 + low);
    const std::string_view text = line.substr(3);
    if (const auto [it, fresh] = byte_lines.emplace(byte, line_nr); !fresh) {
      return where + "byte " + HexByte(byte) + " was given on line " +
             std::to_string(it->second) + " already";
    }
    if (std::string why = TableTextProblem(byte, text); !why.empty()) {
      return where + why;
    }
    entries->push_back({line_nr, byte, std::string(text)});
  }
  return "";
}

std::string ApplyTable(const std::vector<CharacterTableEntry>& entries,
                       DefinedTexts* defined) {
  std::map<std::string_view, const CharacterTableEntry*> by_text;
  std::array<bool, 256> in_table{};
  for (const CharacterTableEntry& entry : entries) {
    const auto [it, fresh] = by_text.emplace(entry.text, &entry);
    if (!fresh) {
      return "line " + std::to_string(entry.line) + ": " + Quoted(entry.text) +
             " is the text of byte " + HexByte(it->second->byte) + " on line " +
             std::to_string(it->second->line) + " already";
    }
    in_table[entry.byte] = true;
  }
  for (int byte = 0; byte < 256; ++byte) {
    std::optional<std::string>& own = (*defined)[byte];
    if (!in_table[byte] && own && by_text.contains(*own)) own.reset();
  }
  for (const CharacterTableEntry& entry : entries) {
    (*defined)[entry.byte] = entry.text;
  }
  return "";
}

}  // namespace vorlex::core
