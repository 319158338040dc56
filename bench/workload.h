// The benchmarks' shared data: a pakfile of about 4,000,000 bytes in 2047
// blocks of sentence-like strings over about 90 characters, made once.
#ifndef VORLEX_BENCH_WORKLOAD_H_
#define VORLEX_BENCH_WORKLOAD_H_

#include <string>
#include <vector>

#include "pak/pak.h"
#include "support/pak_maker.h"

namespace vorlex::core::bench {

inline constexpr char kAlphabet[] =
    "etaoinshrdlucmfwypvbgkjqxz ETAOINSHRDLUCMFWYPVBGKJQXZ0123456789"
    ".,;:!?'\"-()[]/&%$#@*+=<>_~\n";

struct Workload {
  std::vector<testing::TestBlock> source;  // the strings
  LoadedPak pak;                           // the pakfile made of them
  std::vector<std::string> blocks;         // each block's bytes
  std::string text;                        // the text file /E writes
};

const Workload& SharedWorkload();

}  // namespace vorlex::core::bench

#endif  // VORLEX_BENCH_WORKLOAD_H_
