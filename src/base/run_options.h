// What the options of the command line ask of a command, beyond its switch.
// Every field's default gives the classic behaviour.
#ifndef VORLEX_BASE_RUN_OPTIONS_H_
#define VORLEX_BASE_RUN_OPTIONS_H_

#include <string>

namespace vorlex::core {

struct Alphabet;

struct RunOptions {
  bool force = false;     // extraction may empty or append to any txtfile
  bool dry_run = false;   // packing checks everything but writes nothing
  bool quiet = false;     // no progress dots and no success messages
  bool compact = false;   // /P drops the old bytes past the new end
  bool in_place = false;  // write over the file where no temporary one fits
  std::string charset{};  // the code page of the strings' bytes
  std::string table{};    // a character table file over that code page
  bool new_tree = false;  // /P builds a new code tree from the text
  // Made from `charset` and `table` at start-up: the strings are UTF-8 text
  // in the text file. Without one, bytes stay bytes.
  const Alphabet* alphabet = nullptr;
};

}  // namespace vorlex::core

#endif  // VORLEX_BASE_RUN_OPTIONS_H_
