// A file system for tests: the real one, except that chosen calls fail, the
// disk can fill up, and every call is logged with the path it acted on.
#ifndef VORLEX_TESTS_SUPPORT_FAULTY_FILES_H_
#define VORLEX_TESTS_SUPPORT_FAULTY_FILES_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/file_io.h"

namespace vorlex::core::testing {

class FaultyFiles : public RealFileSystem {
 public:
  // kAnyCall counts every call but unlink, whose failure leaves debris.
  enum Call {
    kOpen,
    kRead,
    kWrite,
    kStat,
    kFstat,
    kFsync,
    kFtruncate,
    kFchmod,
    kFchown,
    kFlock,
    kClose,
    kRename,
    kUnlink,
    kAnyCall
  };

  // Makes the `nth` call (from 1) of kind `call` whose path holds `on` fail
  // with `error`, besides those chosen before; a failed close or fsync has
  // acted all the same, as the system's may have.
  void FailAt(Call call, int nth, int error = EIO, std::string on = "") {
    faults_.push_back({call, nth, error, std::move(on)});
  }
  // Makes every call of kind `call` whose path holds `on` fail with `error`.
  void FailEvery(Call call, int error = EIO, std::string on = "") {
    FailAt(call, -1, error, std::move(on));
  }
  // The disk holds `bytes` more: writes that make files grow by more fail
  // with ENOSPC, after writing what still fits; writing over bytes a file
  // already has takes no room.
  void FillDiskAfter(int64_t bytes) { space_ = bytes; }

  // How many calls of kind `call` were made.
  int count(Call call) const { return counts_[call]; }
  // One line per call: its name and the path it acted on ("fsync /d").
  std::vector<std::string> log;

  int Open(const char* path, int flags, mode_t mode) override;
  ssize_t Read(int fd, void* buffer, size_t count) override;
  ssize_t Write(int fd, const void* buffer, size_t count) override;
  int Stat(const char* path, struct stat* info) override;
  int Fstat(int fd, struct stat* info) override;
  int Fsync(int fd) override;
  int Ftruncate(int fd, off_t length) override;
  int Fchmod(int fd, mode_t mode) override;
  int Fchown(int fd, uid_t owner, gid_t group) override;
  int Flock(int fd, int operation) override;
  int Close(int fd) override;
  int Rename(const char* from, const char* to) override;
  int Unlink(const char* path) override;

 private:
  struct Fault {
    Call call;
    int nth;  // -1: every one
    int error;
    std::string on;
    int seen = 0;
  };
  // Counts and logs the call; when it is one to fail, sets errno and returns
  // true.
  bool Fails(Call call, const std::string& what);
  std::string PathOf(int fd) const;

  int counts_[kAnyCall + 1] = {};
  std::vector<Fault> faults_;
  std::optional<int64_t> space_;
  std::map<int, std::string> paths_;
};

}  // namespace vorlex::core::testing

#endif  // VORLEX_TESTS_SUPPORT_FAULTY_FILES_H_
