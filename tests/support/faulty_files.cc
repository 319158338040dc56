#include "support/faulty_files.h"

#include <cerrno>

namespace vorlex::core::testing {

bool FaultyFiles::Fails(Call call, const std::string& what) {
  static constexpr const char* kNames[] = {
      "open",   "read",   "write", "stat",  "fstat",  "fsync", "ftruncate",
      "fchmod", "fchown", "flock", "close", "rename", "unlink"};
  log.push_back(std::string(kNames[call]) + " " + what);
  ++counts_[call];
  if (call != kUnlink) ++counts_[kAnyCall];
  const bool chosen =
      fail_call_ == call || (fail_call_ == kAnyCall && call != kUnlink);
  return chosen && (fail_nth_ < 0 || counts_[fail_call_] == fail_nth_);
}

std::string FaultyFiles::PathOf(int fd) const {
  const auto it = paths_.find(fd);
  return it != paths_.end() ? it->second : std::to_string(fd);
}

int FaultyFiles::Open(const char* path, int flags, mode_t mode) {
  if (Fails(kOpen, path)) return errno = fail_error_, -1;
  const int fd = RealFileSystem::Open(path, flags, mode);
  if (fd >= 0) paths_[fd] = path;
  return fd;
}

ssize_t FaultyFiles::Read(int fd, void* buffer, size_t count) {
  if (Fails(kRead, PathOf(fd))) return errno = fail_error_, -1;
  return RealFileSystem::Read(fd, buffer, count);
}

ssize_t FaultyFiles::Write(int fd, const void* buffer, size_t count) {
  if (Fails(kWrite, PathOf(fd))) return errno = fail_error_, -1;
  if (space_) {
    if (*space_ == 0) return errno = ENOSPC, -1;
    if (static_cast<int64_t>(count) > *space_) count = *space_;
  }
  const ssize_t written = RealFileSystem::Write(fd, buffer, count);
  if (space_ && written > 0) *space_ -= written;
  return written;
}

int FaultyFiles::Stat(const char* path, struct stat* info) {
  if (Fails(kStat, path)) return errno = fail_error_, -1;
  return RealFileSystem::Stat(path, info);
}

int FaultyFiles::Fstat(int fd, struct stat* info) {
  if (Fails(kFstat, PathOf(fd))) return errno = fail_error_, -1;
  const int result = RealFileSystem::Fstat(fd, info);
  if (result == 0 && reported_size && S_ISREG(info->st_mode)) {
    info->st_size = *reported_size;
  }
  return result;
}

int FaultyFiles::Fsync(int fd) {
  const bool fails = Fails(kFsync, PathOf(fd));
  const int result = RealFileSystem::Fsync(fd);
  return fails ? (errno = fail_error_, -1) : result;
}

int FaultyFiles::Ftruncate(int fd, off_t length) {
  if (Fails(kFtruncate, PathOf(fd))) return errno = fail_error_, -1;
  return RealFileSystem::Ftruncate(fd, length);
}

int FaultyFiles::Fchmod(int fd, mode_t mode) {
  if (Fails(kFchmod, PathOf(fd))) return errno = fail_error_, -1;
  return RealFileSystem::Fchmod(fd, mode);
}

int FaultyFiles::Fchown(int fd, uid_t owner, gid_t group) {
  if (Fails(kFchown, PathOf(fd))) return errno = fail_error_, -1;
  return RealFileSystem::Fchown(fd, owner, group);
}

int FaultyFiles::Flock(int fd, int operation) {
  if (Fails(kFlock, PathOf(fd))) return errno = fail_error_, -1;
  return RealFileSystem::Flock(fd, operation);
}

int FaultyFiles::Close(int fd) {
  const bool fails = Fails(kClose, PathOf(fd));
  paths_.erase(fd);
  const int result = RealFileSystem::Close(fd);
  return fails ? (errno = fail_error_, -1) : result;
}

int FaultyFiles::Rename(const char* from, const char* to) {
  if (Fails(kRename, std::string(from) + " " + to)) {
    return errno = fail_error_, -1;
  }
  return RealFileSystem::Rename(from, to);
}

int FaultyFiles::Unlink(const char* path) {
  if (Fails(kUnlink, path)) return errno = fail_error_, -1;
  return RealFileSystem::Unlink(path);
}

}  // namespace vorlex::core::testing
