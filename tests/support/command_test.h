// Runs the built vorlex program in a fresh temporary folder and captures what
// it does: standard output and error byte for byte, the exit status, and the
// files it leaves.
#ifndef VORLEX_TESTS_SUPPORT_COMMAND_TEST_H_
#define VORLEX_TESTS_SUPPORT_COMMAND_TEST_H_

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace vorlex::testing {

struct RunResult {
  int exit_status = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// A new, empty folder under the system's temporary folder, removed with all
// its contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string Path(std::string_view name) const;

 private:
  std::string path_;
};

// Runs `program` with `args` in the folder `cwd`, standard input empty.
RunResult RunProgram(const std::string& program,
                     const std::vector<std::string>& args,
                     const std::string& cwd);

std::string ReadFileOrDie(const std::string& path);
void WriteFileOrDie(const std::string& path, std::string_view bytes);
bool FileExists(const std::string& path);

// The base of the command tests: a fresh folder per test and helpers that
// take file names relative to it.
class CommandTest : public ::testing::Test {
 protected:
  // Runs vorlex with `args` in the test's folder.
  RunResult Vorlex(const std::vector<std::string>& args) const;
  std::string Read(std::string_view name) const;
  void Write(std::string_view name, std::string_view bytes) const;
  bool Exists(std::string_view name) const;
  std::string Path(std::string_view name) const { return dir_.Path(name); }

  TempDir dir_;
};

// Text with CR LF line ends: each line given gets "\r\n" after it.
std::string CrLf(const std::vector<std::string>& lines);

// The bytes written as hexadecimal pairs ("03 00 41"), for readable failures.
std::string Hex(std::string_view bytes);
// The bytes that hexadecimal pairs such as "03 00 41 02" stand for.
std::string Unhex(std::string_view hex);

}  // namespace vorlex::testing

#endif  // VORLEX_TESTS_SUPPORT_COMMAND_TEST_H_
