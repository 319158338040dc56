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

ssize_t FaultyFiles::Read(int fd, void* buffer, size_t count) {
  if (Fails(kRead, PathOf(fd))) return -1;
  return RealFileSystem::Read(fd, buffer, count);
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

int FaultyFiles::Stat(const char* path, struct stat* info) {
  if (Fails(kStat, path)) return -1;
  return RealFileSystem::Stat(path, info);
}

int FaultyFiles::Fstat(int fd, struct stat* info) {
  if (Fails(kFstat, PathOf(fd))) return -1;
  return RealFileSystem::Fstat(fd, info);
}

int FaultyFiles::Fsync(int fd) {
  if (!Fails(kFsync, PathOf(fd))) return RealFileSystem::Fsync(fd);
  const int error = errno;
  RealFileSystem::Fsync(fd);
  return errno = error, -1;
}

int FaultyFiles::Ftruncate(int fd, off_t length) {
  if (Fails(kFtruncate, PathOf(fd))) return -1;
  return RealFileSystem::Ftruncate(fd, length);
}

int FaultyFiles::Fchmod(int fd, mode_t mode) {
  if (Fails(kFchmod, PathOf(fd))) return -1;
  return RealFileSystem::Fchmod(fd, mode);
}

int FaultyFiles::Fchown(int fd, uid_t owner, gid_t group) {
  if (Fails(kFchown, PathOf(fd))) return -1;
  return RealFileSystem::Fchown(fd, owner, group);
}

int FaultyFiles::Flock(int fd, int operation) {
  if (Fails(kFlock, PathOf(fd))) return -1;
  return RealFileSystem::Flock(fd, operation);
}

int FaultyFiles::Close(int fd) {
  const bool fails = Fails(kClose, PathOf(fd));
  const int error = errno;
  paths_.erase(fd);
  const int result = RealFileSystem::Close(fd);
  return fails ? (errno = error, -1) : result;
}

int FaultyFiles::Rename(const char* from, const char* to) {
  if (Fails(kRename, std::string(from) + " " + to)) return -1;
  return RealFileSystem::Rename(from, to);
}

int FaultyFiles::Unlink(const char* path) {
  if (Fails(kUnlink, path)) return -1;
  return RealFileSystem::Unlink(path);
}

}  // namespace vorlex::core::testing
