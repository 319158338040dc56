// The file layer. Code that touches a user's files does so through a
// FileSystem that it is given, never through the system calls themselves:
// the program and the library pass a RealFileSystem, and tests one that makes
// any call fail (tests/support/faulty_files.h). On top of it: whole-file
// reads, buffered output, and replacing a file all at once.
//
// Failures are reported as everywhere in the core: false (or nothing), with
// the reason in a `why` string for the caller to show.
#ifndef VORLEX_BASE_FILE_IO_H_
#define VORLEX_BASE_FILE_IO_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace vorlex::core {

// The system calls made on files. Each behaves as the call of its name:
// -1 with errno set when it fails.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual int Open(const char* path, int flags, mode_t mode) = 0;
  virtual ssize_t Read(int fd, void* buffer, size_t count) = 0;
  virtual ssize_t Write(int fd, const void* buffer, size_t count) = 0;
  virtual int Stat(const char* path, struct stat* info) = 0;
  virtual int Fstat(int fd, struct stat* info) = 0;
  virtual int Fsync(int fd) = 0;
  virtual int Ftruncate(int fd, off_t length) = 0;
  virtual int Fchmod(int fd, mode_t mode) = 0;
  virtual int Fchown(int fd, uid_t owner, gid_t group) = 0;
  virtual int Flock(int fd, int operation) = 0;
  virtual int Close(int fd) = 0;
  virtual int Rename(const char* from, const char* to) = 0;
  virtual int Unlink(const char* path) = 0;
};

// The plain system calls; descriptors are closed on exec. It holds nothing,
// so any number of them may be made.
class RealFileSystem : public FileSystem {
 public:
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
};

// The whole contents of a file, or nothing when it cannot be opened or read.
std::optional<std::string> ReadFileBytes(FileSystem& files,
                                         const std::string& path);

// Whether two paths name the same file: the same path after removing "." and
// ".." and doubled slashes, or one existing file reached by both.
bool SameFile(const std::string& a, const std::string& b);

// A file written through one large buffer; any failed write is remembered and
// reported by CloseOutput.
struct OutputFile {
  FileSystem* files = nullptr;
  int fd = -1;
  std::string buffer;
  bool failed = false;

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();
};

// Opens `path` for writing: emptied (created when missing), or for appending.
bool OpenOutput(FileSystem& files, const std::string& path, bool append,
                OutputFile* file);
void WriteOutput(OutputFile* file, std::string_view bytes);
// Flushes and closes; false when anything could not be written.
bool CloseOutput(OutputFile* file);

// Whether the user may change the file at `path`: it must exist, be a regular
// file, and its permissions must allow writing (a file without any write bit
// counts as read-only even for the superuser). Sets *why when not.
bool MayRewrite(FileSystem& files, const std::string& path, std::string* why);

// Replaces the contents of the file at `path` (following symbolic links to
// the file itself) with `bytes`. The new contents go to a temporary file
// beside it, are flushed to disk and renamed over it, keeping its owner and
// all its permission bits, and the folder is flushed, so that a crash leaves
// the old file or the new one. Only where no temporary file can be made there
// is the file overwritten in place (where an old file longer than `bytes`
// would keep its tail; callers never shorten a pakfile, so they always pass
// at least its old length). Returns false, with the reason in *why and the
// file unchanged, when that fails.
bool ReplaceFileContents(FileSystem& files, const std::string& path,
                         std::string_view bytes, std::string* why);

}  // namespace vorlex::core

#endif  // VORLEX_BASE_FILE_IO_H_
