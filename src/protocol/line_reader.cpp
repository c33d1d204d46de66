#include "protocol/line_reader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qm {

LineReader::LineReader(int fd, std::size_t buffer_size)
    : fd_(fd), initial_size_(buffer_size == 0 ? 1 : buffer_size), buffer_(initial_size_) {}

bool LineReader::next_line(std::string_view& line) {
  for (;;) {
    const void* found = scan_ < end_ ? std::memchr(buffer_.data() + scan_, '\n', end_ - scan_) : nullptr;
    if (found) {
      const std::size_t newline = static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.data());
      std::size_t stop = newline;
      if (stop > begin_ && buffer_[stop - 1] == '\r') --stop;
      line = std::string_view(buffer_.data() + begin_, stop - begin_);
      begin_ = scan_ = newline + 1;
      return true;
    }
    scan_ = end_;
    if (ended_ || !fill()) {
      ended_ = true;
      // A read failure ends the input where it is; only a clean end of input
      // serves the bytes after the last line feed.
      if (failed_ || begin_ == end_) return false;
      // The last line, without a line feed, is served like any other.
      line = std::string_view(buffer_.data() + begin_, end_ - begin_);
      begin_ = scan_ = end_;
      return true;
    }
  }
}

bool LineReader::fill() {
  // Move the partial line to the front, or grow when it fills the buffer.
  if (begin_ > 0) {
    const std::size_t kept = end_ - begin_;
    if (kept > 0) std::memmove(buffer_.data(), buffer_.data() + begin_, kept);
    end_ = kept;
    scan_ -= begin_;
    begin_ = 0;
    // A long line is over: give its memory back.
    if (buffer_.size() > 4 * initial_size_ && kept < initial_size_) {
      std::vector<char>(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(kept)).swap(buffer_);
      buffer_.resize(initial_size_);
    }
  }
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (got > 0) {
      end_ += static_cast<std::size_t>(got);
      return true;
    }
    if (got == 0) return false;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd pfd{fd_, POLLIN, 0};
      if (::poll(&pfd, 1, -1) >= 0 || errno == EINTR) continue;
    }
    failed_ = true;
    return false;
  }
}

}  // namespace qm
