#include "protocol/line_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace qm {
namespace {

// Every line, and "<unheld>" for each line the reader could not hold.
std::vector<std::string> all_lines(int fd, std::size_t buffer_size, std::size_t most_bytes = SIZE_MAX) {
  LineReader reader(fd, buffer_size, most_bytes);
  std::vector<std::string> lines;
  std::string_view line;
  for (;;) {
    const LineRead read = reader.next_line(line);
    if (read == LineRead::End) break;
    lines.emplace_back(read == LineRead::Line ? std::string(line) : "<unheld>");
  }
  return lines;
}

// The lines of data as read through a pipe with the given buffer size.
std::vector<std::string> lines_of(const std::string& data, std::size_t buffer_size,
                                  std::size_t most_bytes = SIZE_MAX) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::thread writer([&] {
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::write(fds[1], data.data() + done, data.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::close(fds[1]);
  });
  std::vector<std::string> lines = all_lines(fds[0], buffer_size, most_bytes);
  writer.join();
  ::close(fds[0]);
  return lines;
}

TEST(LineReader, SplitsAtLineFeedsWhateverTheBufferSize) {
  const std::string data = "a\r\nbb\n\n" + std::string(100, 'c') + "\r\r\nmid\rdle\n\r\nlast\r";
  const std::vector<std::string> expected = {"a", "bb", "", std::string(100, 'c') + "\r", "mid\rdle", "", "last\r"};
  for (const std::size_t size : {1u, 2u, 3u, 7u, 64u, 65536u}) EXPECT_EQ(lines_of(data, size), expected) << size;
}

TEST(LineReader, EndsWithoutALineAfterAFinalLineFeedOrOnEmptyInput) {
  EXPECT_EQ(lines_of("x\n", 4), (std::vector<std::string>{"x"}));
  EXPECT_EQ(lines_of("\n", 4), (std::vector<std::string>{""}));
  EXPECT_TRUE(lines_of("", 4).empty());
}

TEST(LineReader, ServesManyLongLinesAndShrinksBackBetweenThem) {
  std::string data;
  std::vector<std::string> expected;
  for (int i = 0; i < 6; ++i) {
    std::string line(static_cast<std::size_t>(1) << (10 + 2 * i), static_cast<char>('a' + i));
    expected.push_back(line);
    expected.push_back("short");
    data += line + "\nshort\n";
  }
  EXPECT_EQ(lines_of(data, 16), expected);
}

TEST(LineReader, ALineTooLongToHoldIsReadToItsEndAndDroppedAndTheNextLinesAreServed) {
  const std::string long_line(1000, 'x');
  struct Case {
    const char* description;
    std::string data;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"between two lines", "first\n" + long_line + "\nnext\nlast\n", {"first", "<unheld>", "next", "last"}},
      {"two in a row", long_line + "\n" + long_line + "\r\nafter\n", {"<unheld>", "<unheld>", "after"}},
      {"the last line, without a line feed", "first\n" + long_line, {"first", "<unheld>"}},
      {"one byte over the most", std::string(64, 'y') + "\nfits\n", {"<unheld>", "fits"}},
      {"exactly the most with its line feed", std::string(63, 'z') + "\nfits\n", {std::string(63, 'z'), "fits"}},
  };
  for (const Case& c : cases) {
    for (const std::size_t size : {1u, 7u, 16u}) {
      EXPECT_EQ(lines_of(c.data, size, 64), c.expected) << c.description << ", buffer " << size;
    }
  }
}

TEST(LineReader, StopsOnAReadFailure) {
  test::TempDir dir;
  const int directory = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(directory, 0);
  EXPECT_TRUE(all_lines(directory, 16).empty());  // read(2) on a directory fails with EISDIR
  ::close(directory);
}

TEST(LineReader, WaitsOnANonBlockingInputInsteadOfEndingIt) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
  std::thread writer([&] {
    // Late on purpose, so the reader finds the pipe empty first.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    (void)!::write(fds[1], "one\ntw", 6);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    (void)!::write(fds[1], "o\n", 2);
    ::close(fds[1]);
  });
  const std::vector<std::string> lines = all_lines(fds[0], 4);
  writer.join();
  ::close(fds[0]);
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));
}

}  // namespace
}  // namespace qm
