// What every fuzz target uses to stop on a disagreement: libFuzzer keeps the
// input that made the process abort.
#ifndef VORLEX_FUZZ_FUZZ_CHECK_H_
#define VORLEX_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "extract/decoder.h"

namespace vorlex::core::fuzz {

// Up to `limit` bytes of `bytes` in hexadecimal, for a failure message.
inline std::string Hex(std::string_view bytes, size_t limit = 64) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    const unsigned char byte = static_cast<unsigned char>(bytes[i]);
    if (i > 0) text.push_back(' ');
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 15]);
  }
  if (bytes.size() > limit) text += " ...";
  return text;
}

[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace vorlex::core::fuzz

// Stops with the message `what` when `holds` is false. A macro so that the
// message is only built on failure: most inputs pass every check.
#define FUZZ_REQUIRE(holds, what)                   \
  do {                                              \
    if (!(holds)) ::vorlex::core::fuzz::Fail(what); \
  } while (false)

namespace vorlex::core::fuzz {

inline bool SameDecoding(const DecodedBlock& a, const DecodedBlock& b) {
  return a.string_count == b.string_count && a.text == b.text &&
         a.ends == b.ends;
}

inline std::string Describe(const DecodedBlock& decoded) {
  return "count " + std::to_string(decoded.string_count) + ", " +
         std::to_string(decoded.StringsDecoded()) +
         " strings: " + Hex(decoded.text);
}

}  // namespace vorlex::core::fuzz

#endif  // VORLEX_FUZZ_FUZZ_CHECK_H_
