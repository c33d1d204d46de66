// Widening standard output's pipe, against real pipes and other descriptors.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/output_pipe.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

struct Pipe {
  int ends[2] = {-1, -1};
  Pipe() { EXPECT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0); }
  ~Pipe() {
    ::close(ends[0]);
    ::close(ends[1]);
  }
};

TEST(OutputPipe, APipeIsWidenedSoThatAMegabyteFitsWithoutAReader) {
  Pipe pipe;
  ASSERT_LT(::fcntl(pipe.ends[1], F_GETPIPE_SZ), static_cast<int>(kOutputPipeBytes));
  EXPECT_EQ(widen_output_pipe(pipe.ends[1]), kOutputPipeBytes);
  EXPECT_EQ(::fcntl(pipe.ends[0], F_GETPIPE_SZ), static_cast<int>(kOutputPipeBytes));
  // Non-blocking: a pipe that still held 64 KiB would take only part of it.
  const std::vector<char> reply(kOutputPipeBytes, 'x');
  EXPECT_EQ(::write(pipe.ends[1], reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
}

TEST(OutputPipe, DescriptorsThatAreNoPipeAreLeftAlone) {
  test::TempDir dir;
  const std::string path = dir.path() + "/reply.txt";
  const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  int sockets[2] = {-1, -1};
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets), 0);
  for (const int fd : {file, null, sockets[0], -1}) {
    SCOPED_TRACE(fd);
    EXPECT_EQ(widen_output_pipe(fd), 0u);
  }
  EXPECT_EQ(::lseek(file, 0, SEEK_END), 0);
  for (const int fd : {file, null, sockets[0], sockets[1]}) ::close(fd);
}

}  // namespace
}  // namespace qm
