#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qm {

// What LineReader::next_line found.
enum class LineRead {
  Line,    // a line, in `line`
  Unheld,  // a line too long for the memory there is (or the reader's limit): its bytes were read and dropped
  End,     // end of input, or a read failure
};

// The one buffered reader of the request input: reads large chunks with read(2)
// and hands out lines without copying them. A line is the bytes up to the next
// line feed (the line feed and one carriage return before it removed) or, at
// the end of input, the bytes after the last line feed. Lines have no length
// limit; the buffer grows to hold the longest one, and when it cannot grow
// (memory ran out) that line is read to its end and dropped, and the reader
// goes on with the next one.
class LineReader {
 public:
  static constexpr std::size_t kDefaultBufferSize = std::size_t{1} << 16;

  // Does not take ownership of fd. most_bytes bounds the buffer (a test's
  // stand-in for memory running out); throws std::bad_alloc when even the
  // first buffer cannot be had.
  explicit LineReader(int fd, std::size_t buffer_size = kDefaultBufferSize, std::size_t most_bytes = SIZE_MAX);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line, valid until the next call. End at end of input or on a read
  // failure (EINTR is retried; a non-blocking fd is waited on).
  LineRead next_line(std::string_view& line);

 private:
  enum class Fill { Read, Ended, NoRoom };
  // Reads more bytes after end_, growing the buffer when it is full.
  Fill fill();
  // Keeps only the bytes from begin_ on, at the front of the buffer.
  void compact();

  int fd_;
  std::size_t initial_size_;
  std::size_t most_bytes_;
  char* buffer_ = nullptr;  // malloc'd, so it grows with realloc and is never cleared
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0;  // first byte of the next line
  std::size_t end_ = 0;    // end of the bytes read
  std::size_t scan_ = 0;   // bytes before this hold no line feed
  bool ended_ = false;
  bool failed_ = false;      // input ended by a read failure
  bool discarding_ = false;  // inside a line that could not be held
};

}  // namespace qm
