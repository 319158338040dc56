#include "extract/pak_report.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "extract/decoder.h"
#include "extract/extract_block.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

// A character as the report shows it: itself where it is graphic, else its
// byte value, so that blanks separate fields.
std::string Shown(unsigned char c) {
  if (c > ' ' && c < 127) return std::string(1, static_cast<char>(c));
  char text[5];
  std::snprintf(text, sizeof text, "0x%02X", c);
  return text;
}

// Where the strings of a block end: its count and offset table, then the
// codes of `count` strings, each padded to a byte. Walks the bits as the
// decoder does; only called for a block that decodes completely.
int64_t UsedLength(const CodeTree& tree, std::string_view block,
                   int64_t count) {
  const int64_t root = tree.NodeCount() - 1;
  size_t at = static_cast<size_t>(2 + 2 * count);
  int64_t node = root;
  for (int64_t ended = 0; ended < count && at < block.size();) {
    const unsigned byte = static_cast<unsigned char>(block[at++]);
    for (int bit = 7; bit >= 0; --bit) {
      const TreeStep step = StepDown(tree, node, (byte >> bit) & 1u);
      node = step.leaf ? root : step.node;
      if (step.leaf && tree.Node(step.node).char_ == kTerminator) {
        ++ended;
        break;
      }
    }
  }
  return static_cast<int64_t>(std::min(at, block.size()));
}

// A byte's text for the report: one field, so blanks and control
// characters are written by number.
std::string ShownText(std::string_view text) {
  std::string shown;
  size_t at = 0;
  while (at < text.size()) {
    const int32_t code_point = CodePointAt(text, at);
    size_t length = 1;
    while (at + length < text.size() &&
           (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80) {
      ++length;
    }
    if (code_point <= ' ' || (code_point >= 0x7F && code_point < 0xA0)) {
      char number[16];
      std::snprintf(number, sizeof number, "U+%04X",
                    static_cast<unsigned>(code_point));
      shown.append(number);
    } else {
      shown.append(text.substr(at, length));
    }
    at += length;
  }
  return shown;
}

void AddRecord(std::string* report, std::string_view word, int64_t value) {
  report->append(word).append(" ").append(std::to_string(value)).append("\n");
}

}  // namespace

int32_t SoundCodeLength(const CodeTree& tree, unsigned char c) {
  const std::string_view path = CharBitPath(tree, c);
  int64_t node = tree.NodeCount() - 1;
  // The bit path runs from the node up; the code from the root down.
  for (size_t i = path.size(); i-- > 0;) {
    const TreeStep step = StepDown(tree, node, path[i] == '1' ? 1u : 0u);
    node = step.node;
    if (step.leaf) {
      const bool sound = i == 0 && tree.Node(node).char_ == c;
      return sound ? static_cast<int32_t>(path.size()) : 0;
    }
  }
  return 0;
}

std::string PakReport(const LoadedPak& pak, const Alphabet* alphabet) {
  std::string report;
  const int64_t file_size = static_cast<int64_t>(pak.bytes.size());
  AddRecord(&report, "file-size", file_size);
  AddRecord(&report, "node-count", pak.header.node_count);
  report.append("broken-nodes ")
      .append(std::to_string(pak.broken_nodes.size()));
  for (int32_t node : pak.broken_nodes) {
    report.append(" ").append(std::to_string(node));
  }
  report.append("\n");

  std::string codes, missing;
  int count = 0, missing_count = 0;
  for (int c = 0; c < 256; ++c) {
    const int32_t bits =
        SoundCodeLength(pak.tree, static_cast<unsigned char>(c));
    if (bits > 0) {
      ++count;
      codes.append("code " + Shown(static_cast<unsigned char>(c)) + " " +
                   std::to_string(bits));
      if (alphabet) codes.append(" " + ShownText(alphabet->texts[c]));
      codes.append("\n");
    } else if (c >= ' ' && c < 127) {
      ++missing_count;
      missing.append(" " + Shown(static_cast<unsigned char>(c)));
    }
  }
  if (alphabet) report.append("charset " + alphabet->name + "\n");
  AddRecord(&report, "alphabet", count);
  report.append(codes);
  report.append("not-encodable " + std::to_string(missing_count) + missing +
                "\n");

  const size_t blocks = pak.directory.size();
  AddRecord(&report, "block-count", static_cast<int64_t>(blocks));
  int64_t stale = 0;
  if (blocks > 0) {
    const BlockDecoder decoder(pak.tree);
    std::string scratch;
    for (size_t b = 0; b < blocks; ++b) {
      const std::string_view bytes = BlockBytes(pak, b, &scratch);
      const DecodedBlock decoded = decoder.Decode(bytes);
      const bool complete =
          decoded.StringsDecoded() == static_cast<size_t>(decoded.string_count);
      const BlockEntry& entry = pak.directory[b];
      int64_t length = BlockExtent(pak.directory, file_size, b);
      if (b + 1 == blocks && complete && entry.offset + length == file_size) {
        const int64_t used = UsedLength(pak.tree, bytes, decoded.string_count);
        stale = length - used;
        length = used;
      }
      report.append(
          "block " + std::to_string(b) + " " + std::to_string(entry.id) + " " +
          std::to_string(entry.offset) + " " + std::to_string(length) + " " +
          std::to_string(decoded.string_count) +
          (complete ? " complete\n" : " incomplete\n"));
    }
  }
  AddRecord(&report, "stale-bytes", stale);
  return report;
}

}  // namespace vorlex::core
