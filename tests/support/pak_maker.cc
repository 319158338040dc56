#include "support/pak_maker.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <queue>
#include <random>

#include "pack/encoder.h"

namespace vorlex::core::testing {
namespace {

constexpr int kNone = 255;
using Nodes = std::vector<TreeNode>;
using Strings = std::vector<std::string>;
using Blocks = std::vector<TestBlock>;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "pak_maker: %s\n", why.c_str());
  std::abort();
}

void Append(uint64_t value, int width, std::string* out) {
  for (int i = 0; i < width; ++i) {
    out->push_back(static_cast<char>(value >> 8 * i));  // little-endian
  }
}

std::string Line(std::string_view text) { return std::string(text) + "\r\n"; }

// The code of `text`, every character of which must have one.
std::string Encode(const CodeTable& codes, std::string_view text) {
  std::string out;
  const EncodeResult result = EncodeString(text, codes, &out);
  if (!result.ok) {
    Fail("no leaf carries the character " + std::to_string(result.byte));
  }
  return out;
}

std::string BlockOf(const CodeTable& codes, const Strings& strings) {
  std::string block, bits;
  Append(strings.size(), 2, &block);
  for (const std::string& s : strings) {
    Append(bits.size(), 2, &block);
    bits += Encode(codes, s);
  }
  return block + bits;
}

// The encoder's codes with each character's taken from its lowest leaf: a
// renumbered tree may put an interior node that carries it first.
CodeTable LeafCodes(const Nodes& nodes) {
  CodeTree tree = MakeCodeTree(nodes);
  for (int k = tree.NodeCount() - 2; k >= 0; --k) {
    if (nodes[k].child_l == kNone && nodes[k].child_r == kNone) {
      tree.char_table[nodes[k].char_ & 0xFF] = k;
    }
  }
  return BuildCodeTable(tree);
}

}  // namespace

std::string MakePakfileFromBlockBytes(const Nodes& nodes, const Strings& blocks,
                                      const std::vector<int32_t>& ids) {
  std::string pak;
  Append(nodes.size(), 2, &pak);
  for (const TreeNode& n : nodes) {
    for (int32_t field : {n.char_, n.parent, n.child_l, n.child_r}) {
      pak.push_back(static_cast<char>(field));
    }
  }
  Append(blocks.size(), 2, &pak);
  uint64_t offset = pak.size() + 6 * blocks.size();
  for (size_t b = 0; b < blocks.size(); ++b) {
    Append(ids.empty() ? b : static_cast<uint32_t>(ids[b]), 2, &pak);
    Append(offset & 0xFFFFFF, 4, &pak);  // three bytes and a 0
    offset += blocks[b].size();
  }
  return std::accumulate(blocks.begin(), blocks.end(), pak);
}

Nodes BuildHuffmanTree(const Strings& strings) {
  std::array<uint64_t, 256> weights{};
  for (const std::string& s : strings) {
    for (unsigned char c : s) ++weights[c];
  }
  weights['|'] = std::max<uint64_t>(weights['|'], 1);
  if (std::count(weights.begin(), weights.end(), 0) == 255) weights[0] = 1;
  if (std::count(weights.begin(), weights.end(), 0) < 128) {
    Fail("more than 128 distinct characters do not fit a tree of 256 nodes");
  }
  Nodes nodes;
  // (weight, node number): ties go to the lower node number.
  using Entry = std::pair<uint64_t, int>;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
  for (int c = 0; c < 256; ++c) {
    if (weights[c] == 0) continue;
    queue.emplace(weights[c], static_cast<int>(nodes.size()));
    nodes.push_back(TreeNode{.char_ = c, .child_l = kNone, .child_r = kNone});
  }
  while (queue.size() > 1) {
    const auto [left_weight, left] = queue.top();
    queue.pop();
    const auto [right_weight, right] = queue.top();
    queue.pop();
    const int number = static_cast<int>(nodes.size());
    nodes[left].parent = nodes[right].parent = number;
    nodes.push_back(TreeNode{.child_l = left, .child_r = right});
    queue.emplace(left_weight + right_weight, number);
  }
  return nodes;
}

Nodes RenumberTree(const Nodes& nodes, uint32_t seed) {
  const int count = static_cast<int>(nodes.size());
  std::vector<int> number(nodes.size());
  std::iota(number.begin(), number.end(), 0);
  std::mt19937 random(seed);
  for (int i = count - 2; i > 0; --i) {  // the root keeps the last number
    std::swap(number[i], number[random() % static_cast<uint32_t>(i + 1)]);
  }
  auto renumber = [&](int link) {
    return link >= 0 && link < count && link != kNone ? number[link] : link;
  };
  Nodes renumbered(nodes.size());
  for (int k = 0; k < count; ++k) {
    const TreeNode& n = nodes[k];
    renumbered[number[k]] = {n.char_,
                             k + 1 == count ? n.parent : renumber(n.parent),
                             renumber(n.child_l), renumber(n.child_r)};
  }
  return renumbered;
}

CodeTree MakeCodeTree(const Nodes& nodes) {
  CodeTree tree;
  tree.nodes = nodes;
  PrepareCodeTree(&tree);
  return tree;
}

std::string EncodeTestString(const Nodes& nodes, std::string_view text) {
  return Encode(LeafCodes(nodes), text);
}

std::string EncodeTestBlock(const Nodes& nodes, const Strings& strings) {
  return BlockOf(LeafCodes(nodes), strings);
}

std::string MakePakfile(const Nodes& nodes, const Blocks& blocks) {
  const CodeTable codes = LeafCodes(nodes);
  Strings block_bytes;
  std::vector<int32_t> ids;
  for (const TestBlock& block : blocks) {
    block_bytes.push_back(BlockOf(codes, block.strings));
    ids.push_back(block.id);
  }
  return MakePakfileFromBlockBytes(nodes, block_bytes, ids);
}

Blocks RandomBlocks(uint32_t seed, int block_count, int strings_per_block,
                    std::string_view alphabet, int max_length) {
  std::string letters;
  std::copy_if(alphabet.begin(), alphabet.end(), std::back_inserter(letters),
               [](char c) { return c != ' ' && c != '\n' && c != '|'; });
  if (letters.empty()) Fail("the alphabet has no letters");
  const bool blank = alphabet.find(' ') != std::string_view::npos;
  const bool line_feed = alphabet.find('\n') != std::string_view::npos;
  // Plain remainders: std::mt19937's output is fixed, distributions' are not.
  std::mt19937 random(seed);
  auto below = [&random](size_t bound) { return random() % bound; };
  Blocks blocks(static_cast<size_t>(block_count));
  for (TestBlock& block : blocks) {
    block.id = static_cast<int32_t>(below(65536));
    for (int i = 0; i < strings_per_block; ++i) {
      const size_t length = below(static_cast<size_t>(max_length) + 1);
      std::string s;
      while (s.size() < length) {
        if (!s.empty()) {
          const bool lf = line_feed && below(12) == 0;
          if (lf || blank) s.push_back(lf ? '\n' : ' ');
        }
        // A word; the lower of two draws makes earlier letters more common.
        for (size_t n = 1 + below(8); n > 0; --n) {
          s.push_back(
              letters[std::min(below(letters.size()), below(letters.size()))]);
        }
      }
      s.resize(length);
      block.strings.push_back(s + '|');
    }
  }
  return blocks;
}

Strings AllStrings(const Blocks& blocks) {
  Strings strings;
  for (const TestBlock& block : blocks) {
    strings.insert(strings.end(), block.strings.begin(), block.strings.end());
  }
  return strings;
}

std::string ExpectedBlockSection(int block_nr, const TestBlock& block) {
  std::string text =
      Line("Block Nr: " + std::to_string(block_nr)) +
      Line("ID: " + std::to_string(block.id)) +
      Line("Nr of Strings: " + std::to_string(block.strings.size()));
  for (size_t k = 0; k < block.strings.size(); ++k) {
    text += Line(std::to_string(k) + ":  " + block.strings[k]);
  }
  return text + Line(std::string(78, '-'));
}

std::string ExpectedExtractText(std::string_view pakfile, int node_count,
                                const Blocks& blocks) {
  std::string text =
      Line("Strings extracted from: " + std::string(pakfile)) +
      Line("Number of Nods: " + std::to_string(node_count)) +
      Line("Number of Blocks: " + std::to_string(blocks.size())) +
      Line(std::string(78, '-'));
  for (size_t b = 0; b < blocks.size(); ++b) {
    text += ExpectedBlockSection(static_cast<int>(b), blocks[b]);
  }
  return text;
}

std::string Hex(std::string_view bytes, size_t limit) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : bytes.substr(0, limit)) {
    if (!text.empty()) text += ' ';
    text += {kDigits[c >> 4], kDigits[c & 15]};
  }
  return bytes.size() > limit ? text + " ..." : text;
}

std::string Unhex(std::string_view hex) {
  std::string digits, bytes;
  for (char c : hex) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

}  // namespace vorlex::core::testing
