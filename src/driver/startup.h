// Start-up and dispatch: one run of the tool, from its arguments to its exit
// status.
#ifndef VORLEX_DRIVER_STARTUP_H_
#define VORLEX_DRIVER_STARTUP_H_

#include <string>
#include <vector>

#include "pak/console.h"

namespace vorlex {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // an error was reported
inline constexpr int kExitUsage = 2;    // the command line was not understood

// Runs the command that `args` (the arguments after the program name) ask
// for and returns the exit status.
int RunVorlex(const std::vector<std::string>& args, Console& console);

}  // namespace vorlex

#endif  // VORLEX_DRIVER_STARTUP_H_
