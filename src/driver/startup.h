// Start-up and dispatch: one run of the tool, from its arguments to its exit
// status.
#ifndef VORLEX_DRIVER_STARTUP_H_
#define VORLEX_DRIVER_STARTUP_H_

#include <string>
#include <vector>

#include "base/console.h"
#include "base/exit_status.h"

namespace vorlex::core {

// Runs the command that `args` (the arguments after the program name) ask
// for and returns the exit status.
int RunVorlex(const std::vector<std::string>& args, Console& console);

}  // namespace vorlex::core

#endif  // VORLEX_DRIVER_STARTUP_H_
