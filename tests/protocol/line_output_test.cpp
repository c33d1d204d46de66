// write_json_line against a real standard output: redirected to a pipe while
// the test body runs, restored before anything is asserted.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "protocol/json_writer.h"

namespace qm {
namespace {

// Points STDOUT_FILENO at another descriptor for the lifetime of the object.
class StdoutRedirect {
 public:
  explicit StdoutRedirect(int fd) {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    if (fd >= 0) {
      ::dup2(fd, STDOUT_FILENO);
    } else {
      ::close(STDOUT_FILENO);
    }
  }
  ~StdoutRedirect() {
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }

 private:
  int saved_;
};

std::string read_all(int fd) {
  std::string data;
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return data;
    data.append(chunk, static_cast<std::size_t>(n));
  }
}

TEST(LineOutput, LinesFromManyThreadsArriveWholeAndNeverInterleave) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  std::string output;
  std::thread reader([&] { output = read_all(fds[0]); });
  constexpr int kThreads = 4;
  constexpr int kLines = 40;
  {
    StdoutRedirect redirect(fds[1]);
    ::close(fds[1]);
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
      writers.emplace_back([t] {
        for (int i = 0; i < kLines; ++i) {
          // Lines well beyond the pipe's atomic write size, so they need several writes.
          const std::string filler(static_cast<std::size_t>(1000 + (i % 5) * 40000), static_cast<char>('a' + t));
          write_json_line(JsonObject{{"thread", t}, {"line", i}, {"filler", filler}});
        }
      });
    }
    for (auto& writer : writers) writer.join();
  }
  reader.join();
  ::close(fds[0]);

  std::map<std::string, int> seen;
  std::size_t start = 0;
  int lines = 0;
  while (start < output.size()) {
    const std::size_t end = output.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "output ends inside a line";
    const std::string line = output.substr(start, end - start);
    start = end + 1;
    ++lines;
    // Each line is exactly what one call wrote.
    const std::size_t t_at = line.find("\"thread\":");
    const std::size_t i_at = line.find("\"line\":");
    ASSERT_NE(t_at, std::string::npos);
    ASSERT_NE(i_at, std::string::npos);
    const int t = std::stoi(line.substr(t_at + 9));
    const int i = std::stoi(line.substr(i_at + 7));
    const std::string filler(static_cast<std::size_t>(1000 + (i % 5) * 40000), static_cast<char>('a' + t));
    ASSERT_EQ(line, to_json(JsonObject{{"thread", t}, {"line", i}, {"filler", filler}}));
    ++seen[std::to_string(t) + ":" + std::to_string(i)];
  }
  EXPECT_EQ(lines, kThreads * kLines);
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLines));
}

TEST(LineOutput, AFailedWriteIsIgnoredAndTheNextLineIsAttempted) {
  std::signal(SIGPIPE, SIG_IGN);  // as the engine does at start-up
  int closed_reader[2];
  ASSERT_EQ(::pipe2(closed_reader, O_CLOEXEC), 0);
  ::close(closed_reader[0]);
  {
    StdoutRedirect redirect(closed_reader[1]);
    write_json_line(JsonObject{{"lost", true}});
  }
  ::close(closed_reader[1]);
  {
    StdoutRedirect redirect(-1);  // no standard output at all
    write_json_line(JsonObject{{"lost", true}});
  }

  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  {
    StdoutRedirect redirect(fds[1]);
    write_json_line(JsonObject{{"kept", 1}});
    write_line("{\"raw\":2}\n");
  }
  ::close(fds[1]);
  const std::string output = read_all(fds[0]);
  ::close(fds[0]);
  EXPECT_EQ(output, "{\"kept\":1}\n{\"raw\":2}\n");
}

TEST(LineOutput, TheOutputLockIsReentrant) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  {
    StdoutRedirect redirect(fds[1]);
    std::lock_guard outer(output_lock());
    write_json_line(JsonValue("inside"));  // would deadlock with a plain mutex
  }
  ::close(fds[1]);
  const std::string output = read_all(fds[0]);
  ::close(fds[0]);
  EXPECT_EQ(output, "\"inside\"\n");
}

}  // namespace
}  // namespace qm
