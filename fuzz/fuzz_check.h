// What every fuzz target uses to stop on a disagreement: libFuzzer keeps the
// input that made the process abort.
#ifndef VORLEX_FUZZ_FUZZ_CHECK_H_
#define VORLEX_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "extract/decoder.h"
#include "support/pak_maker.h"

namespace vorlex::core::fuzz {

using testing::Hex;

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
