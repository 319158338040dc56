// Reading a text file line by line as a stream, without a copy per line.
#ifndef VORLEX_PACK_LINE_READER_H_
#define VORLEX_PACK_LINE_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/file_io.h"

namespace vorlex::core {

// Lines end at LF or at CR LF, and the line end is not part of the line; a
// CR not followed by LF stays in the line. A byte 26 ends the input: nothing
// from it on is read. The text comes either from memory (tests, small inputs)
// or from an open file descriptor, read in large chunks through a FileSystem.
class LineReader {
 public:
  // Reads from `text`, which must outlive the reader.
  explicit LineReader(std::string_view text);
  explicit LineReader(const char* text) : LineReader(std::string_view(text)) {}
  explicit LineReader(std::string&& text) = delete;
  // Reads from `fd` through `files` (which must outlive the reader; the
  // descriptor is not closed by it); `chunk_size` is the size of each read,
  // and the buffer grows only for a line longer than it. A UTF-8 text file
  // (`utf8`) holds byte 26 as a character like any other.
  LineReader(FileSystem& files, int fd, size_t chunk_size = kDefaultChunkSize,
             bool utf8 = false);

  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Whether no byte is left to read (a read error counts as the end).
  bool AtEnd();
  // The next line, or the empty text at the end. The view stays valid until
  // the next call to AtEnd or NextLine.
  std::string_view NextLine();
  // Gives back the room that a very long line made the buffer take, keeping
  // the unread bytes. Ends the view NextLine returned last.
  void ReleaseSpareRoom();
  // Hands over the buffer that holds the line NextLine returned last, the
  // unread bytes being copied to a new one: that line's view stays valid in
  // the string returned, so a very long line need not be copied. A reader
  // over memory owns no buffer and returns the empty string.
  std::string TakeBuffer();

  // The number of the line that NextLine returned last, counting from 1.
  int64_t line_number() const { return line_number_; }
  // Whether reading the file failed; what was read before stays.
  bool read_failed() const { return read_failed_; }

  static constexpr size_t kDefaultChunkSize = size_t{1} << 18;

 private:
  // Reads more bytes behind the unread ones. False when there are none.
  bool Fill();

  FileSystem* files_ = nullptr;
  int fd_ = -1;
  size_t chunk_size_ = 0;
  std::string buffer_;
  std::string_view unread_;  // the bytes not yet handed out as lines
  bool source_done_ = true;  // no more bytes will come from the source
  bool read_failed_ = false;
  bool ends_at_byte_26_ = true;
  int64_t line_number_ = 0;
};

}  // namespace vorlex::core

#endif  // VORLEX_PACK_LINE_READER_H_
