#include "pak/fields.h"

#include <algorithm>

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

}  // namespace vorlex::core
