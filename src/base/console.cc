#include "base/console.h"

#include <cstdio>

namespace vorlex::core {

void Console::PrintLine(std::string_view text) {
  if (quiet) return;
  out(text);
  out(kLineEnd);
}

void Console::PrintError(std::string_view line) {
  error_reported = true;
  out(line);
  out(kLineEnd);
}

void Console::Diagnose(std::string_view line) {
  std::string text = "vorlex: ";
  text.append(line);
  text.push_back('\n');
  err(text);
}

Console ProcessConsole() {
  Console console;
  console.out = [](std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
  };
  console.err = [](std::string_view text) {
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
  };
  return console;
}

void FlushProcessConsole() {
  std::fflush(stdout);
  std::fflush(stderr);
}

Console StringConsole(std::string* out, std::string* err) {
  Console console;
  console.out = [out](std::string_view text) { out->append(text); };
  console.err = [err](std::string_view text) { err->append(text); };
  return console;
}

std::string ConsoleInteger(int64_t value) {
  std::string text = value < 0 ? "" : " ";
  text += std::to_string(value);
  return text;
}

}  // namespace vorlex::core
