#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/test_channel.h"

namespace velmora_corvane_tts::testing {

void OwnedChannel::close() {
  if (open_) ::close(channel_);
  open_ = false;
}

TestPipe make_pipe() {
  // A write to a pipe without a reader must fail, not end the test.
  ::signal(SIGPIPE, SIG_IGN);
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2: " << std::strerror(errno);
    return {};
  }
  return {OwnedChannel(fds[0]), OwnedChannel(fds[1])};
}

OwnedChannel open_for_reading(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ADD_FAILURE() << "open " << path << ": " << std::strerror(errno);
  return fd < 0 ? OwnedChannel() : OwnedChannel(fd);
}

OwnedChannel create_for_writing(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) ADD_FAILURE() << "open " << path << ": " << std::strerror(errno);
  return fd < 0 ? OwnedChannel() : OwnedChannel(fd);
}

bool write_to(platform::Channel channel, std::string_view data, size_t step) {
  while (!data.empty()) {
    size_t chunk = step == 0 ? data.size() : std::min(step, data.size());
    ssize_t n = ::write(channel, data.data(), chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string read_to_end(platform::Channel channel) {
  std::string out;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(channel, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return out;
    out.append(buffer, static_cast<size_t>(n));
  }
}

platform::Channel invalid_channel() { return -1; }

namespace {

::testing::AssertionResult is(const std::string& message, const std::string& want) {
  if (message == want) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << message << "\" is not \"" << want << "\"";
}

}  // namespace

::testing::AssertionResult IsClosedPipeError(const std::string& message) {
  return is(message, "Broken pipe (os error 32)");
}

::testing::AssertionResult IsInvalidChannelError(const std::string& message) {
  return is(message, "Bad file descriptor (os error 9)");
}

}  // namespace velmora_corvane_tts::testing
