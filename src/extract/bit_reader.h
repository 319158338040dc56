// Reading the bit data of a block: most significant bit of each byte first.
#ifndef VORLEX_EXTRACT_BIT_READER_H_
#define VORLEX_EXTRACT_BIT_READER_H_

#include <cstdint>
#include <cstring>
#include <string_view>

namespace vorlex::core {

struct BitReader {
  const unsigned char* data = nullptr;
  uint64_t bit_count = 0;

  explicit BitReader(std::string_view bytes)
      : data(reinterpret_cast<const unsigned char*>(bytes.data())),
        bit_count(uint64_t{bytes.size()} * 8) {}

  // The bit at `pos`, which must be below bit_count.
  unsigned Bit(uint64_t pos) const {
    return (data[pos >> 3] >> (7 - (pos & 7))) & 1;
  }

  // At least the 57 bits from `pos`, at the top of the word. Needs 8
  // readable bytes from the byte that holds `pos`.
  uint64_t Window(uint64_t pos) const {
    uint64_t value;
    std::memcpy(&value, data + (pos >> 3), sizeof value);
    return __builtin_bswap64(value) << (pos & 7);
  }

  // The first bit past windows: from here on fewer than 8 bytes remain.
  uint64_t WindowLimit() const { return bit_count >= 64 ? bit_count - 64 : 0; }
};

// A string ends with its byte: the next one starts at the next byte boundary.
inline uint64_t NextByteBoundary(uint64_t pos) {
  return (pos + 7) & ~uint64_t{7};
}

}  // namespace vorlex::core

#endif  // VORLEX_EXTRACT_BIT_READER_H_
