#include "pack/block_encoder.h"

#include <string_view>

#include "extract/decoder.h"
#include "pak/fields.h"
#include "pak/pak_format.h"

namespace vorlex::core {

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

std::string StringShapeProblem(const std::string& text) {
  const size_t terminator = text.find(kTerminator);
  if (terminator == std::string::npos) {
    return "does not end with the terminator '|'";
  }
  if (terminator + 1 != text.size()) {
    return "holds the terminator '|' as character " +
           std::to_string(terminator + 1) + " of " +
           std::to_string(text.size()) + "; only the last may be '|'";
  }
  return "";
}

std::string EncodeBlock(const std::vector<std::string>& strings,
                        const BlockDecoder& decoder, const CodeTable& codes,
                        std::string* out) {
  const size_t start = out->size();
  const size_t count = strings.size();
  if (count > static_cast<size_t>(kMaxFieldValue)) {
    return "holds " + std::to_string(count) +
           " strings; a block holds at most 65535";
  }
  auto refuse = [&](std::string why) {
    out->resize(start);
    return why;
  };

  AppendInteger(static_cast<int64_t>(count), 2, out);
  out->append(2 * count, '\0');
  const size_t data_start = out->size();
  for (size_t k = 0; k < count; ++k) {
    const std::string& text = strings[k];
    const std::string name = "string " + std::to_string(k);
    if (std::string shape = StringShapeProblem(text); !shape.empty()) {
      return refuse(name + " " + shape);
    }
    const size_t relative = out->size() - data_start;
    if (relative > static_cast<size_t>(kMaxFieldValue)) {
      return refuse(name + " would start " + std::to_string(relative) +
                    " bytes into the block's bit data; a relative offset "
                    "holds at most 65535");
    }
    (*out)[start + 2 + 2 * k] = static_cast<char>(relative & 0xFF);
    (*out)[start + 3 + 2 * k] = static_cast<char>(relative >> 8);
    if (const EncodeResult bad = FindUnencodable(text, codes); !bad.ok) {
      return refuse(name + ": " + DescribeByteValue(bad.byte) + " (character " +
                    std::to_string(bad.position + 1) + ") " +
                    UnencodableReason(bad, decoder.tree(), codes));
    }
    EncodeString(text, codes, out);
  }

  // A damaged tree can give codes that decode to something else.
  const DecodedBlock decoded =
      decoder.Decode(std::string_view(*out).substr(start));
  for (size_t k = 0; k < count; ++k) {
    if (k >= decoded.StringsDecoded() || decoded.String(k) != strings[k]) {
      return refuse("string " + std::to_string(k) +
                    " does not decode back to the text encoded; the "
                    "pakfile's code tree cannot carry it");
    }
  }
  return "";
}

}  // namespace vorlex::core
