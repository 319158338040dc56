#include "base/interrupt.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string_view>

namespace vorlex::core {
namespace {

// What the handler undoes. The path is copied in before `remove` is set and
// `remove` cleared before it changes, so the handler never sees half a path.
std::atomic<bool> g_installed{false};
char g_path[PATH_MAX];
volatile sig_atomic_t g_remove = 0;
volatile sig_atomic_t g_truncate_fd = -1;
off_t g_truncate_length = 0;

// SIGPIPE too: standard output closed early (vorlex ... | head) would
// otherwise end the run with a text file half written beside the old one.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Does only what is safe in a signal handler: unlink, ftruncate, write and
// _exit, on data prepared beforehand.
void OnInterrupt(int signal) {
  if (g_remove) ::unlink(g_path);
  if (g_truncate_fd >= 0) {
    if (::ftruncate(g_truncate_fd, g_truncate_length) != 0) {
      // Nothing more can be done here; the message below still goes out.
    }
  }
  std::string_view line = "vorlex: stopped by a signal\n";
  if (signal == SIGINT) line = "vorlex: stopped by SIGINT\n";
  if (signal == SIGTERM) line = "vorlex: stopped by SIGTERM\n";
  if (signal == SIGHUP) line = "vorlex: stopped by SIGHUP\n";
  if (signal == SIGPIPE) line = "vorlex: stopped by SIGPIPE\n";
  if (::write(STDERR_FILENO, line.data(), line.size()) < 0) {
    // As above: the exit status still tells.
  }
  ::_exit(128 + signal);
}

sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kSignals) sigaddset(&set, signal);
  return set;
}

}  // namespace

void EndRunOnInterrupt() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  // While one signal is handled, the others wait: the undoing runs once.
  action.sa_mask = InterruptSignals();
  for (int signal : kSignals) {
    // A signal ignored by whoever started the run (nohup, a background
    // job) stays ignored.
    struct sigaction before = {};
    if (::sigaction(signal, nullptr, &before) == 0 &&
        before.sa_handler == SIG_IGN) {
      continue;
    }
    ::sigaction(signal, &action, nullptr);
  }
  g_installed = true;
}

void RemoveOnInterrupt(const std::string& path) {
  if (!g_installed) return;
  g_remove = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (path.size() >= sizeof(g_path)) return;
  std::memcpy(g_path, path.c_str(), path.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  g_remove = 1;
}

void TruncateOnInterrupt(int fd, off_t length) {
  if (!g_installed) return;
  g_truncate_fd = -1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  g_truncate_length = length;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  g_truncate_fd = fd;
}

void ForgetOnInterrupt() {
  if (!g_installed) return;
  g_remove = 0;
  g_truncate_fd = -1;
}

InterruptsHeldBack::InterruptsHeldBack() {
  if (!g_installed) return;
  const sigset_t set = InterruptSignals();
  held_ = ::sigprocmask(SIG_BLOCK, &set, nullptr) == 0;
}

InterruptsHeldBack::~InterruptsHeldBack() {
  if (!held_) return;
  const sigset_t set = InterruptSignals();
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace vorlex::core
