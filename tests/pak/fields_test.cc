// Little-endian integer fields at their limits.
#include "pak/fields.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "support/command_test.h"

namespace vorlex {
namespace {

using ::vorlex::testing::Hex;
using ::vorlex::testing::Unhex;

constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

TEST(BytesToIntegerTest, LittleEndianValues) {
  EXPECT_EQ(BytesToInteger(Unhex("34 12")), 4660);
  EXPECT_EQ(BytesToInteger(Unhex("78 56 34 12")), 305419896);
  EXPECT_EQ(BytesToInteger(Unhex("FF")), 255);
  EXPECT_EQ(BytesToInteger(Unhex("FF FF")), 65535);
  EXPECT_EQ(BytesToInteger(Unhex("FF FF FF")), 16777215);
  EXPECT_EQ(BytesToInteger(Unhex("00 00 00 01")), 16777216);
  EXPECT_EQ(BytesToInteger(""), 0);
  EXPECT_EQ(BytesToInteger(Unhex("00 00 00 00")), 0);
}

TEST(BytesToIntegerTest, ValuesBeyondTheSignedRangeReadAsTheLowestInteger) {
  EXPECT_EQ(BytesToInteger(Unhex("FF FF FF 7F")), kMax);
  // Not the two's-complement reading: every value from 2^31 up is the same.
  EXPECT_EQ(BytesToInteger(Unhex("00 00 00 80")), kMin);
  EXPECT_EQ(BytesToInteger(Unhex("FF FF FF FF")), kMin);
  EXPECT_EQ(BytesToInteger(Unhex("01 00 00 80")), kMin);
  EXPECT_EQ(BytesToInteger(Unhex("FE FF FF FF")), kMin);
}

TEST(IntegerToBytesTest, EachWidthKeepsItsOwnBytes) {
  EXPECT_EQ(Hex(IntegerToBytes(4660, 2)), "34 12");
  EXPECT_EQ(Hex(IntegerToBytes(4660, 4)), "34 12 00 00");
  EXPECT_EQ(Hex(IntegerToBytes(4660, 1)), "34");
  EXPECT_EQ(Hex(IntegerToBytes(305419896, 3)), "78 56 34");
  // Bits above the width are dropped.
  EXPECT_EQ(Hex(IntegerToBytes(70000, 2)), "70 11");
  EXPECT_EQ(Hex(IntegerToBytes(65537, 2)), "01 00");
  EXPECT_EQ(Hex(IntegerToBytes(256, 1)), "00");
  // Negative values give their two's-complement bytes.
  EXPECT_EQ(Hex(IntegerToBytes(-1, 4)), "FF FF FF FF");
  EXPECT_EQ(Hex(IntegerToBytes(-1, 2)), "FF FF");
  EXPECT_EQ(Hex(IntegerToBytes(-2, 3)), "FE FF FF");
  EXPECT_EQ(Hex(IntegerToBytes(kMin, 4)), "00 00 00 80");
  EXPECT_EQ(Hex(IntegerToBytes(kMax, 4)), "FF FF FF 7F");
}

TEST(IntegerToBytesTest, OtherWidthsGiveNothing) {
  for (int width : {0, 5, 8, -1, -4, std::numeric_limits<int>::min()}) {
    EXPECT_EQ(IntegerToBytes(5, width), "") << width;
    EXPECT_EQ(IntegerToBytes(-1, width), "") << width;
  }
}

TEST(FieldRoundTripTest, EveryTwoByteValue) {
  for (int32_t v = 0; v <= 65535; ++v) {
    const std::string field = IntegerToBytes(v, 2);
    ASSERT_EQ(field.size(), 2u);
    ASSERT_EQ(BytesToInteger(field), v);
  }
}

TEST(FieldRoundTripTest, FourByteValuesUpToTheSignedLimit) {
  // Some 33,000 values spread over the range; the stride is odd, so the low
  // bytes vary as well.
  for (int64_t v = 0; v <= kMax; v += 65521) {
    const int32_t value = static_cast<int32_t>(v);
    ASSERT_EQ(BytesToInteger(IntegerToBytes(value, 4)), value);
  }
  for (int32_t value :
       {0, 1, 255, 256, 65535, 65536, 16777215, 16777216, kMax - 1, kMax}) {
    EXPECT_EQ(BytesToInteger(IntegerToBytes(value, 4)), value) << value;
    EXPECT_EQ(BytesToInteger(IntegerToBytes(value, 3)), value & 0xFFFFFF)
        << value;
  }
}

TEST(AppendIntegerTest, WideValuesKeepTheirLowBytes) {
  std::string out = "x";
  AppendInteger(4294967295, 4, &out);
  AppendInteger(16777216 + 0x123456, 3, &out);
  AppendInteger(7, 0, &out);
  EXPECT_EQ(Hex(out), "78 FF FF FF FF 56 34 12");
}

TEST(ReadFieldTest, FieldsCutShortByTheEndOfTheBytes) {
  const std::string bytes = Unhex("34 12 AB");
  EXPECT_EQ(ReadField(bytes, 0, 2), 4660);
  EXPECT_EQ(ReadField(bytes, 1, 2), 0xAB12);
  EXPECT_EQ(ReadField(bytes, 2, 2), 0xAB);  // one byte left
  EXPECT_EQ(ReadField(bytes, 2, 4), 0xAB);
  EXPECT_EQ(ReadField(bytes, 3, 2), 0);  // none left
  EXPECT_EQ(ReadField(bytes, 1000000, 4), 0);
  EXPECT_EQ(ReadField(bytes, -1, 2), 0);
  EXPECT_EQ(ReadField("", 0, 4), 0);
  EXPECT_EQ(ReadField(Unhex("00 00 00 80 01"), 0, 4), kMin);
}

}  // namespace
}  // namespace vorlex
