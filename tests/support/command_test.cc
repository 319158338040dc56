#include "support/command_test.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

RunResult CommandTest::Vorlex(const std::vector<std::string>& args) const {
  const TempDir streams;  // away from the files the test looks at
  const std::string out = streams.Path("out"), err = streams.Path("err");
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
  const int out_fd = ::open(out.c_str(), flags, 0600);
  const int err_fd = ::open(err.c_str(), flags, 0600);
  int status = 0;
  ::waitpid(StartVorlex(args, out_fd, err_fd), &status, 0);
  ::close(out_fd);
  ::close(err_fd);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileOrDie(out),
          ReadFileOrDie(err)};
}

pid_t CommandTest::StartVorlex(const std::vector<std::string>& args, int out,
                               int err) const {
  std::vector<const char*> argv = {VORLEX_BINARY};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  const int null = ::open("/dev/null", O_RDWR);
  if (::chdir(dir_.path().c_str()) != 0) _exit(126);
  // Whatever the test runner ignores.
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    ::signal(signal, SIG_DFL);
  }
  ::dup2(null, 0);
  ::dup2(out >= 0 ? out : null, 1);
  ::dup2(err >= 0 ? err : null, 2);
  ::execv(VORLEX_BINARY, const_cast<char* const*>(argv.data()));
  _exit(127);
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
