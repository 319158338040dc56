// How the core says "failed, and why", everywhere below the public library:
//
//   bool DoSomething(..., std::string* why);
//   std::optional<T> MakeSomething(..., std::string* why);
//
// A function that can fail returns false (or no value) and puts one phrase
// for people into its last parameter, `why`, which is never null; on success
// *why is left alone. The phrase names what failed and the reason, in the
// function's own terms and without a trailing period; callers put their
// context in front ("block 3: " + why). What the user sees on standard
// output is decided by the commands alone, never by the functions below
// them. Functions that cannot fail (loading a pakfile, decoding a block)
// return plain values and report damage in them.
#ifndef VORLEX_BASE_FAILURE_H_
#define VORLEX_BASE_FAILURE_H_

#include <string>
#include <utility>

namespace vorlex::core {

// Sets *why and returns false: `return Fail(why, "...");`.
inline bool Fail(std::string* why, std::string reason) {
  *why = std::move(reason);
  return false;
}

}  // namespace vorlex::core

#endif  // VORLEX_BASE_FAILURE_H_
