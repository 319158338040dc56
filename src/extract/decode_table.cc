#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "extract/bit_reader.h"
#include "extract/decode_engines.h"
#include "pak/fields.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

// One pass of the decoder over the bit data, from a string's first bit.
struct Stream {
  uint64_t pos = 0;           // the next bit
  size_t wanted = 0;          // strings still to decode
  uint64_t string_start = 0;  // the first bit of the string under way
  bool done = false;     // wanted strings decoded, the bits ran out, or gave up
  bool gave_up = false;  // stopped in a string longer than allowed
  // Its characters, with room to spare; left uninitialised, as every
  // character is written before it is read.
  std::unique_ptr<char[]> text;
  size_t text_room = 0;
  size_t used = 0;  // characters written to `text`
  // Where each of its strings ends in `text`. Made as long as the strings
  // the stream can end at most, so that ending one needs no check.
  std::unique_ptr<size_t[]> ends;
  size_t ended = 0;
};

enum class WindowResult { kGoOn, kEnded, kSlow };

// A lookup writes 8 characters at once.
constexpr size_t kWindowSlack = kLookupsPerWindow * 8;

void Reserve(Stream* s) {
  if (s->used + kWindowSlack <= s->text_room) return;
  const size_t room = 2 * s->text_room + kWindowSlack;
  auto grown = std::make_unique_for_overwrite<char[]>(room);
  std::memcpy(grown.get(), s->text.get(), s->used);
  s->text = std::move(grown);
  s->text_room = room;
}

// The last bytes of the bit data before zeros, so that windows can be read
// up to its very end; there a lookup is used only when its codes end before
// the bits do.
struct PaddedTail {
  static constexpr size_t kBytes = 16;
  unsigned char bytes[kBytes + 8] = {};
  uint64_t first_bit = 0;  // where bytes[0] stands in the bit data

  explicit PaddedTail(std::string_view bit_data) {
    const size_t first = bit_data.size() - std::min(bit_data.size(), kBytes);
    if (first < bit_data.size()) {
      std::memcpy(bytes, bit_data.data() + first, bit_data.size() - first);
    }
    first_bit = uint64_t{first} * 8;
  }
  // At least the 57 bits from `pos`, which lies in the last kBytes bytes.
  uint64_t Window(uint64_t pos) const {
    return BitReader(std::string_view(reinterpret_cast<const char*>(bytes),
                                      sizeof bytes))
        .Window(pos - first_bit);
  }
};

// Makes up to kLookupsPerWindow lookups in `window`, the bits from s->pos,
// stopping after a terminator or before a code longer than the table or one
// that runs past `bit_count`.
inline WindowResult DecodeWindow(uint64_t window, uint64_t bit_count,
                                 const TableEntry* entries, Stream* s) {
  char* out = s->text.get() + s->used;
  uint64_t pos = s->pos;
  WindowResult result = WindowResult::kGoOn;
  for (int i = 0; i < kLookupsPerWindow; ++i) {
    const TableEntry e = entries[window >> (64 - kTableBits)];
    if (e.bits() == 0 || pos + e.bits() > bit_count) {
      result = WindowResult::kSlow;
      break;
    }
    e.Store(out);
    out += e.count();
    pos += e.bits();
    window <<= e.bits();
    if (e.terminated()) {
      result = WindowResult::kEnded;
      break;
    }
  }
  s->pos = pos;
  s->used = static_cast<size_t>(out - s->text.get());
  return result;
}

// Closes the string a terminator just ended; the rest of its byte is
// padding.
inline void EndString(Stream* s) {
  s->ends[s->ended++] = s->used;
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
// and for a code that the block's last byte cuts.
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
                    const PaddedTail& tail, const TableEntry* entries,
                    uint64_t give_up_bits, Stream* s) {
  if (s->pos >= bits.bit_count) {
    s->done = true;
    return;
  }
  Reserve(s);
  const uint64_t window =
      s->pos < bits.WindowLimit() ? bits.Window(s->pos) : tail.Window(s->pos);
  switch (DecodeWindow(window, bits.bit_count, entries, s)) {
    case WindowResult::kGoOn:
      return;
    case WindowResult::kEnded:
      EndString(s);
      return;
    case WindowResult::kSlow:
      break;
  }
  WalkOneCode(tree, bits, give_up_bits, s);
}

// A stream from bit `pos` (a byte boundary) of `bits`, meant to stop near
// `end_bit`. Its text grows as it is written; it starts at what the bits
// usually give, and never at more than a few hundred KiB, whatever the
// extent. Every string takes at least a byte, which bounds its ends.
Stream StartStream(uint64_t pos, uint64_t end_bit, const BitReader& bits,
                   size_t wanted) {
  Stream s;
  s.pos = pos;
  s.string_start = pos;
  s.wanted = wanted;
  s.done = wanted == 0;
  const uint64_t bytes = (end_bit - pos) / 8;
  s.text_room = static_cast<size_t>(std::min<uint64_t>(
                    {2 * bytes, 256 * uint64_t{wanted} + 256, 1 << 20})) +
                kWindowSlack;
  s.text = std::make_unique_for_overwrite<char[]>(s.text_room);
  s.ends = std::make_unique_for_overwrite<size_t[]>(static_cast<size_t>(
      std::min<uint64_t>(wanted, (bits.bit_count - pos) / 8 + 1)));
  return s;
}

// Windows decoded between two looks at how long the strings under way are.
constexpr size_t kRoundsPerLook = 64;

// Runs kStreams streams side by side while all of them can take whole
// windows. Positions, windows and output pointers stay in locals, so the
// chains of lookups overlap in the processor. A lookup takes no branch but
// at a terminator, which is dealt with in place (the end noted, the padding
// skipped, the window read afresh); the loop stops for a code longer than
// the table (found once a round), the end of the fast range, a stream's
// last string or a full buffer.
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
      rounds = std::min(rounds, (s->text_room - s->used) / kWindowSlack);
    }
    uint64_t pos[kStreams];
    char* out[kStreams];
    for (int j = 0; j < kStreams; ++j) {
      pos[j] = streams[j]->pos;
      out[j] = streams[j]->text.get() + streams[j]->used;
    }
    for (size_t r = 0; r < rounds; ++r) {
      uint64_t window[kStreams];
      uint64_t round_start[kStreams];
      for (int j = 0; j < kStreams; ++j) {
        if (pos[j] >= fast_limit) goto stop;
        round_start[j] = pos[j];
        window[j] = bits.Window(pos[j]);
      }
      for (int i = 0; i < kLookupsPerWindow; ++i) {
        for (int j = 0; j < kStreams; ++j) {
          // An entry for a code longer than the table is all zeros: it
          // writes nothing kept and leaves the stream where it is.
          const TableEntry e = entries[window[j] >> (64 - kTableBits)];
          e.Store(out[j]);
          out[j] += e.count();
          const unsigned used_bits = e.bits();
          pos[j] += used_bits;
          window[j] <<= used_bits;
          if (e.terminated()) [[unlikely]] {
            Stream* s = streams[j];
            s->ends[s->ended++] = static_cast<size_t>(out[j] - s->text.get());
            pos[j] = NextByteBoundary(pos[j]);
            s->string_start = pos[j];
            if (--s->wanted == 0) s->done = true;
            if (s->done || pos[j] >= fast_limit) goto stop;
            // A fresh window holds the lookups left in this one.
            window[j] = bits.Window(pos[j]);
          }
        }
      }
      // A stream that stood still all round met a long code.
      for (int j = 0; j < kStreams; ++j) {
        if (pos[j] == round_start[j]) goto stop;
      }
    }
  stop:
    for (int j = 0; j < kStreams; ++j) {
      Stream* s = streams[j];
      s->pos = pos[j];
      s->used = static_cast<size_t>(out[j] - s->text.get());
    }
    // A long code is walked by the single-stream step.
    bool slow = false;
    for (int j = 0; j < kStreams; ++j) {
      Stream* s = streams[j];
      if (s->done || s->pos >= fast_limit) return;
      const uint64_t window = bits.Window(s->pos);
      if (entries[window >> (64 - kTableBits)].bits() == 0) slow = true;
    }
    if (slow) return;
  }
}

// Fills the entries whose first `depth` bits are `prefix`, the walk of those
// bits having reached `node` and given `entry`. Each prefix is walked once,
// so the whole table takes 2^(kTableBits+1) steps.
// One bit's step from a node: the node reached, or the root after a leaf,
// whose character is then `ch`.
struct NodeStep {
  int64_t next = 0;
  int32_t ch = -1;
};
// Indexed by node, every node beyond the table at index N: they all read as
// the same all-zero record.
using NodeSteps = std::vector<std::array<NodeStep, 2>>;

void FillEntries(const NodeSteps& steps, uint32_t prefix, int depth,
                 int64_t node, const TableEntry& entry, TableEntry* entries) {
  if (depth == kTableBits || entry.terminated() ||
      entry.count() == TableEntry::kMaxChars) {
    const int rest = kTableBits - depth;
    std::fill_n(entries + (size_t{prefix} << rest), size_t{1} << rest, entry);
    return;
  }
  for (unsigned bit = 0; bit < 2; ++bit) {
    const NodeStep& step = steps[static_cast<size_t>(node)][bit];
    TableEntry next = entry;
    if (step.ch >= 0) {
      const auto ch = static_cast<unsigned char>(step.ch);
      const size_t count = entry.count();
      next.word = (entry.word & ((uint64_t{1} << (8 * count)) - 1)) |
                  uint64_t{ch} << (8 * count) | uint64_t{count + 1} << 56 |
                  uint64_t(depth + 1) << 59 |
                  uint64_t{ch == static_cast<unsigned char>(kTerminator)} << 63;
    }
    FillEntries(steps, prefix << 1 | bit, depth + 1, step.next, next, entries);
  }
}

}  // namespace

std::vector<TableEntry> MakeDecodeTable(const CodeTree& tree) {
  std::vector<TableEntry> table(size_t{1} << kTableBits, TableEntry{});
  const int64_t n = tree.NodeCount();
  if (n == 0) return table;
  // The table takes thousands of steps; each node's two are worked out once.
  NodeSteps steps(static_cast<size_t>(n) + 1);
  for (int64_t k = 0; k <= n; ++k) {
    for (unsigned bit = 0; bit < 2; ++bit) {
      const TreeStep step = StepDown(tree, k, bit);
      steps[static_cast<size_t>(k)][bit] =
          step.leaf
              ? NodeStep{n - 1,
                         static_cast<unsigned char>(tree.Node(step.node).char_)}
          : step.node >= 0 && step.node < n ? NodeStep{step.node}
                                            : NodeStep{n};
    }
  }
  FillEntries(steps, 0, 0, n - 1, TableEntry{}, table.data());
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
  const PaddedTail tail(bit_data);
  auto advance = [&](Stream* s) {
    Advance(tree, bits, tail, entries, give_up_bits, s);
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
  // The relative offset of string k, in bits: two bytes, low byte first.
  auto hint_bit = [&](size_t k) {
    const auto* at = reinterpret_cast<const unsigned char*>(hints.data());
    return (uint64_t{at[2 * k]} | uint64_t{at[2 * k + 1]} << 8) * 8;
  };

  // The relative offsets, when they look sound, let four streams decode the
  // quarters of the bit data side by side: their chains of lookups overlap
  // in the processor. Quarter j starts at the first string whose offset
  // reaches j/4 of the data (a binary search, as sound offsets rise), so the
  // streams take about as long. A quarter is kept only when the decoding
  // before it ends exactly where it began, which is what a walk from the
  // start would have found there.
  constexpr int kStreams = 4;
  size_t first_string[kStreams + 1];
  uint64_t first_bit[kStreams];
  bool split = n >= 2 * kStreams && data_size >= 256 && hints.size() >= 2 * n;
  first_string[0] = 0;
  first_bit[0] = 0;
  for (int j = 1; j < kStreams && split; ++j) {
    const uint64_t goal = bit_count * j / kStreams;
    size_t low = first_string[j - 1] + 1, high = n;
    while (low < high) {
      const size_t mid = low + (high - low) / 2;
      if (hint_bit(mid) < goal) {
        low = mid + 1;
      } else {
        high = mid;
      }
    }
    first_string[j] = low;
    if (low >= n) {
      split = false;
      break;
    }
    first_bit[j] = hint_bit(low);
    split = first_bit[j] > first_bit[j - 1] && first_bit[j] < fast_limit;
  }
  first_string[kStreams] = n;

  Stream parts[kStreams];
  int part_count = 1;
  if (split) {
    Stream* pointers[kStreams];
    for (int j = 0; j < kStreams; ++j) {
      const uint64_t end_bit = j + 1 < kStreams ? first_bit[j + 1] : bit_count;
      parts[j] = StartStream(first_bit[j], end_bit, bits,
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
    // Quarters join while each starts where the one before it ended.
    while (part_count < kStreams) {
      const Stream& last = parts[part_count - 1];
      if (last.wanted != 0 || last.pos != first_bit[part_count]) break;
      ++part_count;
    }
    const Stream& last = parts[part_count - 1];
    if (part_count < kStreams && last.wanted == 0) {
      // The offset did not hold: a stream goes on from where the decoding
      // ended, for every string after it.
      parts[part_count] =
          StartStream(last.pos, bit_count, bits, n - first_string[part_count]);
      run_to_end(&parts[part_count++]);
    }
  } else {
    parts[0] = StartStream(0, bit_count, bits, n);
    run_to_end(&parts[0]);
  }

  // The strings of the parts kept, back to back; a string that the bytes
  // ended before its terminator is dropped.
  const Stream& last = parts[part_count - 1];
  StringRun run;
  if (last.wanted != 0) {
    run.unfinished_bit = last.string_start;
    run.gave_up = last.gave_up;
  }
  size_t kept = 0;
  for (int j = 0; j < part_count; ++j) {
    kept += parts[j].ended == 0 ? 0 : parts[j].ends[parts[j].ended - 1];
  }
  decoded->text.reserve(decoded->text.size() + kept);
  decoded->ends.reserve(decoded->ends.size() + n - last.wanted);
  for (int j = 0; j < part_count; ++j) {
    const Stream& part = parts[j];
    const size_t at = decoded->text.size();
    for (size_t k = 0; k < part.ended; ++k) {
      decoded->ends.push_back(at + part.ends[k]);
    }
    if (part.ended != 0) {
      decoded->text.append(part.text.get(), part.ends[part.ended - 1]);
    }
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
