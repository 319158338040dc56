#include "pack/encoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

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

// A deep tree, which is rare: finds where the text must stop first, then
// feeds the codes in slices.
[[gnu::noinline]] EncodeResult EncodeDeep(std::string_view cut,
                                          const CodeTable& table,
                                          std::string* out) {
  EncodeResult result;
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

// Encodes `text` up to and including its first terminator into `p`, every
// code being at most kMaxFastBits / kGroup bits long, and returns the end of
// what it wrote. Above one, the packed codes of kGroup characters are joined
// before they enter the 64-bit buffer (with the fewer than 8 bits pending
// they fit), so the buffer's chain of shifts is walked once per group, and
// one sum gives their length and whether any stops the text. Each step
// stores the buffer's top 8 bytes whole and moves on by the whole bytes in
// it. At a character without code it stops and notes it in *result.
template <int kGroup>
char* EncodeGroups(std::string_view text, const CodeTable& table, char* p,
                   EncodeResult* result) {
  const auto* chars = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  uint64_t buffer = 0;  // pending bits from the top down
  int pending = 0;
  auto put = [&](uint64_t bits, int length) {
    buffer |= bits << (64 - pending - length);
    pending += length;
    StoreBigEndian64(p, buffer);
    p += pending >> 3;
    buffer <<= pending & ~7;
    pending &= 7;
  };
  size_t i = 0;
  if constexpr (kGroup > 1) {
    for (; i + kGroup <= size; i += kGroup) {
      uint64_t bits = 0;
      uint64_t sum = 0;  // the lengths, and a stop flag per stopping one
      for (int k = 0; k < kGroup; ++k) {
        const uint64_t code = table.packed[chars[i + k]];
        bits = bits << (code & 63) | code >> CodeTable::kPackedShift;
        sum += code;
      }
      if (sum & ((1 << CodeTable::kPackedShift) - CodeTable::kPackedStop)) {
        break;
      }
      put(bits, static_cast<int>(sum & 63));
    }
  }
  // The last characters, and a group that holds the terminator or a
  // character without code.
  for (; i < size; ++i) {
    const CodeTable::Code& code = table.codes[chars[i]];
    if (code.length == 0) {
      *result = {.ok = false, .position = i, .byte = chars[i]};
      break;
    }
    put(code.bits, code.length);
    if (chars[i] == kTerminator) break;
  }
  if (pending > 0) StoreBigEndian64(p++, buffer);
  return p;
}

}  // namespace

CodeTable BuildCodeTable(const CodeTree& tree) {
  CodeTable table;
  table.packed.fill(CodeTable::kPackedStop);
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
      if (code.length <= CodeTable::kMaxPackedBits) {
        table.packed[static_cast<size_t>(c)] =
            code.bits << CodeTable::kPackedShift |
            static_cast<uint64_t>(code.length) |
            (c == static_cast<unsigned char>(kTerminator)
                 ? CodeTable::kPackedStop
                 : 0);
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

namespace {

// Strings longer than this are encoded a piece at a time: the room made for
// the longest code of every character would, beside a long string, be more
// than the string's whole code.
constexpr size_t kEncodePiece = size_t{1} << 20;

// One string in one go: room is made for its longest possible code.
EncodeResult EncodeWhole(std::string_view text, const CodeTable& table,
                         std::string* out) {
  if (table.max_length > CodeTable::kMaxFastBits) {
    return EncodeDeep(CutAfterTerminator(text), table, out);
  }
  // The longest code bounds the room needed. The terminator is found on the
  // way, so the room is that of all of `text`. Most strings fit a buffer on
  // the stack, which saves clearing room in *out that is then cut off.
  const size_t room =
      (text.size() * static_cast<size_t>(table.max_length) + 7) / 8 + 8;
  char local[2048];
  const size_t old_size = out->size();
  if (room > sizeof local) out->resize(old_size + room);
  char* const begin = room > sizeof local ? out->data() + old_size : local;
  EncodeResult result;
  char* p;
  if (table.max_length * 4 <= CodeTable::kMaxFastBits) {
    p = EncodeGroups<4>(text, table, begin, &result);
  } else if (table.max_length <= CodeTable::kMaxPackedBits) {
    p = EncodeGroups<2>(text, table, begin, &result);
  } else {
    p = EncodeGroups<1>(text, table, begin, &result);
  }
  const size_t written = static_cast<size_t>(p - begin);
  if (begin == local) {
    out->append(local, written);
  } else {
    out->resize(old_size + written);
  }
  return result;
}

// Encodes a long `cut` (the terminator its last character, if any) in pieces
// that each end
// where the code reaches a byte boundary: no piece is padded, so the bytes
// are the same. Makes room in *out for the whole code first, so that a long
// string does not make the image double its buffer.
EncodeResult EncodeInPieces(std::string_view cut, const CodeTable& codes,
                            std::string* out) {
  auto bits_of = [&](size_t i) -> uint64_t {
    return static_cast<uint64_t>(
        codes.codes[static_cast<unsigned char>(cut[i])].length);
  };
  std::vector<size_t> ends;  // where each piece ends
  uint64_t bits = 0;
  size_t longest = 0;
  for (size_t i = 0, begin = 0; i < cut.size(); begin = i) {
    for (const size_t stop = std::min(cut.size(), i + kEncodePiece); i < stop;
         ++i) {
      bits += bits_of(i);
    }
    // Then on to the next byte boundary, or the end.
    while (i < cut.size() && bits % 8 != 0) bits += bits_of(i++);
    ends.push_back(i);
    longest = std::max(longest, i - begin);
  }
  // The whole code, and the encoder's room for the longest piece.
  const size_t room = out->size() + bits / 8 + 16 +
                      longest * static_cast<size_t>(codes.max_length) / 8;
  if (room > out->capacity()) {
    out->reserve(std::max(room, 2 * out->capacity()));
  }
  size_t begin = 0;
  for (const size_t end : ends) {
    EncodeResult result =
        EncodeWhole(cut.substr(begin, end - begin), codes, out);
    if (!result.ok) {
      result.position += begin;
      return result;
    }
    begin = end;
  }
  return {};
}

}  // namespace

EncodeResult EncodeString(std::string_view text, const CodeTable& table,
                          std::string* out) {
  if (text.size() > kEncodePiece) {
    const std::string_view cut = CutAfterTerminator(text);
    if (cut.size() > kEncodePiece) return EncodeInPieces(cut, table, out);
  }
  return EncodeWhole(text, table, out);
}

}  // namespace vorlex::core
