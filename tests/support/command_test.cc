#include "support/command_test.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace vorlex::core::testing {
namespace fs = std::filesystem;

TempDir::TempDir() : path_(fs::temp_directory_path() / "vorlex-test-XXXXXX") {
  if (::mkdtemp(path_.data()) == nullptr) ADD_FAILURE() << "no temp folder";
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Read-only files and folders made by a test must not stop the clean-up.
  for (const auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
    fs::permissions(entry.path(), fs::perms::owner_all,
                    fs::perm_options::add | fs::perm_options::nofollow,
                    ignored);
  }
  fs::remove_all(path_, ignored);
}

std::string ReadFileOrDie(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << path;
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFileOrDie(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  EXPECT_TRUE((out << bytes).good()) << "cannot write " << path;
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path, ignored));
}

namespace {

// `text` as one word of the shell, taken literally.
std::string Quoted(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? "'\\''" : std::string(1, c);
  return quoted + "'";
}

}  // namespace

RunResult CommandTest::Vorlex(const std::vector<std::string>& args) const {
  const TempDir streams;  // away from the files the test looks at
  const std::string out = streams.Path("out"), err = streams.Path("err");
  std::string command("cd ");
  command.append(Quoted(dir_.path()))
      .append(" && exec ")
      .append(Quoted(VORLEX_BINARY));
  for (const std::string& arg : args) command.append(" ").append(Quoted(arg));
  command.append(" </dev/null >")
      .append(Quoted(out))
      .append(" 2>")
      .append(Quoted(err));
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileOrDie(out),
          ReadFileOrDie(err)};
}

int CommandTest::Files(std::string_view folder) const {
  return std::distance(fs::directory_iterator(Path(folder)), {});
}

std::string CrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace vorlex::core::testing
