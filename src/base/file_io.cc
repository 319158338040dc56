#include "base/file_io.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace vorlex::core {
namespace {

constexpr size_t kOutputBufferSize = size_t{1} << 20;

std::string ErrorText(int error) { return std::strerror(error); }

// Writes all of `bytes`, going on after short writes and interruptions.
bool WriteAll(FileSystem& files, int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = files.Write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// The path with links followed as far as it exists, so that "link/.." means
// what the system makes of it; the rest is folded as text.
std::string Normalized(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) absolute = path;
  std::filesystem::path resolved =
      std::filesystem::weakly_canonical(absolute, error);
  if (error) resolved = absolute.lexically_normal();
  return resolved.string();
}

// Makes a new, empty file beside `target` and returns its descriptor.
int CreateTemporaryBeside(FileSystem& files, const std::string& target,
                          std::string* temp_path) {
  const std::filesystem::path target_path(target);
  std::string stem(".");
  stem.append(target_path.filename().string()).append(".vorlex-");
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = stem + std::to_string(::getpid()) + "-" +
                       std::to_string(attempt) + ".tmp";
    *temp_path = (target_path.parent_path() / name).string();
    const int fd =
        files.Open(temp_path->c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// Flushes the folder holding `file`, so that a rename into it lasts.
void SyncFolder(FileSystem& files, const std::string& file) {
  std::filesystem::path folder = std::filesystem::path(file).parent_path();
  if (folder.empty()) folder = std::filesystem::path(".");
  const int fd = files.Open(folder.c_str(), O_RDONLY | O_DIRECTORY, 0);
  if (fd < 0) return;
  files.Fsync(fd);
  files.Close(fd);
}

bool WriteInPlace(FileSystem& files, const std::string& target,
                  std::string_view bytes, std::string* why) {
  const int fd = files.Open(target.c_str(), O_WRONLY, 0);
  if (fd < 0) {
    *why = "cannot open " + target + " for writing: " + ErrorText(errno);
    return false;
  }
  bool ok = WriteAll(files, fd, bytes) && files.Fsync(fd) == 0;
  const int saved = errno;
  ok = files.Close(fd) == 0 && ok;
  if (!ok) *why = "writing " + target + " in place failed: " + ErrorText(saved);
  return ok;
}

}  // namespace

int RealFileSystem::Open(const char* path, int flags, mode_t mode) {
  return ::open(path, flags | O_CLOEXEC, mode);
}
ssize_t RealFileSystem::Read(int fd, void* buffer, size_t count) {
  return ::read(fd, buffer, count);
}
ssize_t RealFileSystem::Write(int fd, const void* buffer, size_t count) {
  return ::write(fd, buffer, count);
}
int RealFileSystem::Stat(const char* path, struct stat* info) {
  return ::stat(path, info);
}
int RealFileSystem::Fstat(int fd, struct stat* info) {
  return ::fstat(fd, info);
}
int RealFileSystem::Fsync(int fd) { return ::fsync(fd); }
int RealFileSystem::Ftruncate(int fd, off_t length) {
  return ::ftruncate(fd, length);
}
int RealFileSystem::Fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int RealFileSystem::Fchown(int fd, uid_t owner, gid_t group) {
  return ::fchown(fd, owner, group);
}
int RealFileSystem::Flock(int fd, int operation) {
  return ::flock(fd, operation);
}
int RealFileSystem::Close(int fd) { return ::close(fd); }
int RealFileSystem::Rename(const char* from, const char* to) {
  return ::rename(from, to);
}
int RealFileSystem::Unlink(const char* path) { return ::unlink(path); }

std::optional<std::string> ReadFileBytes(FileSystem& files,
                                         const std::string& path) {
  const int fd = files.Open(path.c_str(), O_RDONLY, 0);
  if (fd < 0) return std::nullopt;
  struct stat info;
  size_t expected = 0;
  if (files.Fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    expected = static_cast<size_t>(info.st_size);
  }
  // One more byte than expected, so that the end shows without a regrow.
  std::string bytes(expected + 1, '\0');
  size_t used = 0;
  while (true) {
    if (used == bytes.size()) bytes.resize(bytes.size() * 2);
    const ssize_t got =
        files.Read(fd, bytes.data() + used, bytes.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      files.Close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  files.Close(fd);
  bytes.resize(used);
  return bytes;
}

bool SameFile(const std::string& a, const std::string& b) {
  if (Normalized(a) == Normalized(b)) return true;
  struct stat info_a, info_b;
  return ::stat(a.c_str(), &info_a) == 0 && ::stat(b.c_str(), &info_b) == 0 &&
         info_a.st_dev == info_b.st_dev && info_a.st_ino == info_b.st_ino;
}

OutputFile::~OutputFile() {
  if (fd >= 0) files->Close(fd);
}

bool OpenOutput(FileSystem& files, const std::string& path, bool append,
                OutputFile* file) {
  const int flags = O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC);
  file->files = &files;
  file->fd = files.Open(path.c_str(), flags, 0666);
  file->failed = file->fd < 0;
  file->buffer.clear();
  file->buffer.reserve(kOutputBufferSize);
  return !file->failed;
}

void WriteOutput(OutputFile* file, std::string_view bytes) {
  if (file->failed) return;
  if (file->buffer.size() + bytes.size() > kOutputBufferSize) {
    if (!WriteAll(*file->files, file->fd, file->buffer)) file->failed = true;
    file->buffer.clear();
    if (bytes.size() >= kOutputBufferSize) {
      if (!file->failed && !WriteAll(*file->files, file->fd, bytes)) {
        file->failed = true;
      }
      return;
    }
  }
  file->buffer.append(bytes);
}

bool CloseOutput(OutputFile* file) {
  if (file->fd < 0) return false;
  if (!file->failed && !WriteAll(*file->files, file->fd, file->buffer)) {
    file->failed = true;
  }
  file->buffer.clear();
  if (file->files->Close(file->fd) != 0) file->failed = true;
  file->fd = -1;
  return !file->failed;
}

bool MayRewrite(FileSystem& files, const std::string& path, std::string* why) {
  struct stat info;
  if (files.Stat(path.c_str(), &info) != 0) {
    *why = "cannot look at " + path + ": " + ErrorText(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *why = path + " is not a regular file";
    return false;
  }
  if ((info.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) {
    *why = path + " is read-only";
    return false;
  }
  return true;
}

bool ReplaceFileContents(FileSystem& files, const std::string& path,
                         std::string_view bytes, std::string* why) {
  // Replace the file a symbolic link points at, not the link.
  char resolved[PATH_MAX];
  const std::string target =
      ::realpath(path.c_str(), resolved) != nullptr ? resolved : path;
  struct stat info;
  if (files.Stat(target.c_str(), &info) != 0) {
    *why = "cannot look at " + target + ": " + ErrorText(errno);
    return false;
  }

  std::string temp_path;
  const int fd = CreateTemporaryBeside(files, target, &temp_path);
  if (fd < 0) return WriteInPlace(files, target, bytes, why);

  bool ok = WriteAll(files, fd, bytes);
  // The owner first: changing it clears the set-user-ID and set-group-ID
  // bits, which the mode then puts back. Keeping the owner is only possible
  // for the superuser; others keep their own, as any editor would.
  if (ok && files.Fchown(fd, info.st_uid, info.st_gid) != 0) errno = 0;
  if (ok && files.Fchmod(fd, info.st_mode & 07777) != 0) ok = false;
  if (ok && files.Fsync(fd) != 0) ok = false;
  int saved = errno;
  if (files.Close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && files.Rename(temp_path.c_str(), target.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    files.Unlink(temp_path.c_str());
    *why = "writing the new " + target + " failed: " + ErrorText(saved);
    return false;
  }
  SyncFolder(files, target);
  return true;
}

}  // namespace vorlex::core
