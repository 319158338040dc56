#include "base/numbers.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace vorlex::core {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

int DigitValue(char c, int radix) {
  int value = radix;  // not a digit
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < radix ? value : -1;
}

double RadixValue(std::string_view digits, int radix) {
  double value = 0;
  for (char c : digits) {
    const int digit = DigitValue(c, radix);
    if (digit < 0) break;
    value = value * radix + digit;
  }
  return value;
}

// The length of the longest decimal number at the start of `text`, or 0.
size_t DecimalLength(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    const size_t exponent_start = j;
    while (j < text.size() && IsDigit(text[j])) ++j;
    if (j > exponent_start) i = j;
  }
  return i;
}

}  // namespace

double NumericValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  text.remove_prefix(i);
  if (text.size() >= 2 && text[0] == '&') {
    switch (text[1]) {
      case 'H':
      case 'h':
        return RadixValue(text.substr(2), 16);
      case 'O':
      case 'o':
        return RadixValue(text.substr(2), 8);
      case 'B':
      case 'b':
        return RadixValue(text.substr(2), 2);
      default:
        return 0;
    }
  }
  i = 0;
  while (i < text.size() && IsWhiteSpace(text[i])) ++i;
  text.remove_prefix(i);
  const size_t length = DecimalLength(text);
  if (length == 0) return 0;
  // Whole numbers of up to 15 digits (every key and count of a text file)
  // are exact in a double and need no general parser.
  const bool negative = text[0] == '-';
  const size_t first_digit = text[0] == '-' || text[0] == '+' ? 1 : 0;
  if (length - first_digit <= 15) {
    double value = 0;
    size_t i = first_digit;
    while (i < length && IsDigit(text[i]))
      value = value * 10 + (text[i++] - '0');
    if (i == length) return negative ? -value : value;
  }
  // The text is a plain decimal number now, which strtod reads exactly; it
  // never sees the hexadecimal, infinity or nan forms it would also accept.
  const std::string number(text.substr(0, length));
  return std::strtod(number.c_str(), nullptr);
}

int32_t RoundToInteger(double value) {
  if (std::isnan(value)) return 0;
  const double rounded = std::nearbyint(value);
  if (rounded >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (rounded <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(rounded);
}

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

}  // namespace vorlex::core
