#include "pak/fields.h"

#include <algorithm>

#include "pak/pak_format.h"

namespace vorlex::core {

int32_t BytesToInteger(std::string_view field) {
  // The sum is exact in 64 bits for up to 8 bytes; callers pass at most 4.
  // Longer fields only feed the saturation below.
  uint64_t value = 0;
  bool overflow = false;
  for (size_t i = 0; i < field.size(); ++i) {
    const uint64_t byte = static_cast<unsigned char>(field[i]);
    if (i >= 4) {
      overflow = overflow || byte != 0;
      continue;
    }
    value |= byte << (8 * i);
  }
  // A value that does not fit a signed 32-bit integer is stored as its
  // bit pattern 80000000, whatever the value was.
  if (overflow || value > 0x7FFFFFFFu) return INT32_MIN;
  return static_cast<int32_t>(value);
}

std::string IntegerToBytes(int32_t value, int width) {
  std::string out;
  if (width < 1 || width > 4) return out;
  AppendInteger(value, width, &out);
  return out;
}

void AppendInteger(int64_t value, int width, std::string* out) {
  const uint64_t bits = static_cast<uint64_t>(value);
  for (int i = 0; i < width; ++i) {
    out->push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
  }
}

int32_t ReadField(std::string_view bytes, int64_t offset, int width) {
  if (offset < 0 || offset >= static_cast<int64_t>(bytes.size())) return 0;
  const size_t begin = static_cast<size_t>(offset);
  const size_t length =
      std::min(static_cast<size_t>(width), bytes.size() - begin);
  return BytesToInteger(bytes.substr(begin, length));
}

int64_t LimitMax(Limit limit) {
  switch (limit) {
    case Limit::kThreeByteOffset:
      return kMaxThreeByteOffset;
    case Limit::kFourByteOffset:
      return kMaxFourByteOffset;
    default:
      return kMaxFieldValue;
  }
}

bool Fits(Limit limit, int64_t value) {
  return value >= 0 && value <= LimitMax(limit);
}

std::string_view LimitText(Limit limit) {
  switch (limit) {
    case Limit::kBlockCount:
      return "a pakfile holds at most 65535 blocks";
    case Limit::kBlockId:
      return "an ID holds 0 to 65535";
    case Limit::kStringCount:
      return "a block holds at most 65535 strings";
    case Limit::kRelativeOffset:
      return "a relative offset holds at most 65535";
    case Limit::kThreeByteOffset:
      return "a directory entry holds offsets up to 16,777,215";
    case Limit::kFourByteOffset:
      return "an offset holds at most 4,294,967,295";
  }
  return "";
}

}  // namespace vorlex::core
