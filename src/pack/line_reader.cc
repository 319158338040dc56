#include "pack/line_reader.h"

#include <cerrno>
#include <cstring>

#include "base/file_io.h"
#include "extract/text_writer.h"

namespace vorlex::core {
namespace {

// The text up to its first byte 26, and whether there was one.
bool CutAtEndOfText(std::string_view* text) {
  const size_t end = text->find(kEndOfText);
  if (end == std::string_view::npos) return false;
  *text = text->substr(0, end);
  return true;
}

}  // namespace

LineReader::LineReader(std::string_view text) : unread_(text) {
  CutAtEndOfText(&unread_);
}

LineReader::LineReader(FileSystem& files, int fd, size_t chunk_size, bool utf8)
    : files_(&files),
      fd_(fd),
      chunk_size_(chunk_size == 0 ? 1 : chunk_size),
      source_done_(fd < 0),
      ends_at_byte_26_(!utf8) {}

bool LineReader::Fill() {
  if (source_done_) return false;
  // Keep the unread bytes, moved to the front, and read behind them.
  const size_t kept = unread_.size();
  if (kept > 0 && unread_.data() != buffer_.data()) {
    std::memmove(buffer_.data(), unread_.data(), kept);
  }
  if (buffer_.size() < kept + chunk_size_) buffer_.resize(kept + chunk_size_);
  while (true) {
    const ssize_t got =
        files_->Read(fd_, buffer_.data() + kept, buffer_.size() - kept);
    if (got < 0 && errno == EINTR) continue;
    std::string_view fresh;
    if (got > 0) {
      fresh = std::string_view(buffer_.data() + kept, static_cast<size_t>(got));
      if (ends_at_byte_26_ && CutAtEndOfText(&fresh)) source_done_ = true;
    } else {
      source_done_ = true;
      read_failed_ = got < 0;
    }
    unread_ = std::string_view(buffer_.data(), kept + fresh.size());
    return !fresh.empty();
  }
}

bool LineReader::AtEnd() {
  while (unread_.empty()) {
    if (!Fill()) return true;
  }
  return false;
}

std::string_view LineReader::NextLine() {
  if (AtEnd()) return {};
  size_t end = unread_.find('\n');
  while (end == std::string_view::npos && !source_done_) {
    const size_t searched = unread_.size();
    Fill();
    end = unread_.find('\n', searched);
  }
  ++line_number_;
  std::string_view line;
  if (end == std::string_view::npos) {
    line = unread_;
    unread_ = {};
    return line;
  }
  line = unread_.substr(0, end);
  unread_.remove_prefix(end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

void LineReader::ReleaseSpareRoom() {
  if (files_ == nullptr || buffer_.capacity() <= 4 * chunk_size_) return;
  std::string kept(unread_);
  buffer_ = std::move(kept);
  unread_ = buffer_;
}

std::string LineReader::TakeBuffer() {
  if (files_ == nullptr) return {};
  std::string taken = std::move(buffer_);
  buffer_.assign(unread_);  // still in `taken`
  unread_ = buffer_;
  return taken;
}

}  // namespace vorlex::core
