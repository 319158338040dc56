// vorlex: extracts the strings of a pakfile into a text file and packs an
// edited text file back with the pakfile's own code tree.
#include <string>
#include <vector>

#include "base/console.h"
#include "base/interrupt.h"
#include "driver/startup.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  vorlex::core::EndRunOnInterrupt();
  vorlex::core::Console console = vorlex::core::ProcessConsole();
  vorlex::core::RealFileSystem files;
  const int status = vorlex::core::RunVorlex(args, files, console);
  vorlex::core::FlushProcessConsole();
  return status;
}
