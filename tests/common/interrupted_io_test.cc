// A read or write that a signal interrupts is repeated by the platform
// layer. Inside the helper no signal handler is installed, so this never
// happens there (signals ignored by default do not wake a blocked read, see
// the fault-injection tests); a runtime or debugger that installs one
// without SA_RESTART would make it happen, and this test installs such a
// handler to reach the retry.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace velmora_corvane_tts {
namespace {

std::atomic<int> g_interruptions{0};
void count_signal(int) { ++g_interruptions; }

class InterruptedIo : public ::testing::Test {
 protected:
  void SetUp() override {
    struct sigaction action = {};
    action.sa_handler = count_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked call fails with EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous_), 0);
    ASSERT_EQ(pipe(fds_), 0);
    g_interruptions = 0;
  }
  void TearDown() override {
    sigaction(SIGUSR1, &previous_, nullptr);
    close(fds_[0]);
    close(fds_[1]);
  }

  // Signals `target` every 5 ms for 100 ms, then runs `then`.
  static std::thread pester(pthread_t target, std::function<void()> then) {
    return std::thread([target, then] {
      for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        pthread_kill(target, SIGUSR1);
      }
      then();
    });
  }

  struct sigaction previous_ = {};
  int fds_[2] = {-1, -1};
};

TEST_F(InterruptedIo, ABlockedReadIsRepeatedAfterASignal) {
  int writer = fds_[1];
  std::thread other = pester(pthread_self(), [writer] { (void)!write(writer, "abc", 3); });
  std::array<uint8_t, 8> buffer{};
  platform::TransferResult r = platform::read_some(fds_[0], buffer.data(), buffer.size());
  other.join();
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(r.count, 3u);
  EXPECT_GT(g_interruptions.load(), 0);
}

TEST_F(InterruptedIo, ABlockedWriteIsRepeatedAfterASignal) {
  // Fill the pipe, so that the next write blocks until the reader drains it.
  int flags = fcntl(fds_[1], F_GETFL);
  fcntl(fds_[1], F_SETFL, flags | O_NONBLOCK);
  std::array<uint8_t, 4096> chunk{};
  size_t filled = 0;
  for (;;) {
    ssize_t n = write(fds_[1], chunk.data(), chunk.size());
    if (n <= 0) break;
    filled += static_cast<size_t>(n);
  }
  fcntl(fds_[1], F_SETFL, flags);
  int reader = fds_[0];
  std::thread other = pester(pthread_self(), [reader, filled] {
    std::array<uint8_t, 4096> sink{};
    size_t drained = 0;
    while (drained < filled + 1) {
      ssize_t n = read(reader, sink.data(), sink.size());
      if (n <= 0) break;
      drained += static_cast<size_t>(n);
    }
  });
  const uint8_t one = 7;
  std::array<std::span<const uint8_t>, 1> parts = {std::span<const uint8_t>(&one, 1)};
  platform::TransferResult r = platform::write_some(fds_[1], parts);
  other.join();
  EXPECT_EQ(r.error, 0);
  EXPECT_EQ(r.count, 1u);
  EXPECT_GT(g_interruptions.load(), 0);
}

}  // namespace
}  // namespace velmora_corvane_tts
