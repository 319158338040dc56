// The file layer. Code that touches a user's files does so through a
// FileSystem that it is given, never through the system calls themselves:
// the program and the library pass a RealFileSystem, and tests one that makes
// any call fail (tests/support/faulty_files.h). On top of it: reading a
// regular file whole, locking it, buffered output, and replacing a file all
// at once.
//
// Failures are reported as everywhere in the core (base/failure.h): false or
// nothing, with the reason in `why`. Replacing a file has more outcomes than
// two, and says which in a Replaced value, with the reason in `why` too.
#ifndef VORLEX_BASE_FILE_IO_H_
#define VORLEX_BASE_FILE_IO_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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
  // Asks the system to start writing a range of the file to disk now, so
  // that a later fsync has less to wait for. Only a hint: nothing fails.
  virtual void StartWriteback(int fd, off_t offset, off_t length) = 0;
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
  void StartWriteback(int fd, off_t offset, off_t length) override;
};

// An open descriptor, closed through its FileSystem when it goes.
class OpenFile {
 public:
  OpenFile() = default;
  OpenFile(FileSystem& files, int fd) : files_(&files), fd_(fd) {}
  OpenFile(OpenFile&& other) noexcept { *this = std::move(other); }
  OpenFile& operator=(OpenFile&& other) noexcept;
  ~OpenFile() { Close(); }

  int fd() const { return fd_; }
  // The result of closing it (0 when it was not open).
  int Close();

 private:
  FileSystem* files_ = nullptr;
  int fd_ = -1;
};

// Opens `path` for reading as a regular file of at most `max_size` bytes.
// A device, FIFO, socket or folder is refused at once: the open does not
// wait for a FIFO's other end, and nothing is read. Sets *why when it fails
// (the system's reason, or "it is a FIFO, not a regular file" and the like).
bool OpenRegularFile(FileSystem& files, const std::string& path,
                     uint64_t max_size, OpenFile* file, std::string* why);

// How long a run that changes a file waits for another's lock on it.
inline constexpr int kLockWaitMs = 10000;

// Takes an exclusive lock on the file that *file holds open from `path`,
// waiting up to `wait_ms` milliseconds while another holds it, and makes
// sure that `path` still names the locked file: where it was replaced in
// the meantime, the new file is opened (as OpenRegularFile does) and locked
// instead. The lock lasts while *file stays open. Where the file system
// has no locks, the file is used unlocked.
bool LockExclusively(FileSystem& files, const std::string& path,
                     uint64_t max_size, int wait_ms, OpenFile* file,
                     std::string* why);

// Reads the open file from where it stands to its end.
bool ReadRest(FileSystem& files, int fd, std::string* bytes, std::string* why);

// The whole contents of a regular file of at most `max_size` bytes, as
// OpenRegularFile and ReadRest take it; nothing, with *why, when it fails.
std::optional<std::string> ReadRegularFile(FileSystem& files,
                                           const std::string& path,
                                           uint64_t max_size, std::string* why);

// Whether `path` names a regular file or nothing: such a file is written by
// way of a temporary file, where a FIFO or a device is written directly.
bool IsRegularOrMissing(FileSystem& files, const std::string& path);

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
  int error = 0;  // errno of the first failure
  // Where the file is cut back to when writing fails (-1: it is not).
  off_t length_before = -1;
  // For a file that is flushed to disk at its end: each buffer written is
  // sent on to the disk at once, while the rest is still being made.
  bool write_back_early = false;
  off_t written = 0;

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();
};

// Opens `path` for writing: emptied (created when missing), or for appending.
// An append to a regular file that fails is cut back to the old length, on
// a failed write and on an interruption alike.
bool OpenOutput(FileSystem& files, const std::string& path, bool append,
                OutputFile* file);
void WriteOutput(OutputFile* file, std::string_view bytes);
// Flushes and closes; false when anything could not be written.
bool CloseOutput(OutputFile* file);

// Whether the user may change the file at `path`: it must exist, be a regular
// file, and its permissions must allow writing (a file without any write bit
// counts as read-only even for the superuser). Sets *why when not.
bool MayRewrite(FileSystem& files, const std::string& path, std::string* why);

// A new version of a file, written to a temporary file beside it and put
// in its place all at once by FinishReplacement. An interruption of the run
// removes the temporary file.
struct Replacement {
  OutputFile out;      // the temporary file
  std::string target;  // the file replaced, symbolic links followed
  std::string temp_path;
  bool existed = false;
  bool no_temporary_file = false;  // why BeginReplacement failed
  struct stat old_info = {};

  Replacement() = default;
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;
  ~Replacement();  // abandons a replacement not finished
};

// Starts replacing `path`. False, with the reason in *why, when no
// temporary file can be made beside it.
bool BeginReplacement(FileSystem& files, const std::string& path,
                      Replacement* replacement, std::string* why);
// Flushes what was written to disk, gives it the old file's owner and every
// permission bit (a new file gets 0666 less the umask), renames it over the
// old file and flushes the folder, so that a crash leaves the old file or the
// new one. False, with the reason in *why, the temporary file removed and
// the old file as it was, when that fails.
bool FinishReplacement(Replacement* replacement, std::string* why);
// Removes the temporary file; the old file stays as it was.
void AbandonReplacement(Replacement* replacement);

// What became of a file that was to be replaced.
enum class Replaced {
  kYes,              // it holds the new bytes
  kNo,               // it is as it was
  kNoTemporaryFile,  // it is as it was: no temporary file fits beside it
  kDamaged,          // it holds neither: see *why for its old contents
};

// Replaces the contents of the file at `path` with `bytes` through a
// Replacement. Where no temporary file can be made beside it, the file is
// left as it was, unless `in_place`: then a copy of the old contents is
// saved in $TMPDIR (or /tmp) first, the file is overwritten and cut to the
// new length, and if that fails the old contents are written back. The copy
// is removed again unless writing back failed too (kDamaged, with the copy's
// path in *why). Interruptions wait until an in-place write or its undoing
// is done. *why gives the reason for every result but kYes.
Replaced ReplaceFileContents(FileSystem& files, const std::string& path,
                             std::string_view bytes, bool in_place,
                             std::string* why);

// A file written from its start to its end and put in place all at once:
// through a Replacement where the path names a regular file or nothing;
// directly where it names a FIFO or a device, which keep no contents; or,
// where no temporary file fits and `in_place` allows it, gathered in memory
// and written by ReplaceFileContents at the end.
class WholeFileOutput {
 public:
  // False, with the reason in *why, when the file cannot be written;
  // refused_in_place() then tells whether `in_place` would have helped.
  bool Open(FileSystem& files, const std::string& path, bool in_place,
            std::string* why);
  bool refused_in_place() const { return refused_in_place_; }
  void Write(std::string_view bytes);
  // Puts the file in place; *why gives the reason for any result but kYes.
  Replaced Finish(std::string* why);

 private:
  enum class Way { kReplace, kDirect, kGather };
  Way way_ = Way::kReplace;
  FileSystem* files_ = nullptr;
  std::string path_;
  Replacement replacement_;
  OutputFile direct_;
  std::string gathered_;
  bool refused_in_place_ = false;
};

}  // namespace vorlex::core

#endif  // VORLEX_BASE_FILE_IO_H_
