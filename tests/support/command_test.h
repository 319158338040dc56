// Runs the built vorlex program in a fresh temporary folder and captures its
// standard output and error byte for byte, its exit status and its files.
#ifndef VORLEX_TESTS_SUPPORT_COMMAND_TEST_H_
#define VORLEX_TESTS_SUPPORT_COMMAND_TEST_H_

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/pak_maker.h"

namespace vorlex::core::testing {

struct RunResult {
  int exit_status = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// A new, empty folder in the system's temporary folder, removed when it goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string Path(std::string_view name) const {
    return path_ + "/" + std::string(name);
  }

 private:
  std::string path_;
};

std::string ReadFileOrDie(const std::string& path);
void WriteFileOrDie(const std::string& path, std::string_view bytes);
bool FileExists(const std::string& path);  // a dangling link exists too

// A fresh folder per test, and helpers that take names relative to it.
class CommandTest : public ::testing::Test {
 protected:
  // Runs vorlex with `args` in the test's folder, standard input empty.
  RunResult Vorlex(const std::vector<std::string>& args) const;
  // Starts it so, standard output and error going to `out` and `err` (-1:
  // thrown away), the signals as from a terminal; the caller waits for it.
  pid_t StartVorlex(const std::vector<std::string>& args, int out = -1,
                    int err = -1) const;
  std::string Path(std::string_view name) const { return dir_.Path(name); }
  std::string Read(std::string_view name) const {
    return ReadFileOrDie(Path(name));
  }
  void Write(std::string_view name, std::string_view bytes) const {
    WriteFileOrDie(Path(name), bytes);
  }
  bool Exists(std::string_view name) const { return FileExists(Path(name)); }
  // How many names the test's folder, or one in it, holds.
  int Files(std::string_view folder = "") const;

  TempDir dir_;
};

// Text with CR LF line ends: each line given gets "\r\n" after it.
std::string CrLf(const std::vector<std::string>& lines);

}  // namespace vorlex::core::testing

#endif  // VORLEX_TESTS_SUPPORT_COMMAND_TEST_H_
