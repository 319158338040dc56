// Numbers as the command line and the text file write them.
#ifndef VORLEX_BASE_NUMBERS_H_
#define VORLEX_BASE_NUMBERS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vorlex::core {

// The numeric value of a text: leading blanks, then a "&H", "&O" or "&B"
// radix prefix with its digits, or else further white space and the longest
// leading decimal number (sign, digits, fraction, exponent). Anything that is
// not a number reads as 0.
double NumericValue(std::string_view text);

// To the nearest integer, halves to the even neighbour; values beyond the
// signed 32-bit range saturate to its bounds.
int32_t RoundToInteger(double value);

// Upper-cases the letters a to z only.
std::string UpperAscii(std::string_view text);

}  // namespace vorlex::core

#endif  // VORLEX_BASE_NUMBERS_H_
