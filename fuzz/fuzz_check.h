// What every fuzz target uses to stop on a disagreement: libFuzzer keeps the
// input that made the process abort.
#ifndef VORLEX_FUZZ_FUZZ_CHECK_H_
#define VORLEX_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/pak_maker.h"

// Stops with the message `what` when `holds` is false. A macro so that the
// message is only built on failure: most inputs pass every check.
#define FUZZ_REQUIRE(holds, what)                   \
  do {                                              \
    if (!(holds)) ::vorlex::core::fuzz::Fail(what); \
  } while (false)

namespace vorlex::core::fuzz {

using testing::Hex;

[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace vorlex::core::fuzz

#endif  // VORLEX_FUZZ_FUZZ_CHECK_H_
