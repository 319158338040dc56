// Little-endian integer fields of the pakfile.
#ifndef VORLEX_PAK_FIELDS_H_
#define VORLEX_PAK_FIELDS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vorlex::core {

// The little-endian value of `field` (any length; a field cut short by the end
// of the file reads as the bytes present, the empty field as 0). A value of
// 2^31 or more does not fit the result and reads as -2,147,483,648.
int32_t BytesToInteger(std::string_view field);

// The low `width` bytes of `value`'s two's-complement form, least significant
// first, for a width of 1 to 4; the empty string for any other width.
std::string IntegerToBytes(int32_t value, int width);

// Appends the low `width` bytes of `value` to `out`, as IntegerToBytes gives.
void AppendInteger(int64_t value, int width, std::string* out);

// Reads a field of `width` bytes at `offset` of `bytes`, with the bytes past
// the end of `bytes` missing (not zero): as BytesToInteger of what is there.
int32_t ReadField(std::string_view bytes, int64_t offset, int width);

// The limits of the pakfile's fields that a new value must fit before it is
// written. Each has one check (Fits) and one text saying what the field
// holds, which every refusal of that limit uses.
enum class Limit {
  kBlockCount,       // the two-byte block count
  kBlockId,          // the two-byte ID of a directory entry
  kStringCount,      // the two-byte string count of a block
  kRelativeOffset,   // a two-byte relative offset into a block's bit data
  kThreeByteOffset,  // an Offset as the pak and replace commands write it
  kFourByteOffset,   // an Offset as the add step writes it
};

// The largest value the field holds; the smallest is 0.
int64_t LimitMax(Limit limit);
// Whether `value` lies in 0 to LimitMax(limit).
bool Fits(Limit limit, int64_t value);
// What the field holds, as a refusal puts it after the value that did not
// fit: "a block holds at most 65535 strings".
std::string_view LimitText(Limit limit);

}  // namespace vorlex::core

#endif  // VORLEX_PAK_FIELDS_H_
