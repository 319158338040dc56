#include "support/faulty_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vorlex::core::testing {

bool FaultyFiles::Fails(Call call, const std::string& what) {
  static constexpr const char* kNames[] = {
      "open",   "read",   "write", "stat",  "fstat",  "fsync", "ftruncate",
      "fchmod", "fchown", "flock", "close", "rename", "unlink"};
  log.push_back(std::string(kNames[call]) + " " + what);
  ++counts_[call];
  if (call != kUnlink) ++counts_[kAnyCall];
  for (Fault& fault : faults_) {
    const bool kind =
        fault.call == call || (fault.call == kAnyCall && call != kUnlink);
    if (!kind || what.find(fault.on) == std::string::npos) continue;
    if (++fault.seen == fault.nth || fault.nth < 0) {
      errno = fault.error;
      return true;
    }
  }
  return false;
}

std::string FaultyFiles::PathOf(int fd) const {
  const auto it = paths_.find(fd);
  return it != paths_.end() ? it->second : std::to_string(fd);
}

int FaultyFiles::Open(const char* path, int flags, mode_t mode) {
  if (Fails(kOpen, path)) return -1;
  const int fd = RealFileSystem::Open(path, flags, mode);
  if (fd >= 0) paths_[fd] = path;
  return fd;
}

ssize_t FaultyFiles::Write(int fd, const void* buffer, size_t count) {
  if (Fails(kWrite, PathOf(fd))) return -1;
  if (!space_) return RealFileSystem::Write(fd, buffer, count);
  struct stat info;
  const off_t at = ::lseek(fd, 0, SEEK_CUR);
  if (at < 0 || ::fstat(fd, &info) != 0) return -1;
  // O_APPEND writes at the end, wherever the offset stands.
  const int64_t start = (::fcntl(fd, F_GETFL) & O_APPEND) ? info.st_size : at;
  const int64_t fits = std::max<int64_t>(info.st_size - start, 0) + *space_;
  if (fits <= 0) return errno = ENOSPC, -1;
  count = static_cast<size_t>(std::min<int64_t>(count, fits));
  const ssize_t written = RealFileSystem::Write(fd, buffer, count);
  if (written > 0)
    *space_ -= std::max<int64_t>(start + written - info.st_size, 0);
  return written;
}

// The real call `real`, unless the call is one to fail.
#define VORLEX_FAULTY(call, what, real) return Fails(call, what) ? -1 : real

ssize_t FaultyFiles::Read(int fd, void* buffer, size_t count) {
  VORLEX_FAULTY(kRead, PathOf(fd), RealFileSystem::Read(fd, buffer, count));
}
int FaultyFiles::Stat(const char* path, struct stat* info) {
  VORLEX_FAULTY(kStat, path, RealFileSystem::Stat(path, info));
}
int FaultyFiles::Fstat(int fd, struct stat* info) {
  VORLEX_FAULTY(kFstat, PathOf(fd), RealFileSystem::Fstat(fd, info));
}
int FaultyFiles::Ftruncate(int fd, off_t length) {
  VORLEX_FAULTY(kFtruncate, PathOf(fd), RealFileSystem::Ftruncate(fd, length));
}
int FaultyFiles::Fchmod(int fd, mode_t mode) {
  VORLEX_FAULTY(kFchmod, PathOf(fd), RealFileSystem::Fchmod(fd, mode));
}
int FaultyFiles::Fchown(int fd, uid_t owner, gid_t group) {
  VORLEX_FAULTY(kFchown, PathOf(fd), RealFileSystem::Fchown(fd, owner, group));
}
int FaultyFiles::Flock(int fd, int operation) {
  VORLEX_FAULTY(kFlock, PathOf(fd), RealFileSystem::Flock(fd, operation));
}
int FaultyFiles::Rename(const char* from, const char* to) {
  VORLEX_FAULTY(kRename, std::string(from) + " " + to,
                RealFileSystem::Rename(from, to));
}
int FaultyFiles::Unlink(const char* path) {
  VORLEX_FAULTY(kUnlink, path, RealFileSystem::Unlink(path));
}
#undef VORLEX_FAULTY

// A failed fsync or close has acted all the same, as the system's may have.
int FaultyFiles::Fsync(int fd) {
  if (!Fails(kFsync, PathOf(fd))) return RealFileSystem::Fsync(fd);
  const int error = errno;
  RealFileSystem::Fsync(fd);
  return errno = error, -1;
}

int FaultyFiles::Close(int fd) {
  const bool fails = Fails(kClose, PathOf(fd));
  const int error = errno;
  paths_.erase(fd);
  const int result = RealFileSystem::Close(fd);
  return fails ? (errno = error, -1) : result;
}

}  // namespace vorlex::core::testing
