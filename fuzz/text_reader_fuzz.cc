// Arbitrary text-file bytes through ReadBlockCount and PackBlock, with a
// fixed code tree. A second reader, written here from the text file's rules
// alone, reads the same lines alongside; the two must consume the same lines,
// print the same messages and agree on which blocks can be packed. Every
// block both accept must be, byte for byte, the count, the relative offsets
// and the codes that the pakfile maker's own encoder gives for the strings
// read, and must decode back to them. A line reader over a file, reading in
// small chunks, must hand out the same lines as one over memory.
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/console.h"
#include "base/numbers.h"
#include "extract/decoder.h"
#include "fuzz_check.h"
#include "pack/block_packer.h"
#include "pack/encoder.h"
#include "pack/line_reader.h"
#include "pack/text_reader.h"
#include "pak/code_tree.h"
#include "support/pak_maker.h"

namespace vorlex::core::fuzz {
namespace {

// Block sections read per input.
constexpr int kMaxBlocks = 32;

// The characters the fixed tree can encode: letters, digits, blank, LF, CR,
// the terminator, some punctuation and a few control bytes.
constexpr std::string_view kTreeText =
    "the quick brown fox jumps over the lazy dog THE QUICK BROWN FOX JUMPS "
    "OVER THE LAZY DOG 0123456789 0 1 2 3 :.,-&\n\n\r|\t\x01\x1b\x7f\xe9";

// What the encoder makes of a character: it takes the lowest node that
// carries the character, leaf or not.
enum class Coding {
  kNone,      // no node, or the root: " Error: Char not Found in Tree!"
  kLeaf,      // a code that decodes back
  kInterior,  // an interior node's path: encoded, but it cannot decode back
};

struct FixedTree {
  std::vector<TreeNode> nodes;
  CodeTree tree;
  CodeTable codes;
  std::array<Coding, 256> coding{};

  FixedTree() {
    // Several strings, so that the codes differ in length.
    nodes = testing::BuildHuffmanTree(
        {std::string(kTreeText), "eeeeeeeetttttaaaoo  ||||", "\n|"});
    tree = testing::MakeCodeTree(nodes);
    codes = BuildCodeTable(tree);
    // Interior nodes carry the character 0.
    for (size_t k = nodes.size(); k-- > 0;) {
      const TreeNode& node = nodes[k];
      coding[static_cast<size_t>(node.char_)] =
          k + 1 == nodes.size() ? Coding::kNone
          : node.child_l == 255 ? Coding::kLeaf
                                : Coding::kInterior;
    }
  }
};

const FixedTree& Tree() {
  static const FixedTree* const tree = new FixedTree();
  return *tree;
}

std::string_view TrimLeading(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return text;
}

std::string_view TrimTrailing(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

bool EndsWithTerminator(std::string_view text) {
  text = TrimTrailing(text);
  return !text.empty() && text.back() == '|';
}

std::string_view UpToTerminator(std::string_view text) {
  const size_t bar = text.find('|');
  return bar == std::string_view::npos ? text : text.substr(0, bar + 1);
}

// The text file's lines: up to the first byte 26, each ending at LF or CR LF.
class Lines {
 public:
  explicit Lines(std::string_view text) {
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
  bool AtEnd() const { return next_ == lines_.size(); }
  std::string_view Next() { return lines_[next_++]; }
  int64_t Consumed() const { return static_cast<int64_t>(next_); }

 private:
  std::vector<std::string_view> lines_;
  size_t next_ = 0;
};

std::string LineOut(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  return line;
}

std::optional<int32_t> ExpectedBlockCount(Lines& lines, std::string* out) {
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

// One block section as the rules read it.
struct ExpectedBlock {
  int32_t n = -1;
  bool complete = false;
  bool sound = true;
  std::vector<int64_t> indexes;      // of the strings, in line order
  std::vector<std::string> strings;  // cut after their first '|'
  std::string bytes;                 // the block, when it is sound
};

ExpectedBlock ReadExpectedBlock(Lines& lines, int32_t* id, std::string* out) {
  const FixedTree& fixed = Tree();
  ExpectedBlock block;
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
      } else if (header_lines == 2) {
        block.n = RoundToInteger(NumericValue(value));
        if (block.n < 0 || block.n > 65535) {
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
      const Coding coding = fixed.coding[static_cast<unsigned char>(cut[i])];
      if (coding == Coding::kInterior) block.sound = false;
      if (coding == Coding::kNone) {
        *out += LineOut(" Error: Char not Found in Tree!");
        cut.resize(i);
        block.sound = false;
        break;
      }
    }
    // A string without its terminator cannot be told from the next.
    if (cut.empty() || cut.back() != '|') block.sound = false;
    block.indexes.push_back(index);
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
    offsets[static_cast<size_t>(block.indexes[k])] =
        static_cast<int64_t>(data.size());
    data += testing::EncodeTestString(fixed.nodes, block.strings[k]);
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

void CheckBlock(const PackedSection& got, std::string_view got_bytes,
                const ExpectedBlock& want, int b) {
  const std::string where = "block section " + std::to_string(b) + ": ";
  Require(got.string_count == want.n,
          where + "string count " + std::to_string(got.string_count) +
              ", expected " + std::to_string(want.n));
  Require(got.complete == want.complete, where + "complete differs");
  Require(got.sound() == want.sound,
          where + (got.sound() ? "accepted a block that cannot be packed"
                               : "refused a sound block: " + got.problem));
  if (!want.sound) return;
  Require(got_bytes == want.bytes, where + "block bytes " + Hex(got_bytes) +
                                       ", expected " + Hex(want.bytes));
  const DecodedBlock decoded = BlockDecoder(Tree().tree).Decode(got_bytes);
  Require(decoded.StringsDecoded() == want.strings.size(),
          where + "decodes to another number of strings");
  for (size_t k = 0; k < want.strings.size(); ++k) {
    Require(decoded.String(k) == want.strings[k],
            where + "string " + std::to_string(k) + " decodes to " +
                Hex(decoded.String(k)));
  }
}

// The lines of `text` read from a file in chunks of `chunk_size` bytes, so
// that lines and CR LF pairs are cut between reads, must be those read from
// memory.
void CheckFileLines(std::string_view text, size_t chunk_size) {
  const int fd = memfd_create("text", 0);
  Require(fd >= 0, "no memory file");
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    Require(n > 0, "cannot write the memory file");
    written += static_cast<size_t>(n);
  }
  Require(lseek(fd, 0, SEEK_SET) == 0, "cannot rewind the memory file");
  RealFileSystem files;
  LineReader from_file(files, fd, chunk_size);
  LineReader from_memory(text);
  while (true) {
    const bool at_end = from_memory.AtEnd();
    Require(from_file.AtEnd() == at_end,
            "the file reader's end differs at line " +
                std::to_string(from_memory.line_number() + 1));
    if (at_end) break;
    const std::string line(from_memory.NextLine());
    Require(from_file.NextLine() == line,
            "line " + std::to_string(from_memory.line_number()) +
                " read from the file differs");
  }
  Require(!from_file.read_failed(), "reading the memory file failed");
  close(fd);
}

}  // namespace
}  // namespace vorlex::core::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlex::core;
  using fuzz::Require;
  const fuzz::FixedTree& fixed = fuzz::Tree();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  fuzz::CheckFileLines(text, size == 0 ? 1 : 1 + data[0] % 32);

  std::string out, err, expected_out;
  Console console = StringConsole(&out, &err);
  LineReader lines(text);
  fuzz::Lines expected_lines(text);

  const std::optional<int32_t> count = ReadBlockCount(lines);
  if (count) console.PrintLine("Nr of Blocks:" + ConsoleInteger(*count));
  const std::optional<int32_t> expected_count =
      fuzz::ExpectedBlockCount(expected_lines, &expected_out);
  Require(count == expected_count, "the block counts differ");
  Require(lines.line_number() == expected_lines.Consumed(),
          "the count line is not where it should be");

  const BlockDecoder decoder(fixed.tree);
  const BlockCoder coder{.codes = fixed.codes, .decoder = decoder};
  BlockPacker packer(lines, coder, "fuzz.txt", console);
  int32_t expected_id = 0;
  std::string image;
  for (int b = 0; b < fuzz::kMaxBlocks && !lines.AtEnd(); ++b) {
    const PackedSection block = packer.PackBlock(b, &image);
    const fuzz::ExpectedBlock expected =
        fuzz::ReadExpectedBlock(expected_lines, &expected_id, &expected_out);
    Require(lines.line_number() == expected_lines.Consumed(),
            "block section " + std::to_string(b) + " ends at line " +
                std::to_string(lines.line_number()) + ", expected " +
                std::to_string(expected_lines.Consumed()));
    Require(packer.current_block_id() == expected_id, "the block ids differ");
    fuzz::CheckBlock(block, std::string_view(image).substr(block.start),
                     expected, b);
    Require(out == expected_out, "standard output differs:\n" + out +
                                     "\nexpected:\n" + expected_out);
  }
  Require(lines.AtEnd() == expected_lines.AtEnd(), "the ends differ");

  // The encoder on the whole input: it appends to what is there, and
  // encodes the text up to its first terminator or up to the first byte
  // the tree cannot encode.
  std::string code = "xyz";
  const EncodeResult result = EncodeString(text, fixed.codes, &code);
  const std::string_view cut = CutAfterTerminator(text);
  size_t encodable = 0;
  bool leaves_only = true;
  while (encodable < cut.size()) {
    const fuzz::Coding coding =
        fixed.coding[static_cast<unsigned char>(cut[encodable])];
    if (coding == fuzz::Coding::kNone) break;
    leaves_only = leaves_only && coding == fuzz::Coding::kLeaf;
    ++encodable;
  }
  Require(result.ok == (encodable == cut.size()), "EncodeString's result");
  Require(code.compare(0, 3, "xyz") == 0, "EncodeString changed its output");
  if (leaves_only) {
    Require(code == "xyz" + testing::EncodeTestString(fixed.nodes,
                                                      cut.substr(0, encodable)),
            "EncodeString's code differs from the maker's");
  }
  return 0;
}
