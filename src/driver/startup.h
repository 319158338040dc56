// Start-up and dispatch: one run of the tool, from its arguments to its exit
// status.
#ifndef VORLEX_DRIVER_STARTUP_H_
#define VORLEX_DRIVER_STARTUP_H_

#include <string>
#include <vector>

#include "base/console.h"
#include "base/exit_status.h"
#include "base/file_io.h"

namespace vorlex::core {

// Runs the command that `args` (the arguments after the program name) ask
// for, with its files reached through `files`, and returns the exit status.
int RunVorlex(const std::vector<std::string>& args, FileSystem& files,
              Console& console);

}  // namespace vorlex::core

#endif  // VORLEX_DRIVER_STARTUP_H_
