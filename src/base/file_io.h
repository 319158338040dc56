// The file layer: every system call that touches a user's file goes through
// Files(), so that tests can make any one of them fail.
#ifndef VORLEX_BASE_FILE_IO_H_
#define VORLEX_BASE_FILE_IO_H_

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace vorlex::core {

struct FileLayer {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*read)(int fd, void* buffer, size_t count);
  ssize_t (*write)(int fd, const void* buffer, size_t count);
  int (*fsync)(int fd);
  int (*close)(int fd);
  int (*rename)(const char* from, const char* to);
  int (*fchmod)(int fd, mode_t mode);
  int (*unlink)(const char* path);
};

// The process-wide layer; starts as the plain system calls.
FileLayer& Files();
// The plain system calls, to restore Files() after a test changed it.
FileLayer SystemFileLayer();

// The whole contents of a file, or nothing when it cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::string& path);

// Whether two paths name the same file: the same path after removing "." and
// ".." and doubled slashes, or one existing file reached by both.
bool SameFile(const std::string& a, const std::string& b);

// A file written through one large buffer; any failed write is remembered and
// reported by CloseOutput.
struct OutputFile {
  int fd = -1;
  std::string buffer;
  bool failed = false;

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();
};

// Opens `path` for writing: emptied (created when missing), or for appending.
bool OpenOutput(const std::string& path, bool append, OutputFile* file);
void WriteOutput(OutputFile* file, std::string_view bytes);
// Flushes and closes; false when anything could not be written.
bool CloseOutput(OutputFile* file);

// Whether the user may change the file at `path`: it must exist, be a regular
// file, and its permissions must allow writing (a file without any write bit
// counts as read-only even for the superuser). Sets *why when not.
bool MayRewrite(const std::string& path, std::string* why);

// Replaces the contents of the file at `path` (following symbolic links to
// the file itself) with `bytes`. The new contents go to a temporary file
// beside it, are flushed to disk and renamed over it, keeping its permission
// bits, so that a crash leaves the old file or the new one. Only where no
// temporary file can be made there is the file overwritten in place (where
// an old file longer than `bytes` would keep its tail; callers never shorten a
// pakfile, so they always pass at least its old length). Returns
// false, with the reason in *why and the file unchanged, when that fails.
bool ReplaceFileContents(const std::string& path, std::string_view bytes,
                         std::string* why);

}  // namespace vorlex::core

#endif  // VORLEX_BASE_FILE_IO_H_
