// vorlex: extracts the strings of a pakfile into a text file and packs an
// edited text file back with the pakfile's own code tree.
#include <string>
#include <vector>

#include "driver/startup.h"
#include "pak/console.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  vorlex::Console console = vorlex::ProcessConsole();
  const int status = vorlex::RunVorlex(args, console);
  vorlex::FlushProcessConsole();
  return status;
}
