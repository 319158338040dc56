// Where a run's messages go. Standard output carries exactly the tool's
// messages, every line ending in CR LF; standard error carries diagnostics
// for people (file names, block numbers, line numbers, byte values).
#ifndef VORLEX_BASE_CONSOLE_H_
#define VORLEX_BASE_CONSOLE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vorlex::core {

inline constexpr std::string_view kLineEnd = "\r\n";

struct Console {
  std::function<void(std::string_view)> out;
  std::function<void(std::string_view)> err;
  // Set by PrintError: the run printed a message with "Error" in it.
  bool error_reported = false;
  // Set with a diagnostic that makes the run fail without a message on
  // standard output (a damaged block).
  bool failure = false;
  // Drops progress and success output (Print, PrintLine, Note); errors and
  // warnings still show, and the exit status tells the outcome.
  bool quiet = false;

  // Progress and success messages on standard output.
  void Print(std::string_view text) {
    if (!quiet) out(text);
  }
  void PrintLine(std::string_view text);
  // An error message on standard output; the run will exit with status 1.
  void PrintError(std::string_view line);
  // A diagnostic line on standard error ("vorlex: " is put in front).
  void Diagnose(std::string_view line);
  // A note on standard error about a run that went well (a summary).
  void Note(std::string_view line) {
    if (!quiet) Diagnose(line);
  }
};

// The process's own console: buffered standard output, and standard error
// written after standard output has been flushed, so the two keep their order.
Console ProcessConsole();
void FlushProcessConsole();

// A console that collects both streams in strings, for tests.
Console StringConsole(std::string* out, std::string* err);

// An integer as the console prints it: a blank before a number that is not
// negative, a minus sign before a negative one.
std::string ConsoleInteger(int64_t value);

}  // namespace vorlex::core

#endif  // VORLEX_BASE_CONSOLE_H_
