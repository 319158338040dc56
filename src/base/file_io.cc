#include "base/file_io.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/interrupt.h"

namespace vorlex::core {
namespace {

constexpr size_t kOutputBufferSize = size_t{1} << 20;
constexpr int kLockPollMs = 20;

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

// Asks for huge pages behind the whole 2 MiB pages of `size` bytes at `data`,
// before they are first touched: a large buffer then takes a fault per 2 MiB
// instead of one per 4 KiB, which for a file of megabytes costs more than
// reading it. Only a hint: nothing fails.
void AdviseHugePages(char* data, size_t size) {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  const uintptr_t begin =
      (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end =
      (reinterpret_cast<uintptr_t>(data) + size) & ~(kHuge - 1);
  if (begin < end) {
    ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  }
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

// Makes a new, empty file named after `target` in `folder`, with `mode`
// less the umask, and returns its descriptor. An interruption removes it;
// the name is given for that before the file is made, so that no moment is
// left in which the file stands unnamed. (A name holds the process ID, so
// a file of that name that is there already is one left by a killed run.)
int CreateUniqueFile(FileSystem& files, const std::filesystem::path& folder,
                     const std::string& target, std::string_view kind,
                     mode_t mode, std::string* path) {
  std::string stem(".");
  stem.append(std::filesystem::path(target).filename().string())
      .append(".vorlex-")
      .append(kind);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = stem + std::to_string(::getpid()) + "-" +
                             std::to_string(attempt) + ".tmp";
    *path = (folder / name).string();
    RemoveOnInterrupt(*path);
    const int fd = files.Open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
  }
  const int error = errno;
  ForgetOnInterrupt();
  errno = error;
  return -1;
}

// Writes `bytes` to the file unless a write failed before, remembering the
// first failure.
void WriteThrough(OutputFile* file, std::string_view bytes) {
  if (file->failed) return;
  if (!WriteAll(*file->files, file->fd, bytes)) {
    file->failed = true;
    file->error = errno;
    return;
  }
  const off_t size = static_cast<off_t>(bytes.size());
  if (file->write_back_early && size > 0) {
    file->files->StartWriteback(file->fd, file->written, size);
  }
  file->written += size;
}

// The file that `path` leads to, symbolic links followed: a file is replaced
// where the link points, not the link. A link to nothing leads to the name
// it holds, so that writing through it makes that file, as opening it would.
std::string FollowLinks(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  std::filesystem::path at(path);
  std::error_code error;
  for (int hop = 0; hop < 40 && std::filesystem::is_symlink(at, error); ++hop) {
    const std::filesystem::path next = std::filesystem::read_symlink(at, error);
    if (error) break;
    at = next.is_absolute() ? next : at.parent_path() / next;
  }
  return at.string();
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

// Writes `bytes` to the open `fd` and flushes them, then closes it. Returns
// 0, or the first error met.
int WriteSyncClose(FileSystem& files, int fd, std::string_view bytes,
                   bool cut_to_length) {
  int error = 0;
  if (!WriteAll(files, fd, bytes) ||
      (cut_to_length &&
       files.Ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) ||
      files.Fsync(fd) != 0) {
    error = errno;
  }
  if (files.Close(fd) != 0 && error == 0) error = errno;
  return error;
}

// Writes `bytes` over the start of the file at `path` and cuts it to their
// length. Returns 0, or the first error met.
int Overwrite(FileSystem& files, const std::string& path,
              std::string_view bytes) {
  const int fd = files.Open(path.c_str(), O_WRONLY, 0);
  if (fd < 0) return errno;
  return WriteSyncClose(files, fd, bytes, /*cut_to_length=*/true);
}

// Saves `bytes` in a new file in $TMPDIR (or /tmp), named after `target`.
bool SaveCopy(FileSystem& files, const std::string& target,
              std::string_view bytes, std::string* path, std::string* why) {
  const char* tmpdir = ::getenv("TMPDIR");
  const std::filesystem::path folder =
      tmpdir != nullptr && tmpdir[0] == '/' ? tmpdir : "/tmp";
  const int fd = CreateUniqueFile(files, folder, target, "old-", 0600, path);
  int error = fd < 0 ? errno : WriteSyncClose(files, fd, bytes, false);
  if (error == 0) return true;
  if (fd >= 0) files.Unlink(path->c_str());
  ForgetOnInterrupt();
  *why =
      "writing in place needs a copy of the old contents first, and none "
      "can be saved in " +
      folder.string() + ": " + ErrorText(error);
  return false;
}

// Writes `bytes` over `target` where no temporary file fits beside it,
// undoing the write from a copy of the old contents when it fails. Until
// the copy is needed, an interruption removes it; while the file is written
// and undone, interruptions wait.
Replaced WriteInPlace(FileSystem& files, const std::string& target,
                      std::string_view bytes, std::string* why) {
  const std::optional<std::string> old =
      ReadRegularFile(files, target, UINT64_MAX, why);
  if (!old) {
    *why = "cannot read " + target + " before writing it in place: " + *why;
    return Replaced::kNo;
  }
  std::string copy;
  if (!SaveCopy(files, target, *old, &copy, why)) return Replaced::kNo;
  Replaced result = Replaced::kYes;
  {
    const InterruptsHeldBack held_back;
    if (const int error = Overwrite(files, target, bytes)) {
      *why = "writing " + target + " in place failed: " + ErrorText(error);
      result = Replaced::kNo;
      if (const int undo_error = Overwrite(files, target, *old)) {
        *why += ", and writing its old contents back failed too: " +
                ErrorText(undo_error) + ". " + target +
                " is damaged; its old contents are saved in " + copy;
        ForgetOnInterrupt();  // the copy is all that is left of them
        return Replaced::kDamaged;
      }
      *why += "; its old contents were written back";
    }
  }
  files.Unlink(copy.c_str());
  ForgetOnInterrupt();
  return result;
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
void RealFileSystem::StartWriteback(int fd, off_t offset, off_t length) {
  ::sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE);
}
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

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
  if (this != &other) {
    Close();
    files_ = other.files_;
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

int OpenFile::Close() {
  if (fd_ < 0) return 0;
  return files_->Close(std::exchange(fd_, -1));
}

bool OpenRegularFile(FileSystem& files, const std::string& path,
                     uint64_t max_size, OpenFile* file, std::string* why) {
  *file = OpenFile(files, files.Open(path.c_str(), O_RDONLY | O_NONBLOCK, 0));
  struct stat info;
  if (file->fd() < 0 || files.Fstat(file->fd(), &info) != 0) {
    *why = ErrorText(errno);
    file->Close();
    return false;
  }
  const char* kind = S_ISDIR(info.st_mode)    ? "a folder"
                     : S_ISFIFO(info.st_mode) ? "a FIFO"
                     : S_ISSOCK(info.st_mode) ? "a socket"
                     : S_ISREG(info.st_mode)  ? nullptr
                                              : "a device";
  if (kind != nullptr) {
    *why = std::string("it is ") + kind + ", not a regular file";
  } else if (static_cast<uint64_t>(info.st_size) > max_size) {
    *why = "it holds " + std::to_string(info.st_size) +
           " bytes, more than the " + std::to_string(max_size) + " allowed";
  } else {
    return true;
  }
  file->Close();
  return false;
}

bool LockExclusively(FileSystem& files, const std::string& path,
                     uint64_t max_size, int wait_ms, OpenFile* file,
                     std::string* why) {
  for (int waited = 0;;) {
    if (files.Flock(file->fd(), LOCK_EX | LOCK_NB) != 0) {
      // A file system without locks (some network ones) is written as
      // before there were locks, rather than not at all.
      if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL) {
        return true;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) {
        *why = "cannot lock it: " + ErrorText(errno);
        return false;
      }
      if (waited >= wait_ms) {
        *why = "another run held its lock for " + std::to_string(wait_ms) +
               " ms; try again when that run is done";
        return false;
      }
      const timespec pause = {0, kLockPollMs * 1000000L};
      ::nanosleep(&pause, nullptr);
      waited += kLockPollMs;
      continue;
    }
    // A run that held the lock may have renamed a new file over the path.
    struct stat locked, named;
    if (files.Fstat(file->fd(), &locked) != 0) {
      *why = ErrorText(errno);
      return false;
    }
    if (files.Stat(path.c_str(), &named) == 0 &&
        named.st_dev == locked.st_dev && named.st_ino == locked.st_ino) {
      return true;
    }
    if (!OpenRegularFile(files, path, max_size, file, why)) return false;
  }
}

bool ReadRest(FileSystem& files, int fd, std::string* bytes, std::string* why) {
  struct stat info;
  size_t expected = 0;
  if (files.Fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    expected = static_cast<size_t>(info.st_size);
  }
  // One more byte than expected, so that the end shows without a regrow.
  bytes->clear();
  bytes->reserve(expected + 1);
  AdviseHugePages(bytes->data(), expected + 1);
  bytes->assign(expected + 1, '\0');
  size_t used = 0;
  while (true) {
    if (used == bytes->size()) bytes->resize(bytes->size() * 2);
    const ssize_t got =
        files.Read(fd, bytes->data() + used, bytes->size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *why = ErrorText(errno);
      bytes->clear();
      return false;
    }
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  bytes->resize(used);
  return true;
}

std::optional<std::string> ReadRegularFile(FileSystem& files,
                                           const std::string& path,
                                           uint64_t max_size,
                                           std::string* why) {
  OpenFile file;
  if (!OpenRegularFile(files, path, max_size, &file, why)) return std::nullopt;
  std::string bytes;
  if (!ReadRest(files, file.fd(), &bytes, why)) return std::nullopt;
  return bytes;
}

bool IsRegularOrMissing(FileSystem& files, const std::string& path) {
  struct stat info;
  if (files.Stat(path.c_str(), &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
  if (Normalized(a) == Normalized(b)) return true;
  struct stat info_a, info_b;
  return ::stat(a.c_str(), &info_a) == 0 && ::stat(b.c_str(), &info_b) == 0 &&
         info_a.st_dev == info_b.st_dev && info_a.st_ino == info_b.st_ino;
}

OutputFile::~OutputFile() {
  if (fd >= 0) {
    ForgetOnInterrupt();
    files->Close(fd);
  }
}

bool OpenOutput(FileSystem& files, const std::string& path, bool append,
                OutputFile* file) {
  const int flags = O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC);
  file->files = &files;
  file->fd = files.Open(path.c_str(), flags, 0666);
  file->failed = file->fd < 0;
  file->error = file->failed ? errno : 0;
  file->length_before = -1;
  file->write_back_early = false;
  file->written = 0;
  file->buffer.clear();
  if (file->failed) return false;
  struct stat info;
  if (append && files.Fstat(file->fd, &info) == 0 && S_ISREG(info.st_mode)) {
    file->length_before = info.st_size;
    TruncateOnInterrupt(file->fd, info.st_size);
  }
  file->buffer.reserve(kOutputBufferSize);
  return true;
}

void WriteOutput(OutputFile* file, std::string_view bytes) {
  if (file->failed) return;
  // Large pieces go to the file as they are, after what the buffer holds:
  // copying them into it first would cost more than the extra write.
  const bool large = bytes.size() >= kOutputBufferSize / 4;
  if (large || file->buffer.size() + bytes.size() > kOutputBufferSize) {
    WriteThrough(file, file->buffer);
    file->buffer.clear();
    if (large) {
      WriteThrough(file, bytes);
      return;
    }
  }
  file->buffer.append(bytes);
}

bool CloseOutput(OutputFile* file) {
  if (file->fd < 0) return false;
  WriteThrough(file, file->buffer);
  file->buffer.clear();
  if (file->failed && file->length_before >= 0) {
    file->files->Ftruncate(file->fd, file->length_before);
  }
  ForgetOnInterrupt();
  if (file->files->Close(file->fd) != 0 && !file->failed) {
    file->failed = true;
    file->error = errno;
  }
  file->fd = -1;
  errno = file->error;
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

bool BeginReplacement(FileSystem& files, const std::string& path,
                      Replacement* replacement, std::string* why) {
  replacement->target = FollowLinks(path);
  const std::string& target = replacement->target;
  replacement->existed =
      files.Stat(target.c_str(), &replacement->old_info) == 0;
  if (!replacement->existed && errno != ENOENT) {
    *why = "cannot look at " + target + ": " + ErrorText(errno);
    return false;
  }
  std::filesystem::path folder = std::filesystem::path(target).parent_path();
  if (folder.empty()) folder = ".";
  OutputFile& out = replacement->out;
  out.files = &files;
  out.fd = CreateUniqueFile(files, folder, target, "",
                            replacement->existed ? 0600 : 0666,
                            &replacement->temp_path);
  if (out.fd < 0) {
    replacement->no_temporary_file = true;
    *why = "no temporary file can be made beside " + target + ": " +
           ErrorText(errno);
    return false;
  }
  out.write_back_early = true;
  out.written = 0;
  out.failed = false;
  out.error = 0;
  out.buffer.clear();
  return true;
}

bool FinishReplacement(Replacement* replacement, std::string* why) {
  FileSystem& files = *replacement->out.files;
  OutputFile& out = replacement->out;
  WriteThrough(&out, out.buffer);
  out.buffer.clear();
  bool ok = !out.failed;
  errno = out.error;
  const struct stat& info = replacement->old_info;
  if (ok && replacement->existed) {
    // The owner first: changing it clears the set-user-ID and set-group-ID
    // bits, which the mode then puts back. Keeping the owner is only
    // possible for the superuser; others keep their own, as any editor
    // would.
    if (files.Fchown(out.fd, info.st_uid, info.st_gid) != 0) errno = 0;
    ok = files.Fchmod(out.fd, info.st_mode & 07777) == 0;
  }
  ok = ok && files.Fsync(out.fd) == 0;
  int error = errno;
  if (files.Close(std::exchange(out.fd, -1)) != 0 && ok) {
    ok = false;
    error = errno;
  }
  const std::string& target = replacement->target;
  if (ok && files.Rename(replacement->temp_path.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    files.Unlink(replacement->temp_path.c_str());
    ForgetOnInterrupt();
    *why = "writing the new " + target + " failed: " + ErrorText(error);
    return false;
  }
  ForgetOnInterrupt();
  SyncFolder(files, target);
  return true;
}

Replacement::~Replacement() { AbandonReplacement(this); }

void AbandonReplacement(Replacement* replacement) {
  OutputFile& out = replacement->out;
  if (out.fd < 0) return;
  out.files->Close(std::exchange(out.fd, -1));
  out.files->Unlink(replacement->temp_path.c_str());
  ForgetOnInterrupt();
}

Replaced ReplaceFileContents(FileSystem& files, const std::string& path,
                             std::string_view bytes, bool in_place,
                             std::string* why) {
  Replacement replacement;
  if (!BeginReplacement(files, path, &replacement, why)) {
    if (!replacement.no_temporary_file) return Replaced::kNo;
    if (!in_place) return Replaced::kNoTemporaryFile;
    return WriteInPlace(files, replacement.target, bytes, why);
  }
  // Straight to the file: the bytes are all in memory already.
  WriteThrough(&replacement.out, bytes);
  return FinishReplacement(&replacement, why) ? Replaced::kYes : Replaced::kNo;
}

bool WholeFileOutput::Open(FileSystem& files, const std::string& path,
                           bool in_place, std::string* why) {
  files_ = &files;
  path_ = path;
  if (!IsRegularOrMissing(files, path)) {
    way_ = Way::kDirect;
    if (OpenOutput(files, path, /*append=*/false, &direct_)) return true;
    *why = ErrorText(errno);
    return false;
  }
  way_ = Way::kReplace;
  if (BeginReplacement(files, path, &replacement_, why)) return true;
  if (!replacement_.no_temporary_file) return false;
  refused_in_place_ = !in_place;
  way_ = Way::kGather;
  return in_place;
}

void WholeFileOutput::Write(std::string_view bytes) {
  switch (way_) {
    case Way::kReplace:
      WriteOutput(&replacement_.out, bytes);
      break;
    case Way::kDirect:
      WriteOutput(&direct_, bytes);
      break;
    case Way::kGather:
      gathered_.append(bytes);
      break;
  }
}

Replaced WholeFileOutput::Finish(std::string* why) {
  switch (way_) {
    case Way::kReplace:
      return FinishReplacement(&replacement_, why) ? Replaced::kYes
                                                   : Replaced::kNo;
    case Way::kDirect:
      if (CloseOutput(&direct_)) return Replaced::kYes;
      *why = "writing " + path_ + " failed: " + ErrorText(errno);
      return Replaced::kNo;
    case Way::kGather:
      break;
  }
  return ReplaceFileContents(*files_, path_, gathered_, /*in_place=*/true, why);
}

}  // namespace vorlex::core
