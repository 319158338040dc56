#include <algorithm>
#include <cstring>

#include "extract/bit_reader.h"
#include "extract/decode_engines.h"
#include "pak/fields.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

// One pass of the decoder over the bit data, from a string's first bit.
struct Stream {
  uint64_t pos = 0;           // the next bit
  size_t used = 0;            // characters written to `text`
  size_t wanted = 0;          // strings still to decode
  uint64_t string_start = 0;  // the first bit of the string under way
  bool done = false;     // wanted strings decoded, the bits ran out, or gave up
  bool gave_up = false;  // stopped in a string longer than allowed
  std::string text;      // its characters, with room to spare
  std::vector<size_t> ends;  // where each of its strings ends in `text`
};

// An entry's count, bits and terminated flag in one load: count in the low
// byte, bits in the next, the flag above.
constexpr uint32_t kBitsMask = 0xFF00;
inline uint32_t Meta(const TableEntry& e) {
  uint32_t meta;
  std::memcpy(&meta, &e.count, sizeof meta);
  return meta;
}

enum class WindowResult { kGoOn, kEnded, kSlow };

// A lookup writes 8 characters at once; a window makes up to 5 lookups.
constexpr size_t kWindowSlack = 5 * 8;

void Reserve(Stream* s) {
  if (s->used + kWindowSlack > s->text.size()) {
    s->text.resize(2 * s->text.size() + kWindowSlack);
  }
}

// Makes up to five lookups in the 57 bits from s->pos, stopping after a
// terminator or before a code longer than the table.
inline WindowResult DecodeWindow(const BitReader& bits,
                                 const TableEntry* entries, Stream* s) {
  uint64_t window = bits.Window(s->pos);
  char* out = s->text.data() + s->used;
  uint64_t pos = s->pos;
  WindowResult result = WindowResult::kGoOn;
  for (int i = 0; i < 5; ++i) {
    const TableEntry& e = entries[window >> (64 - kTableBits)];
    if (e.bits == 0) {
      result = WindowResult::kSlow;
      break;
    }
    std::memcpy(out, e.chars, 8);
    out += e.count;
    pos += e.bits;
    window <<= e.bits;
    if (e.terminated) {
      result = WindowResult::kEnded;
      break;
    }
  }
  s->pos = pos;
  s->used = static_cast<size_t>(out - s->text.data());
  return result;
}

// Closes the string a terminator just ended; the rest of its byte is
// padding.
inline void EndString(Stream* s) {
  s->ends.push_back(s->used);
  s->pos = NextByteBoundary(s->pos);
  s->string_start = s->pos;
  if (--s->wanted == 0) s->done = true;
}

// Stops a stream whose string under way has taken more than `limit` bits.
inline bool GiveUpIfLong(uint64_t limit, Stream* s) {
  if (s->done || s->pos - s->string_start <= limit) return false;
  s->done = true;
  s->gave_up = true;
  return true;
}

// Walks one code bit by bit from the root: for codes longer than the table,
// and for the last bytes, where a window would read past the block.
void WalkOneCode(const CodeTree& tree, const BitReader& bits,
                 uint64_t give_up_bits, Stream* s) {
  int64_t node = tree.NodeCount() - 1;
  while (s->pos < bits.bit_count) {
    // A code that goes round the tree without a leaf can be any length.
    if (GiveUpIfLong(give_up_bits, s)) return;
    const TreeStep step = StepDown(tree, node, bits.Bit(s->pos++));
    node = step.node;
    if (step.leaf) {
      const char ch = static_cast<char>(tree.Node(node).char_);
      Reserve(s);
      s->text[s->used++] = ch;
      if (ch == kTerminator) EndString(s);
      return;
    }
  }
  s->done = true;  // the bits ran out inside a code
}

// Advances a stream by one window, or one code where a window cannot be used.
inline void Advance(const CodeTree& tree, const BitReader& bits,
                    const TableEntry* entries, uint64_t give_up_bits,
                    Stream* s) {
  if (s->pos >= bits.bit_count) {
    s->done = true;
    return;
  }
  Reserve(s);
  if (s->pos < bits.WindowLimit()) {
    switch (DecodeWindow(bits, entries, s)) {
      case WindowResult::kGoOn:
        return;
      case WindowResult::kEnded:
        EndString(s);
        return;
      case WindowResult::kSlow:
        break;
    }
  }
  WalkOneCode(tree, bits, give_up_bits, s);
}

// A stream from bit `pos` of `bit_count`. Its text grows as it is written;
// it starts at what the bits usually give, and never at more than a few
// hundred KiB, whatever the extent.
Stream StartStream(uint64_t pos, uint64_t bit_count, size_t wanted) {
  Stream s;
  s.pos = pos;
  s.string_start = pos;
  s.wanted = wanted;
  s.done = wanted == 0;
  const uint64_t bytes = (bit_count - pos) / 8;
  s.text.resize(static_cast<size_t>(std::min<uint64_t>(
                    {2 * bytes, 256 * uint64_t{wanted} + 256, 1 << 20})) +
                kWindowSlack);
  s.ends.reserve(std::min<uint64_t>(wanted, bytes + 1));
  return s;
}

// Windows decoded between two looks at how long the strings under way are.
constexpr size_t kRoundsPerLook = 64;

// Runs kStreams streams side by side while all of them can take whole
// windows. Positions, windows and output pointers stay in locals between
// events (an ended string, a long code, the end of the fast range, a full
// buffer), so the chains of lookups overlap in the processor.
template <int kStreams>
void AdvanceTogether(const BitReader& bits, const TableEntry* entries,
                     uint64_t give_up_bits, Stream* const* streams) {
  const uint64_t fast_limit = bits.WindowLimit();
  while (true) {
    size_t rounds = kRoundsPerLook;
    for (int j = 0; j < kStreams; ++j) {
      Stream* s = streams[j];
      if (GiveUpIfLong(give_up_bits, s)) return;
      if (s->done || s->pos >= fast_limit) return;
      Reserve(s);
      rounds = std::min(rounds, (s->text.size() - s->used) / kWindowSlack);
    }
    uint64_t pos[kStreams];
    char* out[kStreams];
    for (int j = 0; j < kStreams; ++j) {
      pos[j] = streams[j]->pos;
      out[j] = streams[j]->text.data() + streams[j]->used;
    }
    bool event = false;
    for (size_t r = 0; r < rounds && !event; ++r) {
      uint64_t window[kStreams];
      for (int j = 0; j < kStreams; ++j) {
        if (pos[j] >= fast_limit) event = true;
      }
      if (event) break;
      for (int j = 0; j < kStreams; ++j) {
        window[j] = bits.Window(pos[j]);
      }
      for (int i = 0; i < 5 && !event; ++i) {
        uint32_t meta[kStreams];
        const TableEntry* e[kStreams];
        for (int j = 0; j < kStreams; ++j) {
          e[j] = &entries[window[j] >> (64 - kTableBits)];
          meta[j] = Meta(*e[j]);
          event |= (meta[j] & kBitsMask) == 0;
        }
        if (event) break;
        for (int j = 0; j < kStreams; ++j) {
          std::memcpy(out[j], e[j]->chars, 8);
          out[j] += meta[j] & 0xFF;
          const unsigned bits = (meta[j] >> 8) & 0xFF;
          pos[j] += bits;
          window[j] <<= bits;
          event |= meta[j] > 0xFFFF;
        }
        if (event) {
          // Close the strings that ended here; the others go on later.
          for (int j = 0; j < kStreams; ++j) {
            if (meta[j] <= 0xFFFF) continue;
            streams[j]->pos = pos[j];
            streams[j]->used =
                static_cast<size_t>(out[j] - streams[j]->text.data());
            EndString(streams[j]);
            pos[j] = streams[j]->pos;
          }
        }
      }
    }
    bool slow = false;
    for (int j = 0; j < kStreams; ++j) {
      Stream* s = streams[j];
      s->pos = pos[j];
      s->used = static_cast<size_t>(out[j] - s->text.data());
    }
    // A long code is walked by the single-stream step.
    for (int j = 0; j < kStreams; ++j) {
      Stream* s = streams[j];
      if (s->done || s->pos >= fast_limit) return;
      const uint64_t window = bits.Window(s->pos);
      if (entries[window >> (64 - kTableBits)].bits == 0) slow = true;
    }
    if (slow) return;
  }
}

// Fills the entries whose first `depth` bits are `prefix`, the walk of those
// bits having reached `node` and given `entry`. Each prefix is walked once,
// so the whole table takes 2^(kTableBits+1) steps.
void FillEntries(const CodeTree& tree, int64_t root, uint32_t prefix, int depth,
                 int64_t node, const TableEntry& entry, TableEntry* entries) {
  if (depth == kTableBits || entry.terminated || entry.count == 8) {
    const int rest = kTableBits - depth;
    std::fill_n(entries + (size_t{prefix} << rest), size_t{1} << rest, entry);
    return;
  }
  for (unsigned bit = 0; bit < 2; ++bit) {
    const TreeStep step = StepDown(tree, node, bit);
    TableEntry next = entry;
    if (step.leaf) {
      const char ch = static_cast<char>(tree.Node(step.node).char_);
      next.chars[next.count++] = ch;
      next.bits = static_cast<uint8_t>(depth + 1);
      next.terminated = ch == kTerminator;
    }
    FillEntries(tree, root, prefix << 1 | bit, depth + 1,
                step.leaf ? root : step.node, next, entries);
  }
}

}  // namespace

std::vector<TableEntry> MakeDecodeTable(const CodeTree& tree) {
  std::vector<TableEntry> table(size_t{1} << kTableBits, TableEntry{});
  if (tree.NodeCount() != 0) {
    FillEntries(tree, tree.NodeCount() - 1, 0, 0, tree.NodeCount() - 1,
                TableEntry{}, table.data());
  }
  return table;
}

StringRun DecodeStrings(std::string_view bit_data, size_t wanted,
                        std::string_view hints, const CodeTree& tree,
                        const std::vector<TableEntry>& table,
                        uint64_t give_up_bits, DecodedBlock* decoded) {
  const size_t n = wanted;
  const BitReader bits(bit_data);
  const size_t data_size = bit_data.size();
  const uint64_t bit_count = bits.bit_count;
  const uint64_t fast_limit = bits.WindowLimit();
  const TableEntry* const entries = table.data();
  auto advance = [&](Stream* s) {
    Advance(tree, bits, entries, give_up_bits, s);
    GiveUpIfLong(give_up_bits, s);
  };
  // One stream alone, windows in registers until an event, then one step.
  auto run_to_end = [&](Stream* s) {
    Stream* const one[1] = {s};
    while (!s->done) {
      AdvanceTogether<1>(bits, entries, give_up_bits, one);
      if (!s->done) advance(s);
    }
  };

  // The relative offsets of strings n/4, n/2 and 3n/4, when they look
  // sound, let four streams decode the quarters of the block side by side:
  // their chains of lookups overlap in the processor. A quarter is kept only
  // when the decoding before it ends exactly where it began, which is what a
  // walk from the start would have found there.
  constexpr int kStreams = 4;
  size_t first_string[kStreams + 1];
  uint64_t first_bit[kStreams];
  bool split = n >= 2 * kStreams && data_size >= 256 && hints.size() >= 2 * n;
  for (int j = 0; j < kStreams && split; ++j) {
    first_string[j] = n * j / kStreams;
    first_bit[j] = j == 0 ? 0
                          : uint64_t{static_cast<uint16_t>(
                                ReadField(hints, 2 * first_string[j], 2))} *
                                8;
    if (j > 0 &&
        (first_bit[j] <= first_bit[j - 1] || first_bit[j] >= fast_limit)) {
      split = false;
    }
  }
  first_string[kStreams] = n;

  Stream whole;
  if (split) {
    Stream parts[kStreams];
    Stream* pointers[kStreams];
    for (int j = 0; j < kStreams; ++j) {
      const uint64_t end_bit = j + 1 < kStreams ? first_bit[j + 1] : bit_count;
      parts[j] = StartStream(first_bit[j], end_bit,
                             first_string[j + 1] - first_string[j]);
      pointers[j] = &parts[j];
    }
    bool any_done = false;
    while (!any_done) {
      AdvanceTogether<kStreams>(bits, entries, give_up_bits, pointers);
      for (Stream& part : parts) {
        if (!part.done) advance(&part);
        any_done |= part.done;
      }
    }
    // Once one quarter is done the others go on alone.
    for (Stream& part : parts) run_to_end(&part);
    whole = std::move(parts[0]);
    for (int j = 1; j < kStreams; ++j) {
      if (whole.ends.size() != first_string[j]) break;  // ran out, or gave up
      if (whole.pos != first_bit[j]) {
        // The offset did not hold: go on from where the decoding ended.
        whole.wanted = n - first_string[j];
        whole.done = false;
        run_to_end(&whole);
        break;
      }
      const Stream& part = parts[j];
      whole.text.resize(whole.used);
      for (size_t end : part.ends) whole.ends.push_back(whole.used + end);
      whole.text.append(part.text, 0, part.ends.empty() ? 0 : part.ends.back());
      whole.used = whole.text.size();
      whole.pos = part.pos;
      whole.string_start = part.string_start;
      whole.gave_up = part.gave_up;
    }
  } else {
    whole = StartStream(0, bit_count, n);
    run_to_end(&whole);
  }
  // A string that the bytes ended before its terminator is dropped.
  const size_t kept = whole.ends.empty() ? 0 : whole.ends.back();
  StringRun run;
  if (whole.ends.size() < n) {
    run.unfinished_bit = whole.string_start;
    run.gave_up = whole.gave_up;
  }
  if (decoded->ends.empty()) {
    whole.text.resize(kept);
    decoded->text = std::move(whole.text);
    decoded->ends = std::move(whole.ends);
  } else {
    const size_t base = decoded->text.size();
    decoded->text.append(whole.text, 0, kept);
    for (size_t end : whole.ends) decoded->ends.push_back(base + end);
  }
  return run;
}

DecodedBlock DecodeBlockWithTable(std::string_view block, const CodeTree& tree,
                                  const std::vector<TableEntry>& table) {
  DecodedBlock decoded;
  decoded.string_count = BytesToInteger(block.substr(0, 2));
  const size_t n = static_cast<size_t>(decoded.string_count);
  const size_t start = 2 + 2 * n;
  if (tree.NodeCount() == 0 || n == 0 || start >= block.size()) {
    return decoded;
  }
  DecodeStrings(block.substr(start), n, block.substr(2, 2 * n), tree, table,
                UINT64_MAX, &decoded);
  return decoded;
}

}  // namespace vorlex::core
