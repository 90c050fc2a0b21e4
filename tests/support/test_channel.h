// Files and pipes as platform::Channel values (POSIX descriptors, Windows
// handles), for the tests of code that reads and writes channels; and what
// the platform layer reports for the two failures those tests provoke.
#ifndef VELMORA_CORVANE_TTS_TESTS_SUPPORT_TEST_CHANNEL_H_
#define VELMORA_CORVANE_TTS_TESTS_SUPPORT_TEST_CHANNEL_H_

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace velmora_corvane_tts::testing {

// One open channel, closed by the destructor or by close().
class OwnedChannel {
 public:
  OwnedChannel() = default;
  explicit OwnedChannel(platform::Channel channel) : channel_(channel), open_(true) {}
  OwnedChannel(OwnedChannel&& other) noexcept : channel_(other.channel_), open_(other.open_) {
    other.open_ = false;
  }
  OwnedChannel& operator=(OwnedChannel&&) = delete;
  OwnedChannel(const OwnedChannel&) = delete;
  OwnedChannel& operator=(const OwnedChannel&) = delete;
  ~OwnedChannel() { close(); }

  platform::Channel get() const { return channel_; }
  void close();

 private:
  platform::Channel channel_{};
  bool open_ = false;
};

struct TestPipe {
  OwnedChannel read;
  OwnedChannel write;
};

// A new pipe. Fails the current test when none can be made.
TestPipe make_pipe();

// The existing file `path`, for reading; a new (or emptied) file, for writing.
OwnedChannel open_for_reading(const std::string& path);
OwnedChannel create_for_writing(const std::string& path);

// Writes all of `data`, in pieces of `step` bytes when `step` is not 0;
// false when a write fails.
bool write_to(platform::Channel channel, std::string_view data, size_t step = 0);
// Reads until the end of input.
std::string read_to_end(platform::Channel channel);

// A channel value that names no open channel.
platform::Channel invalid_channel();

// Checks the description of a failed write to a pipe whose reader has gone,
// and of a read from invalid_channel(). On POSIX the whole text is checked;
// on Windows the error number, and that the system's text before it (in the
// system's language, and Wine's own under Wine) is there without its line
// break.
::testing::AssertionResult IsClosedPipeError(const std::string& message);
::testing::AssertionResult IsInvalidChannelError(const std::string& message);

}  // namespace velmora_corvane_tts::testing

#endif  // VELMORA_CORVANE_TTS_TESTS_SUPPORT_TEST_CHANNEL_H_
