#include "pack/block_encoder.h"

#include <algorithm>

#include "extract/decoder.h"
#include "pak/fields.h"

namespace vorlex::core {
namespace {

using Kind = BlockProblem::Kind;

// Blocks up to this size are decoded whole to be compared: their text is a
// few MiB at most. Longer ones are compared piece by piece as they are
// decoded, so that a long block's text is never held twice.
constexpr size_t kWholeReadBack = size_t{1} << 18;

// Whether `block` decodes back to `strings`, in their order; the position of
// the first string that does not, or kWholeBlock.
size_t FirstNotReadBack(std::string_view block,
                        std::span<const BlockString> strings,
                        const BlockCoder& coder) {
  if (block.size() <= kWholeReadBack) {
    const DecodedBlock decoded = coder.decoder.Decode(block);
    for (size_t k = 0; k < strings.size(); ++k) {
      if (k >= decoded.StringsDecoded() ||
          decoded.String(k) != strings[k].text) {
        return k;
      }
    }
    return BlockProblem::kWholeBlock;
  }
  size_t k = 0;     // the string under way
  size_t done = 0;  // how much of it has matched
  coder.decoder.DecodeInPieces(block, [&](std::string_view chars, bool ended) {
    if (k == strings.size()) return false;
    const std::string_view text = strings[k].text;
    if (chars != text.substr(done, chars.size())) return false;
    done += chars.size();
    if (!ended) return true;
    if (done != text.size()) return false;
    ++k;
    done = 0;
    return true;
  });
  return k < strings.size() ? k : BlockProblem::kWholeBlock;
}

}  // namespace

std::string DescribeByteValue(unsigned char byte) {
  std::string text = "byte " + std::to_string(byte);
  if (byte >= 32 && byte < 127) {
    text += " '";
    text.push_back(static_cast<char>(byte));
    text += "'";
  }
  return text;
}

std::string UnencodableReason(const EncodeResult& bad, const CodeTree& tree,
                              const CodeTable& codes,
                              std::string_view tree_name) {
  std::string reason = "has no code in ";
  reason += tree_name;
  if (codes.codes[bad.byte].length != 0) {
    reason += ": the node that carries it, " +
              std::to_string(tree.char_table[bad.byte]) + ", is not a leaf";
  }
  return reason;
}

bool EncodeBlock(int64_t count, std::span<const BlockString> strings,
                 const BlockCoder& coder, std::string* out,
                 std::vector<BlockProblem>* problems) {
  const size_t start = out->size();
  const size_t problems_before = problems->size();
  auto problem = [&](Kind kind, size_t string, std::string what,
                     size_t position = 0) {
    problems->push_back(BlockProblem{.kind = kind,
                                     .string = string,
                                     .position = position,
                                     .what = std::move(what),
                                     .positions = {}});
  };
  // A character with no code, or (found only when the block does not read
  // back) one whose code does not end at a leaf.
  auto UnencodableProblem = [&](const EncodeResult& bad, size_t k) {
    problem(coder.codes.codes[bad.byte].length == 0 ? Kind::kNoCode
                                                    : Kind::kNotLeaf,
            k,
            DescribeByteValue(bad.byte) + " (character " +
                std::to_string(bad.position + 1) + " of string " +
                std::to_string(strings[k].index) + ") " +
                UnencodableReason(bad, coder.decoder.tree(), coder.codes),
            bad.position);
  };

  // With a count its field cannot hold there is no offset table to fill;
  // the strings are still encoded, to find every character without a code.
  const bool count_fits = Fits(Limit::kStringCount, count);
  if (!count_fits) {
    problem(Kind::kStringCount, BlockProblem::kWholeBlock,
            "a string count of " + std::to_string(count) + "; " +
                std::string(LimitText(Limit::kStringCount)));
  }
  const size_t n = count_fits ? static_cast<size_t>(count) : 0;
  AppendInteger(static_cast<int64_t>(n), 2, out);
  out->append(2 * n, '\0');
  const size_t data_start = out->size();
  std::vector<uint8_t> seen(n, 0);

  for (size_t k = 0; k < strings.size(); ++k) {
    const int64_t index = strings[k].index;
    const size_t relative = out->size() - data_start;
    if (!count_fits) {
      // No table to check the index against.
    } else if (index < 0 || index >= count) {
      problem(Kind::kIndex, k,
              "string index " + std::to_string(index) + " lies outside 0 to " +
                  std::to_string(count - 1));
    } else {
      uint8_t& occurred = seen[static_cast<size_t>(index)];
      if (occurred != 0) {
        problem(Kind::kIndex, k,
                "string index " + std::to_string(index) + " occurs twice");
      }
      occurred = 1;
      if (!Fits(Limit::kRelativeOffset, static_cast<int64_t>(relative))) {
        problem(Kind::kOffset, k,
                "string " + std::to_string(index) + " starts " +
                    std::to_string(relative) +
                    " bytes into the block's bit data; " +
                    std::string(LimitText(Limit::kRelativeOffset)));
      }
      const size_t at = start + 2 + 2 * static_cast<size_t>(index);
      (*out)[at] = static_cast<char>(relative & 0xFF);
      (*out)[at + 1] = static_cast<char>((relative >> 8) & 0xFF);
    }
    const EncodeResult bad = EncodeString(strings[k].text, coder.codes, out);
    if (!bad.ok) {
      UnencodableProblem(bad, k);
      // Every other character without a code, so that one look finds all.
      const std::string_view text = strings[k].text;
      std::vector<size_t>& positions = problems->back().positions;
      for (size_t i = bad.position; i < text.size(); ++i) {
        if (coder.codes.codes[static_cast<unsigned char>(text[i])].length ==
            0) {
          positions.push_back(i);
        }
      }
    }
  }

  if (problems->size() == problems_before) {
    for (size_t index = 0; index < n; ++index) {
      if (seen[index] == 0) {
        problem(Kind::kMissingIndex, BlockProblem::kWholeBlock,
                "no string has the index " + std::to_string(index) +
                    " (the indexes must run 0 to " + std::to_string(n - 1) +
                    ")");
        break;
      }
    }
  }
  // A damaged tree can give codes that decode to something else.
  if (problems->size() == problems_before) {
    const size_t k =
        FirstNotReadBack(std::string_view(*out).substr(start), strings, coder);
    if (k != BlockProblem::kWholeBlock) {
      // Codes that end inside the tree encode but read on; name them.
      for (size_t j = 0; j < strings.size(); ++j) {
        const EncodeResult bad = FindUnencodable(strings[j].text, coder.codes);
        if (!bad.ok) UnencodableProblem(bad, j);
      }
    }
    if (k != BlockProblem::kWholeBlock && problems->size() == problems_before) {
      problem(Kind::kReadBack, k,
              "string " + std::to_string(strings[k].index) +
                  " does not decode back to the text encoded; the pakfile's "
                  "code tree cannot carry it");
    }
  }
  if (problems->size() == problems_before) return true;
  out->resize(start);
  return false;
}

}  // namespace vorlex::core
