// The POSIX child process: outcomes, the time limit on waiting, pipes that
// no other child inherits, and writes to a child that has gone.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <string>

namespace velmora_corvane_tts::platform {
namespace {

using namespace std::chrono_literals;

std::string read_all(Channel channel) {
  std::string out;
  char buffer[256];
  for (TransferResult r; (r = read_some(channel, buffer, sizeof buffer)).count > 0;) {
    out.append(buffer, r.count);
  }
  return out;
}

TEST(Process, ExitStatusesSignalsAndTimeLimits) {
  Child child;
  ASSERT_EQ(child.start({"/bin/sh", "-c", "read line; echo \"$line\"; echo err >&2; exit 3"}), 0);
  std::string line = "hello\n";
  std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(line.data()), line.size());
  EXPECT_EQ(write_some(child.input(), std::span(&bytes, 1)).count, line.size());
  EXPECT_EQ(read_all(child.output()), "hello\n");
  EXPECT_EQ(read_all(child.error()), "err\n");
  EXPECT_TRUE(child.wait()->exited_with(3));

  ASSERT_EQ(child.start({"/bin/sleep", "30"}), 0);
  EXPECT_EQ(child.wait(50ms), std::nullopt);
  child.kill();
  std::optional<ExitOutcome> killed = child.wait(10s);
  ASSERT_TRUE(killed.has_value());
  EXPECT_EQ(killed->kind, ExitOutcome::Kind::kEnded);
  EXPECT_EQ(killed->code, 9);

  EXPECT_NE(child.start({"/nonexistent/program"}), 0);
}

TEST(Process, OneChildsPipesDoNotLeakIntoTheNext) {
  Child first, second;
  ASSERT_EQ(first.start({"/bin/cat"}), 0);
  // If the second child inherited the first one's input pipe, closing ours
  // would not end the first child's input.
  ASSERT_EQ(second.start({"/bin/sleep", "30"}), 0);
  first.close_input();
  std::optional<ExitOutcome> end = first.wait(5s);
  ASSERT_TRUE(end.has_value()) << "the first child's input did not end";
  EXPECT_TRUE(end->exited_with(0));
}

// An application that keeps SIGPIPE's default (its own writes to a closed
// pipe end it) keeps it with children started, and a write to a child that
// has gone fails instead of ending the process.
TEST(Process, AWriteToAChildThatHasGoneFailsAndSigpipeStaysTheApplications) {
  auto* previous = ::signal(SIGPIPE, SIG_DFL);
  Child child;
  ASSERT_EQ(child.start({"/bin/true"}), 0);
  ASSERT_TRUE(child.wait(10s).has_value());
  const std::string bytes = "after the end";
  std::span<const uint8_t> part(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  EXPECT_EQ(write_to_child(child.input(), std::span(&part, 1)).error, EPIPE);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "the write left a SIGPIPE pending";
  EXPECT_EQ(::signal(SIGPIPE, previous), SIG_DFL) << "starting a child changed SIGPIPE's handling";
}

}  // namespace
}  // namespace velmora_corvane_tts::platform
