// The exit statuses of a run.
#ifndef VORLEX_BASE_EXIT_STATUS_H_
#define VORLEX_BASE_EXIT_STATUS_H_

namespace vorlex::core {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // an error was reported
inline constexpr int kExitUsage = 2;    // the command line was not understood

}  // namespace vorlex::core

#endif  // VORLEX_BASE_EXIT_STATUS_H_
