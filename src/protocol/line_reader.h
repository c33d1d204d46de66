#pragma once
#include <cstddef>
#include <string_view>
#include <vector>

namespace qm {

// The one buffered reader of the request input: reads large chunks with read(2)
// and hands out lines without copying them. A line is the bytes up to the next
// line feed (the line feed and one carriage return before it removed) or, at
// the end of input, the bytes after the last line feed. Lines have no length
// limit; the buffer grows to hold the longest one.
class LineReader {
 public:
  static constexpr std::size_t kDefaultBufferSize = std::size_t{1} << 16;

  // Does not take ownership of fd.
  explicit LineReader(int fd, std::size_t buffer_size = kDefaultBufferSize);

  // The next line, valid until the next call; false at end of input or on a
  // read failure (EINTR is retried; a non-blocking fd is waited on).
  bool next_line(std::string_view& line);

 private:
  // Reads more bytes after end_; false at end of input or on failure (failed_ set).
  bool fill();

  int fd_;
  std::size_t initial_size_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;  // first byte of the next line
  std::size_t end_ = 0;    // end of the bytes read
  std::size_t scan_ = 0;   // bytes before this hold no line feed
  bool ended_ = false;
  bool failed_ = false;  // input ended by a read failure
};

}  // namespace qm
