#include "support/pak_maker.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <queue>
#include <random>
#include <tuple>

namespace vorlex::testing {
namespace {

constexpr int kNone = 255;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "pak_maker: %s\n", why.c_str());
  std::abort();
}

void AppendLittleEndian(uint64_t value, int width, std::string* out) {
  for (int i = 0; i < width; ++i) {
    out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
}

bool IsLeaf(const TreeNode& node) {
  return node.child_l == kNone && node.child_r == kNone;
}

// The code of every character that a leaf carries, as '0'/'1' text from the
// root down. The lowest leaf wins when two carry the same character.
std::array<std::optional<std::string>, 256> CodeTable(
    const std::vector<TreeNode>& nodes) {
  std::array<std::optional<std::string>, 256> codes;
  const int root = static_cast<int>(nodes.size()) - 1;
  for (int leaf = 0; leaf < root; ++leaf) {
    const TreeNode& node = nodes[static_cast<size_t>(leaf)];
    if (!IsLeaf(node)) continue;
    std::optional<std::string>& code =
        codes[static_cast<unsigned char>(node.char_)];
    if (code) continue;
    std::string bits;
    int current = leaf;
    while (current != root) {
      const int parent = nodes[static_cast<size_t>(current)].parent;
      if (parent < 0 || parent > root || bits.size() > nodes.size()) {
        Fail("node " + std::to_string(leaf) + " has no path to the root");
      }
      const TreeNode& up = nodes[static_cast<size_t>(parent)];
      if (up.child_l == current) {
        bits.push_back('0');
      } else if (up.child_r == current) {
        bits.push_back('1');
      } else {
        Fail("node " + std::to_string(parent) + " is not the parent of " +
             std::to_string(current));
      }
      current = parent;
    }
    std::reverse(bits.begin(), bits.end());
    code = std::move(bits);
  }
  return codes;
}

std::string EncodeWith(const std::array<std::optional<std::string>, 256>& codes,
                       std::string_view text) {
  std::string out;
  int used = 8;  // bits used in the last byte of `out`
  for (char c : text) {
    const std::optional<std::string>& code =
        codes[static_cast<unsigned char>(c)];
    if (!code) {
      Fail("no leaf carries the character " +
           std::to_string(static_cast<unsigned char>(c)));
    }
    for (char bit : *code) {
      if (used == 8) {
        out.push_back('\0');
        used = 0;
      }
      if (bit == '1') out.back() = static_cast<char>(out.back() | 0x80 >> used);
      ++used;
    }
  }
  return out;
}

std::string Line(std::string_view text) {
  std::string line(text);
  line.append("\r\n");
  return line;
}

}  // namespace

std::vector<TreeNode> BuildHuffmanTree(
    const std::vector<std::string>& strings) {
  std::array<uint64_t, 256> weights{};
  for (const std::string& s : strings) {
    for (char c : s) ++weights[static_cast<unsigned char>(c)];
  }
  weights['|'] = std::max<uint64_t>(weights['|'], 1);
  std::vector<int> chars;
  for (int c = 0; c < 256; ++c) {
    if (weights[c] > 0) chars.push_back(c);
  }
  if (chars.size() == 1) {
    const int partner = chars[0] == 0 ? 1 : 0;
    weights[partner] = 1;
    chars.push_back(partner);
    std::sort(chars.begin(), chars.end());
  }
  if (chars.size() > 128) {
    Fail(std::to_string(chars.size()) +
         " distinct characters do not fit a tree of 256 nodes");
  }

  std::vector<TreeNode> nodes;
  // (weight, node number): ties go to the lower node number.
  using Entry = std::pair<uint64_t, int>;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
  for (int c : chars) {
    queue.emplace(weights[c], static_cast<int>(nodes.size()));
    nodes.push_back(TreeNode{.char_ = c, .child_l = kNone, .child_r = kNone});
  }
  while (queue.size() > 1) {
    const Entry left = queue.top();
    queue.pop();
    const Entry right = queue.top();
    queue.pop();
    const int number = static_cast<int>(nodes.size());
    nodes[static_cast<size_t>(left.second)].parent = number;
    nodes[static_cast<size_t>(right.second)].parent = number;
    nodes.push_back(TreeNode{.child_l = left.second, .child_r = right.second});
    queue.emplace(left.first + right.first, number);
  }
  return nodes;
}

std::vector<TreeNode> RenumberTree(const std::vector<TreeNode>& nodes,
                                   uint32_t seed) {
  const int count = static_cast<int>(nodes.size());
  std::vector<int> number(static_cast<size_t>(count));
  std::iota(number.begin(), number.end(), 0);
  std::mt19937 random(seed);
  // The root keeps the last number.
  for (int i = count - 2; i > 0; --i) {
    std::swap(number[static_cast<size_t>(i)],
              number[random() % static_cast<uint32_t>(i + 1)]);
  }
  auto renumber = [&](int link) {
    return link >= 0 && link < count && link != kNone
               ? number[static_cast<size_t>(link)]
               : link;
  };
  std::vector<TreeNode> renumbered(nodes.size());
  for (int k = 0; k < count; ++k) {
    const TreeNode& node = nodes[static_cast<size_t>(k)];
    TreeNode& moved = renumbered[static_cast<size_t>(number[k])];
    moved.char_ = node.char_;
    moved.parent = k == count - 1 ? node.parent : renumber(node.parent);
    moved.child_l = renumber(node.child_l);
    moved.child_r = renumber(node.child_r);
  }
  return renumbered;
}

CodeTree MakeCodeTree(const std::vector<TreeNode>& nodes) {
  CodeTree tree;
  tree.nodes = nodes;
  PrepareCodeTree(&tree);
  return tree;
}

std::string EncodeTestString(const std::vector<TreeNode>& nodes,
                             std::string_view text) {
  return EncodeWith(CodeTable(nodes), text);
}

std::string EncodeTestBlock(const std::vector<TreeNode>& nodes,
                            const std::vector<std::string>& strings) {
  const auto codes = CodeTable(nodes);
  std::string block;
  AppendLittleEndian(strings.size(), 2, &block);
  std::string bits;
  for (const std::string& s : strings) {
    AppendLittleEndian(bits.size(), 2, &block);
    bits.append(EncodeWith(codes, s));
  }
  return block + bits;
}

std::string MakePakfileFromBlockBytes(const std::vector<TreeNode>& nodes,
                                      const std::vector<std::string>& blocks) {
  std::string pak;
  AppendLittleEndian(nodes.size(), 2, &pak);
  for (const TreeNode& node : nodes) {
    for (int32_t field :
         {node.char_, node.parent, node.child_l, node.child_r}) {
      pak.push_back(static_cast<char>(field));
    }
  }
  AppendLittleEndian(blocks.size(), 2, &pak);
  uint64_t offset = pak.size() + 6 * blocks.size();
  for (size_t b = 0; b < blocks.size(); ++b) {
    AppendLittleEndian(b, 2, &pak);
    AppendLittleEndian(offset & 0xFFFFFF, 3, &pak);
    pak.push_back('\0');
    offset += blocks[b].size();
  }
  for (const std::string& block : blocks) pak.append(block);
  return pak;
}

std::string MakePakfile(const std::vector<TreeNode>& nodes,
                        const std::vector<TestBlock>& blocks) {
  std::vector<std::string> block_bytes;
  for (const TestBlock& block : blocks) {
    block_bytes.push_back(EncodeTestBlock(nodes, block.strings));
  }
  std::string pak = MakePakfileFromBlockBytes(nodes, block_bytes);
  // Put the ids in place of the block numbers.
  const size_t directory = 4 + 4 * nodes.size();
  for (size_t b = 0; b < blocks.size(); ++b) {
    std::string id;
    AppendLittleEndian(static_cast<uint32_t>(blocks[b].id), 2, &id);
    pak.replace(directory + 6 * b, 2, id);
  }
  return pak;
}

LoadedPak LoadTestPak(std::string bytes) {
  LoadedPak pak;
  pak.bytes = std::move(bytes);
  pak.header = LoadPakHeader(pak.bytes);
  PrepareBitPaths(pak.header.node_count, &pak.tree);
  LoadTreeAndDirectory(pak.bytes, pak.header, &pak.tree.nodes, &pak.directory);
  BuildBitPaths(&pak.tree);
  BuildCharTable(&pak.tree);
  return pak;
}

std::vector<TestBlock> RandomBlocks(uint32_t seed, int block_count,
                                    int strings_per_block,
                                    std::string_view alphabet, int max_length) {
  std::string letters;
  bool has_blank = false, has_line_feed = false;
  for (char c : alphabet) {
    if (c == ' ') {
      has_blank = true;
    } else if (c == '\n') {
      has_line_feed = true;
    } else if (c != '|') {
      letters.push_back(c);
    }
  }
  if (letters.empty()) Fail("the alphabet has no letters");
  // std::mt19937's sequence is fixed by the standard; the distributions are
  // not, so the draws below use plain remainders.
  std::mt19937 random(seed);
  auto below = [&random](size_t bound) {
    return static_cast<size_t>(random() % static_cast<uint32_t>(bound));
  };
  auto word = [&](std::string* s) {
    const size_t length = 1 + below(8);
    for (size_t i = 0; i < length; ++i) {
      // The lower of two draws: earlier letters come more often.
      s->push_back(
          letters[std::min(below(letters.size()), below(letters.size()))]);
    }
  };

  std::vector<TestBlock> blocks(static_cast<size_t>(block_count));
  for (TestBlock& block : blocks) {
    block.id = static_cast<int32_t>(below(65536));
    for (int i = 0; i < strings_per_block; ++i) {
      const size_t length = below(static_cast<size_t>(max_length) + 1);
      std::string s;
      while (s.size() < length) {
        if (!s.empty()) {
          if (has_line_feed && below(12) == 0) {
            s.push_back('\n');
          } else if (has_blank) {
            s.push_back(' ');
          }
        }
        word(&s);
      }
      s.resize(length);
      s.push_back('|');
      block.strings.push_back(std::move(s));
    }
  }
  return blocks;
}

std::vector<std::string> AllStrings(const std::vector<TestBlock>& blocks) {
  std::vector<std::string> strings;
  for (const TestBlock& block : blocks) {
    strings.insert(strings.end(), block.strings.begin(), block.strings.end());
  }
  return strings;
}

std::string ExpectedBlockSection(int block_nr, const TestBlock& block) {
  std::string text = Line("Block Nr: " + std::to_string(block_nr));
  text += Line("ID: " + std::to_string(block.id));
  text += Line("Nr of Strings: " + std::to_string(block.strings.size()));
  for (size_t k = 0; k < block.strings.size(); ++k) {
    text += Line(std::to_string(k) + ":  " + block.strings[k]);
  }
  return text + Line(std::string(78, '-'));
}

std::string ExpectedExtractText(std::string_view pakfile, int node_count,
                                const std::vector<TestBlock>& blocks) {
  std::string text = Line("Strings extracted from: " + std::string(pakfile));
  text += Line("Number of Nods: " + std::to_string(node_count));
  text += Line("Number of Blocks: " + std::to_string(blocks.size()));
  text += Line(std::string(78, '-'));
  for (size_t b = 0; b < blocks.size(); ++b) {
    text += ExpectedBlockSection(static_cast<int>(b), blocks[b]);
  }
  return text;
}

}  // namespace vorlex::testing
