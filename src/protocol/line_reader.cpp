#include "protocol/line_reader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace qm {

LineReader::LineReader(int fd, std::size_t buffer_size, std::size_t most_bytes)
    : fd_(fd), initial_size_(buffer_size == 0 ? 1 : buffer_size), most_bytes_(most_bytes) {
  if (most_bytes_ < initial_size_) most_bytes_ = initial_size_;
  buffer_ = static_cast<char*>(std::malloc(initial_size_));
  if (!buffer_) throw std::bad_alloc();
  capacity_ = initial_size_;
}

LineReader::~LineReader() { std::free(buffer_); }

LineRead LineReader::next_line(std::string_view& line) {
  for (;;) {
    const void* found = scan_ < end_ ? std::memchr(buffer_ + scan_, '\n', end_ - scan_) : nullptr;
    if (found) {
      const std::size_t newline = static_cast<std::size_t>(static_cast<const char*>(found) - buffer_);
      const std::size_t start = begin_;
      begin_ = scan_ = newline + 1;
      if (discarding_) {
        discarding_ = false;
        return LineRead::Unheld;
      }
      std::size_t stop = newline;
      if (stop > start && buffer_[stop - 1] == '\r') --stop;
      line = std::string_view(buffer_ + start, stop - start);
      return LineRead::Line;
    }
    scan_ = end_;
    // The bytes read of a line that cannot be held are dropped as they come.
    if (discarding_) begin_ = scan_ = end_ = 0;
    if (!ended_) {
      switch (fill()) {
        case Fill::Read: continue;
        case Fill::NoRoom:
          discarding_ = true;
          continue;
        case Fill::Ended: ended_ = true; break;
      }
    }
    // A read failure ends the input where it is; only a clean end of input
    // serves the bytes after the last line feed.
    if (discarding_) {
      discarding_ = false;
      if (!failed_) return LineRead::Unheld;
    }
    if (failed_ || begin_ == end_) return LineRead::End;
    // The last line, without a line feed, is served like any other.
    line = std::string_view(buffer_ + begin_, end_ - begin_);
    begin_ = scan_ = end_;
    return LineRead::Line;
  }
}

void LineReader::compact() {
  if (begin_ == 0) return;
  const std::size_t kept = end_ - begin_;
  if (kept > 0) std::memmove(buffer_, buffer_ + begin_, kept);
  end_ = kept;
  scan_ -= begin_;
  begin_ = 0;
  // A long line is over: give its memory back.
  if (capacity_ > 4 * initial_size_ && kept < initial_size_) {
    if (char* smaller = static_cast<char*>(std::realloc(buffer_, initial_size_))) {
      buffer_ = smaller;
      capacity_ = initial_size_;
    }
  }
}

LineReader::Fill LineReader::fill() {
  compact();
  if (end_ == capacity_) {
    // realloc, not a vector: the new room is neither cleared nor copied (a large
    // block is moved by remapping), so a long line costs about its own length.
    const std::size_t grown = capacity_ > most_bytes_ / 2 ? most_bytes_ : capacity_ * 2;
    char* larger = grown > capacity_ ? static_cast<char*>(std::realloc(buffer_, grown)) : nullptr;
    if (!larger) return Fill::NoRoom;
    buffer_ = larger;
    capacity_ = grown;
  }
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_ + end_, capacity_ - end_);
    if (got > 0) {
      end_ += static_cast<std::size_t>(got);
      return Fill::Read;
    }
    if (got == 0) return Fill::Ended;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd pfd{fd_, POLLIN, 0};
      if (::poll(&pfd, 1, -1) >= 0 || errno == EINTR) continue;
    }
    failed_ = true;
    return Fill::Ended;
  }
}

}  // namespace qm
