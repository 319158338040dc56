#include "extract/decoder.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "extract/bit_reader.h"
#include "extract/decode_engines.h"
#include "pak/fields.h"
#include "pak/pak_format.h"

namespace vorlex::core {
namespace {

// Below this many bytes of bit data the walk is as quick as the table.
constexpr size_t kTableMinBytes = 64;

// A string longer than this is handed from the table to the byte walk with
// its memo: only damaged pakfiles have such strings many times over.
constexpr uint64_t kGiveUpBits = uint64_t{256} * 8;

constexpr int64_t kNever = INT64_MAX;

constexpr int64_t kUnmapped = -1;

// The state of node number `node`, or kUnmapped for a node inside the table
// numbered above 255 that is not the root (only a hand-made tree has such a
// child field).
int64_t StateOf(int64_t node, int64_t node_count, int64_t root_state) {
  if (node == node_count - 1) return root_state;
  if (node < 0 || node >= node_count) return kBeyondTableState;
  return node < 256 ? node : kUnmapped;
}

// The step from node `from` along `bit`, in terms of states; `next` is
// kUnmapped when the node reached has no state.
WalkStep StepOf(const CodeTree& tree, int64_t from, unsigned bit,
                int64_t root_state) {
  const TreeStep step = StepDown(tree, from, bit);
  WalkStep result;
  if (!step.leaf) {
    result.next =
        static_cast<int32_t>(StateOf(step.node, tree.NodeCount(), root_state));
    return result;
  }
  result.next = static_cast<int32_t>(root_state);
  result.c = static_cast<char>(tree.Node(step.node).char_);
  result.leaf = 1;
  result.ends = result.c == kTerminator;
  return result;
}

// Walks the bit data of `block` from `start`; `next_step(state, bit)` gives
// the step. Appends to `decoded` and drops a string left unfinished.
template <typename NextStep>
void Walk(std::string_view block, size_t start, int64_t root,
          NextStep next_step, DecodedBlock* decoded) {
  const int64_t n = decoded->string_count;
  const BitReader bits(block.substr(start));
  std::string& text = decoded->text;
  // Every character is written, leaf or not, and kept by moving on past it
  // only at a leaf; a byte gives at most eight.
  size_t used = 0;
  int64_t k = 0;
  int64_t state = root;
  for (uint64_t pos = 0; k < n && pos < bits.bit_count; ++pos) {
    if (text.size() < used + 1) text.resize(2 * text.size() + 64);
    const WalkStep step = next_step(state, bits.Bit(pos));
    state = step.next;
    text[used] = step.c;
    used += step.leaf;
    if (step.ends) {
      decoded->ends.push_back(used);
      ++k;
      pos = NextByteBoundary(pos + 1) - 1;  // the rest of the byte is padding
    }
  }
  text.resize(decoded->ends.empty() ? 0 : decoded->ends.back());
}

// The count and the start of the bit data; false when nothing can be
// decoded (no strings, no bit data, or no root).
bool StartDecoding(std::string_view block, const CodeTree& tree,
                   DecodedBlock* decoded, size_t* start) {
  decoded->string_count = BytesToInteger(block.substr(0, 2));
  const size_t n = static_cast<size_t>(decoded->string_count);
  *start = 2 + 2 * n;
  return tree.NodeCount() != 0 && n != 0 && *start < block.size();
}

}  // namespace

Walker MakeWalker(const CodeTree& tree) {
  Walker walker;
  const int64_t node_count = tree.NodeCount();
  const int64_t root = node_count - 1;
  const int64_t root_state = root < 256 ? root : int64_t{kHighRootState};
  walker.root = static_cast<int32_t>(root_state);
  auto fill = [&](int64_t state, int64_t node) {
    for (unsigned bit = 0; bit < 2; ++bit) {
      const WalkStep step = StepOf(tree, node, bit, root_state);
      if (step.next == kUnmapped) return false;
      walker.steps[static_cast<size_t>(state)][bit] = step;
    }
    return true;
  };
  walker.compact = true;
  for (int64_t k = 0; k < std::min<int64_t>(node_count, 256); ++k) {
    walker.compact = walker.compact && fill(k, k);
  }
  if (root_state == kHighRootState) {
    walker.compact = walker.compact && fill(root_state, root);
  }
  walker.compact = walker.compact && fill(kBeyondTableState, node_count);
  return walker;
}

DecodedBlock WalkBlock(std::string_view block, const CodeTree& tree,
                       const Walker& walker) {
  DecodedBlock decoded;
  size_t start = 0;
  if (!StartDecoding(block, tree, &decoded, &start)) return decoded;
  // Most strings are shorter than twice their code, and each takes a byte.
  const size_t bit_bytes = block.size() - start;
  decoded.text.resize(std::min(2 * bit_bytes, size_t{1} << 20));
  decoded.ends.reserve(
      std::min(static_cast<size_t>(decoded.string_count), bit_bytes));
  if (walker.compact) {
    const auto& steps = walker.steps;
    Walk(
        block, start, walker.root,
        [&steps](int64_t state, unsigned bit) {
          return steps[static_cast<size_t>(state)][bit];
        },
        &decoded);
    return decoded;
  }
  // A hand-made tree: step through the node records themselves.
  const int64_t root = tree.NodeCount() - 1;
  Walk(
      block, start, root,
      [&tree, root](int64_t node, unsigned bit) {
        const TreeStep step = StepDown(tree, node, bit);
        WalkStep result;
        result.next = static_cast<int32_t>(step.leaf ? root : step.node);
        if (step.leaf) {
          result.c = static_cast<char>(tree.Node(step.node).char_);
          result.leaf = 1;
          result.ends = result.c == kTerminator;
        }
        return result;
      },
      &decoded);
  return decoded;
}

namespace {

// Fills the steps of the bytes whose first `depth` bits are `prefix`, which
// took the walk to `at` and gave `made`: the bytes that share leading bits
// share their walk, so a row takes 510 bit steps rather than 2048.
void FillRow(const Walker& walker, int32_t at, unsigned prefix, int depth,
             const ByteStep& made, ByteStep* row) {
  if (depth == 8 || made.ended) {
    const int rest = 8 - depth;
    ByteStep& first = row[prefix << rest];
    first = made;
    first.next = static_cast<uint16_t>(at);
    std::fill_n(&first + 1, (1u << rest) - 1, first);
    return;
  }
  for (unsigned bit = 0; bit < 2; ++bit) {
    const WalkStep& step = walker.steps[static_cast<size_t>(at)][bit];
    ByteStep next = made;
    if (step.leaf) next.chars[next.count++] = step.c;
    next.ended = step.ends;
    FillRow(walker, step.next, prefix << 1 | bit, depth + 1, next, row);
  }
}

}  // namespace

std::unique_ptr<ByteMachine::Row> ByteMachine::MakeRow(int32_t state) const {
  auto row = std::make_unique<Row>();
  FillRow(*walker_, state, 0, 0, ByteStep{}, row->data());
  return row;
}

int64_t ByteMachine::ZeroEnd(int32_t state) {
  int64_t& known = zero_end_[static_cast<size_t>(state)];
  if (known != kUnknown) return known;
  // Zeros that have not ended a string within kStateCount bytes have met a
  // state twice, and go round for ever.
  known = -1;
  int32_t at = state;
  for (int64_t bytes = 1; bytes <= int64_t{kStateCount}; ++bytes) {
    const ByteStep& step = Step(at, 0);
    if (step.ended) {
      known = bytes;
      break;
    }
    at = step.next;
  }
  return known;
}

// Where walks of long strings have been: for some walk states at every
// `spacing`-th byte, the end of the string under way there.
struct StringEndMemo::Impl {
  static constexpr int kSlots = 4;  // walk states kept per checkpoint
  struct Slot {
    int32_t state = -1;
    int64_t end = 0;
  };

  int64_t file_size = 0;
  int64_t spacing = 0;
  std::vector<Slot> slots;  // made at the first long string
  std::optional<ByteMachine> machine;

  Slot* Find(int64_t pos, int32_t state) {
    Slot* at = &slots[static_cast<size_t>(pos / spacing) * kSlots];
    for (int i = 0; i < kSlots; ++i) {
      if (at[i].state == state) return &at[i];
    }
    return nullptr;
  }
  void Remember(int64_t pos, int32_t state, int64_t end) {
    Slot* at = &slots[static_cast<size_t>(pos / spacing) * kSlots];
    int i = 0;
    while (i + 1 < kSlots && at[i].state != -1) ++i;
    at[i] = Slot{state, end};
  }
};

StringEndMemo::StringEndMemo(int64_t file_size)
    : impl_(std::make_unique<Impl>()) {
  impl_->file_size = file_size;
  // At most 16384 checkpoints: a few hundred KiB of slots.
  impl_->spacing = std::max<int64_t>(256, file_size / 16384 + 1);
}

StringEndMemo::~StringEndMemo() = default;

namespace {

// Where the string that starts at byte `q` of `file` (the zeros past its end
// included) ends: after its terminator's byte, or kNever. Walks a byte at a
// time, remembering the end at the checkpoints it passes, and stops at one
// that knows it already.
int64_t FindStringEnd(std::string_view file, int64_t q,
                      StringEndMemo::Impl& memo) {
  ByteMachine& machine = *memo.machine;
  const int64_t file_size = static_cast<int64_t>(file.size());
  std::vector<std::pair<int64_t, int32_t>> passed;
  int32_t state = machine.root();
  int64_t end = kNever;
  bool found = false;
  int64_t checkpoint = (q + memo.spacing - 1) / memo.spacing * memo.spacing;
  for (int64_t pos = q; pos < file_size;) {
    if (pos == checkpoint) {
      checkpoint += memo.spacing;
      if (const auto* slot = memo.Find(pos, state)) {
        end = slot->end;
        found = true;
        break;
      }
      passed.emplace_back(pos, state);
    }
    const ByteStep& step = machine.Step(
        state, static_cast<unsigned char>(file[static_cast<size_t>(pos)]));
    ++pos;
    if (step.ended) {
      end = pos;
      found = true;
      break;
    }
    state = step.next;
  }
  if (!found) {
    // The rest of the string lies in the zeros past the end of the file.
    const int64_t zeros = machine.ZeroEnd(state);
    end = zeros < 0 ? kNever : file_size + zeros;
  }
  for (const auto& [at, walk_state] : passed)
    memo.Remember(at, walk_state, end);
  return end;
}

// Appends the characters of the string from byte `q` to byte `end` of
// `file`, zeros past its end.
void AppendString(std::string_view file, int64_t q, int64_t end,
                  ByteMachine& machine, std::string* text) {
  const int64_t file_size = static_cast<int64_t>(file.size());
  int32_t state = machine.root();
  constexpr int64_t kChunk = 4096;  // bytes walked per growth of *text
  for (int64_t pos = q; pos < end;) {
    const int64_t chunk_end = std::min(end, pos + kChunk);
    size_t used = text->size();
    text->resize(used + 8 * static_cast<size_t>(chunk_end - pos));
    char* out = text->data();
    for (; pos < chunk_end; ++pos) {
      const unsigned byte =
          pos < file_size
              ? static_cast<unsigned char>(file[static_cast<size_t>(pos)])
              : 0;
      const ByteStep& step = machine.Step(state, byte);
      std::memcpy(out + used, step.chars, 8);
      used += step.count;
      state = step.next;
    }
    text->resize(used);
  }
}

}  // namespace

BlockDecoder::BlockDecoder(const CodeTree& tree) : tree_(&tree) {
  auto engines = std::make_shared<DecodeEngines>();
  engines->walker = MakeWalker(tree);
  engines_ = std::move(engines);
}

DecodedBlock BlockDecoder::Decode(std::string_view block) const {
  const size_t n = BytesToInteger(block.substr(0, 2)) & 0xFFFF;
  return block.size() < 2 + 2 * n + kTableMinBytes ? DecodeByWalk(block)
                                                   : DecodeByTable(block);
}

const std::vector<TableEntry>& BlockDecoder::Table() const {
  // Made at the first block long enough for it: short blocks never need it.
  std::call_once(engines_->table_made,
                 [this] { engines_->table = MakeDecodeTable(*tree_); });
  return engines_->table;
}

bool BlockDecoder::CanDecodeInFile() const { return engines_->walker.compact; }

DecodedBlock BlockDecoder::DecodeInFile(std::string_view file, int64_t begin,
                                        int64_t extent,
                                        StringEndMemo* memo) const {
  const int64_t file_size = static_cast<int64_t>(file.size());
  auto byte_at = [&](int64_t p) -> int32_t {
    return p >= 0 && p < file_size
               ? static_cast<unsigned char>(file[static_cast<size_t>(p)])
               : 0;
  };
  DecodedBlock decoded;
  if (extent <= 0) return decoded;
  decoded.string_count =
      byte_at(begin) | (extent >= 2 ? byte_at(begin + 1) << 8 : 0);
  const int64_t n = decoded.string_count;
  const int64_t x = begin + extent;
  int64_t p = begin + 2 + 2 * n;
  if (tree_->NodeCount() == 0 || n == 0 || p >= x) return decoded;
  // A short block wholly in the file is walked, as Decode would: its strings
  // are too short to need the memo, and the table is not worth making for it.
  if (begin >= 0 && x <= file_size &&
      x - p < static_cast<int64_t>(kTableMinBytes)) {
    return DecodeByWalk(
        file.substr(static_cast<size_t>(begin), static_cast<size_t>(extent)));
  }
  StringEndMemo::Impl& m = *memo->impl_;
  auto machine = [&]() -> ByteMachine& {
    if (!m.machine) {
      m.machine.emplace(engines_->walker);
      m.slots.resize(static_cast<size_t>(m.file_size / m.spacing + 1) *
                     StringEndMemo::Impl::kSlots);
    }
    return *m.machine;
  };
  std::string_view hints;
  if (p <= file_size)
    hints = file.substr(static_cast<size_t>(begin) + 2, 2 * n);
  auto wanted = [&] { return static_cast<size_t>(n) - decoded.ends.size(); };
  while (wanted() > 0 && p < x) {
    if (p >= file_size) {
      // From the root in the zeros every string is the same.
      ByteMachine& bytes = machine();
      const int64_t per_string = bytes.ZeroEnd(bytes.root());
      if (per_string < 0) break;
      std::string zero_string;
      AppendString({}, 0, per_string, bytes, &zero_string);
      const int64_t count = std::min<int64_t>(static_cast<int64_t>(wanted()),
                                              (x - p) / per_string);
      for (int64_t i = 0; i < count; ++i) {
        decoded.text += zero_string;
        decoded.ends.push_back(decoded.text.size());
      }
      break;
    }
    const int64_t real_end = std::min(x, file_size);
    const StringRun run = DecodeStrings(
        file.substr(static_cast<size_t>(p), static_cast<size_t>(real_end - p)),
        wanted(), hints, *tree_, Table(), kGiveUpBits, &decoded);
    hints = {};
    if (run.unfinished_bit == StringRun::kNone) break;
    if (!run.gave_up && real_end == x) break;  // cut short by the extent
    const int64_t q = p + static_cast<int64_t>(run.unfinished_bit / 8);
    const int64_t end = FindStringEnd(file, q, (machine(), m));
    if (end > x) break;
    AppendString(file, q, end, *m.machine, &decoded.text);
    decoded.ends.push_back(decoded.text.size());
    p = end;
  }
  return decoded;
}

DecodedBlock BlockDecoder::DecodeByWalk(std::string_view block) const {
  return WalkBlock(block, *tree_, engines_->walker);
}

DecodedBlock BlockDecoder::DecodeByTable(std::string_view block) const {
  return DecodeBlockWithTable(block, *tree_, Table());
}

}  // namespace vorlex::core
