#include "pack/encoder.h"

#include <algorithm>
#include <cstring>

#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

// Collects whole bytes in a small local buffer so that the output string is
// appended to in runs rather than byte by byte.
inline void StoreBigEndian64(char* p, uint64_t value) {
  value = __builtin_bswap64(value);
  std::memcpy(p, &value, sizeof value);
}

class BitSink {
 public:
  explicit BitSink(std::string* out) : out_(out) {}

  // `length` is 1 to kMaxFastBits; fewer than 8 bits are pending before.
  void Put(uint64_t bits, int length) {
    buffer_ = (buffer_ << length) | bits;
    pending_ += length;
    while (pending_ >= 8) {
      pending_ -= 8;
      bytes_[used_++] = static_cast<char>(buffer_ >> pending_);
    }
    if (used_ > sizeof bytes_ - 8) Flush();
  }

  // A code longer than the fast path takes, fed in slices.
  void PutLong(std::string_view code) {
    while (!code.empty()) {
      const size_t take =
          std::min(code.size(), static_cast<size_t>(CodeTable::kMaxFastBits));
      uint64_t bits = 0;
      for (size_t i = 0; i < take; ++i) bits = (bits << 1) | (code[i] == '1');
      Put(bits, static_cast<int>(take));
      code.remove_prefix(take);
    }
  }

  // Pads the last byte with 0 bits and hands over what is left.
  void Finish() {
    if (pending_ > 0) {
      bytes_[used_++] = static_cast<char>(buffer_ << (8 - pending_));
      pending_ = 0;
    }
    Flush();
  }

 private:
  void Flush() {
    out_->append(bytes_, used_);
    used_ = 0;
  }

  std::string* out_;
  uint64_t buffer_ = 0;
  int pending_ = 0;  // bits in buffer_ not yet in bytes_, always below 8
  size_t used_ = 0;
  char bytes_[256];
};

}  // namespace

CodeTable BuildCodeTable(const CodeTree& tree) {
  CodeTable table;
  for (int c = 0; c < 256; ++c) {
    const std::string_view path =
        CharBitPath(tree, static_cast<unsigned char>(c));
    if (path.empty()) continue;
    CodeTable::Code& code = table.codes[static_cast<size_t>(c)];
    // The decoder stops at a node when its child on the side it came in by
    // is absent; the first step of the stored path is that side.
    const TreeNode& node = tree.Node(tree.char_table[static_cast<size_t>(c)]);
    table.not_leaf[static_cast<size_t>(c)] =
        (path.front() == '0' ? node.child_l : node.child_r) != kNoChild;
    table.any_not_leaf =
        table.any_not_leaf || table.not_leaf[static_cast<size_t>(c)];
    code.length = static_cast<int32_t>(path.size());
    table.max_length = std::max(table.max_length, code.length);
    // The stored path runs from the leaf up; the code runs from the root down.
    if (path.size() <= CodeTable::kMaxFastBits) {
      for (auto step = path.rbegin(); step != path.rend(); ++step) {
        code.bits = (code.bits << 1) | (*step == '1');
      }
    } else {
      table.long_codes[static_cast<size_t>(c)].assign(path.rbegin(),
                                                      path.rend());
    }
  }
  return table;
}

std::string_view CutAfterTerminator(std::string_view text) {
  const size_t end = text.find(kTerminator);
  return end == std::string_view::npos ? text : text.substr(0, end + 1);
}

EncodeResult FindUnencodable(std::string_view text, const CodeTable& table) {
  const std::string_view cut = CutAfterTerminator(text);
  for (size_t i = 0; i < cut.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(cut[i]);
    if (table.codes[c].length == 0 || table.not_leaf[c]) {
      return {.ok = false, .position = i, .byte = c};
    }
  }
  return {};
}

EncodeResult EncodeString(std::string_view text, const CodeTable& table,
                          std::string* out) {
  const std::string_view cut = CutAfterTerminator(text);
  EncodeResult result;
  if (table.max_length > CodeTable::kMaxFastBits) {
    // A deep tree, which is rare: find where the text must stop first, then
    // feed the codes in slices.
    size_t end = 0;
    while (end < cut.size() &&
           table.codes[static_cast<unsigned char>(cut[end])].length != 0) {
      ++end;
    }
    if (end < cut.size()) {
      result = {.ok = false,
                .position = end,
                .byte = static_cast<unsigned char>(cut[end])};
    }
    BitSink sink(out);
    for (unsigned char c : cut.substr(0, end)) {
      const CodeTable::Code& code = table.codes[c];
      if (code.length <= CodeTable::kMaxFastBits) {
        sink.Put(code.bits, code.length);
      } else {
        sink.PutLong(table.long_codes[c]);
      }
    }
    sink.Finish();
    return result;
  }
  // Every code fits the 64-bit buffer with the fewer than 8 bits pending, so
  // each character's bits go in with one shift, and each step stores the
  // buffer's top 8 bytes whole and moves on by the whole bytes in it. The
  // longest code bounds the room needed; what is not used is cut off.
  const size_t old_size = out->size();
  out->resize(old_size +
              (cut.size() * static_cast<size_t>(table.max_length) + 7) / 8 + 8);
  char* const begin = out->data() + old_size;
  char* p = begin;
  uint64_t buffer = 0;  // pending bits from the top down
  int pending = 0;
  for (size_t i = 0; i < cut.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(cut[i]);
    const CodeTable::Code& code = table.codes[c];
    if (code.length == 0) {
      result = {.ok = false, .position = i, .byte = c};
      break;
    }
    buffer |= code.bits << (64 - pending - code.length);
    pending += code.length;
    StoreBigEndian64(p, buffer);
    p += pending >> 3;
    buffer <<= pending & ~7;
    pending &= 7;
  }
  if (pending > 0) StoreBigEndian64(p++, buffer);
  out->resize(old_size + static_cast<size_t>(p - begin));
  return result;
}

}  // namespace vorlex::core
