// The child process on every system, against one small test program
// (process_test_child.cc): outcomes, the time limit on waiting, pipes that
// no other child inherits, arguments and paths that must arrive unchanged,
// and a write to a child that has gone.
#include "platform/process.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <signal.h>
#endif

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace velmora_corvane_tts::platform {
namespace {

using namespace std::chrono_literals;

// Paths from and to UTF-8.
std::filesystem::path path_of(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
std::string utf8_of(const std::filesystem::path& path) {
  std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

std::string child_program() {
  std::filesystem::path self = path_of(executable_path().value_or(""));
#if defined(_WIN32)
  return utf8_of(self.parent_path() / "process_test_child.exe");
#else
  return utf8_of(self.parent_path() / "process_test_child");
#endif
}

std::string read_all(Channel channel) {
  std::string out;
  char buffer[256];
  for (TransferResult r; (r = read_some(channel, buffer, sizeof buffer)).count > 0;) {
    out.append(buffer, r.count);
  }
  return out;
}

TransferResult write_all(Channel channel, const std::string& text) {
  std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  return write_some(channel, std::span(&bytes, 1));
}

ExitOutcome run_to_end(const std::vector<std::string>& args) {
  Child child;
  std::vector<std::string> argv = {child_program()};
  argv.insert(argv.end(), args.begin(), args.end());
  EXPECT_EQ(child.start(argv), 0);
  return child.wait(10s).value_or(ExitOutcome{ExitOutcome::Kind::kEnded, -1});
}

TEST(Process, ExitStatusesEndsAndTimeLimits) {
  Child child;
  ASSERT_EQ(child.start({child_program(), "echo", "3"}), 0);
  EXPECT_EQ(write_all(child.input(), "hello\n").count, 6u);
  child.close_input();
  EXPECT_EQ(read_all(child.output()), "hello\n");
  EXPECT_EQ(read_all(child.error()), "err\n");
  EXPECT_TRUE(child.wait()->exited_with(3));

  ASSERT_EQ(child.start({child_program(), "sleep"}), 0);
  EXPECT_EQ(child.wait(50ms), std::nullopt);
  child.kill();
  std::optional<ExitOutcome> killed = child.wait(10s);
  ASSERT_TRUE(killed.has_value());
  EXPECT_EQ(killed->kind, ExitOutcome::Kind::kEnded);
#if defined(_WIN32)
  EXPECT_EQ(describe_end_code(killed->code), "0xC000013A");
  // Exception codes are ends, not exits; exit(-1) stays an exit.
  ExitOutcome crashed = run_to_end({"exit", std::to_string(0xC0000409u)});
  EXPECT_EQ(crashed.kind, ExitOutcome::Kind::kEnded);
  EXPECT_EQ(describe_end_code(crashed.code), "0xC0000409");
  EXPECT_TRUE(run_to_end({"exit", std::to_string(0xFFFFFFFFu)}).exited_with(-1));
#else
  EXPECT_EQ(killed->code, 9);
  EXPECT_TRUE(run_to_end({"exit", std::to_string(0xFFFFFFFFu)}).exited_with(255));
#endif

  EXPECT_NE(child.start({"/nonexistent/program"}), 0);
}

TEST(Process, ChildrenStartedAtTheSameTimeDoNotHoldEachOthersPipes) {
  // While one thread keeps starting long-lived children, another starts
  // short ones: if a long-lived child inherited a short one's output pipe,
  // that output would not end when the short child exits.
  // The long-lived ones live until the end.
  std::atomic<bool> stop = false;
  std::vector<Child> sleepers;
  std::thread starter([&] {
    while (!stop && sleepers.size() < 60) {
      if (sleepers.emplace_back().start({child_program(), "sleep"}) != 0) break;
    }
  });
  for (int i = 0; i < 8; ++i) {
    Child child;
    ASSERT_EQ(child.start({child_program(), "echo", "0"}), 0);
    child.close_input();
    ASSERT_TRUE(child.wait(10s).has_value());
    char byte;
    bool ended = wait_readable(child.output(), 5s) && read_some(child.output(), &byte, 1).count == 0;
    EXPECT_TRUE(ended) << "run " << i << ": the output did not end with the child";
    if (!ended) break;
  }
  stop = true;
  starter.join();
}

TEST(Process, ArgumentsArriveUnchanged) {
  // Quotes, backslashes before quotes and at the end, white space, empty
  // arguments and non-ASCII text: what a command line must escape.
  std::vector<std::string> args = {
      "plain", "", " ", "two words", "a\"b", "\"", "a\\b", "a\\\\\"b", "trailing\\",
      "trailing two\\\\", "\\\"quoted\\\"", "tab\there", "line\nbreak", "%PATH% ^&|<>*?",
      "Grüße ✓ 日本", "ends with quote\""};
  Child child;
  std::vector<std::string> argv = {child_program(), "args"};
  argv.insert(argv.end(), args.begin(), args.end());
  ASSERT_EQ(child.start(argv), 0);
  child.close_input();
  std::string expected;
  for (const auto& arg : args) expected += arg + '\0';
  EXPECT_EQ(read_all(child.output()), expected);
  EXPECT_TRUE(child.wait(10s)->exited_with(0));
}

TEST(Process, NonAsciiProgramWorkingDirectoryAndErrorFile) {
  testing::TempDir temp;
  std::filesystem::path dir = path_of(temp.path()) / path_of("Prüfung ✓");
  std::filesystem::create_directory(dir);
  std::filesystem::path program = dir / path_of(child_program()).filename();
  std::filesystem::copy_file(path_of(child_program()), program);
  ChildOptions options;
  options.working_dir = utf8_of(dir);
  options.error_file = utf8_of(dir / path_of("Fehler ü.txt"));
  // Created, appended to, truncated.
  for (auto [append, expected] : {std::pair{false, "err\n"}, {true, "err\nerr\n"}, {false, "err\n"}}) {
    options.append_error = append;
    Child child;
    ASSERT_EQ(child.start({utf8_of(program), "cwd"}, options), 0);
    EXPECT_EQ(child.error(), kNoChannel);
    EXPECT_EQ(read_all(child.output()), "Prüfung ✓");
    EXPECT_TRUE(child.wait(10s)->exited_with(0));
    std::ifstream in(path_of(options.error_file), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), expected) << "append " << append;
  }
}

// A write to a child that has gone fails instead of ending this process. On
// POSIX an application that keeps SIGPIPE's default (its own writes to a
// closed pipe end it) keeps it with children started, and no SIGPIPE is
// left pending; Windows has no such signal.
TEST(Process, AWriteToAChildThatHasGoneFailsAndThisProcessGoesOn) {
#if !defined(_WIN32)
  auto* previous = ::signal(SIGPIPE, SIG_DFL);
#endif
  Child child;
  ASSERT_EQ(child.start({child_program(), "exit", "0"}), 0);
  ASSERT_TRUE(child.wait(10s)->exited_with(0));
  const std::string bytes(100000, 'x');
  std::span<const uint8_t> part(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  TransferResult r = write_to_child(child.input(), std::span(&part, 1));
#if defined(_WIN32)
  // ERROR_NO_DATA (232) on Windows; Wine says ERROR_BROKEN_PIPE (109).
  EXPECT_TRUE(r.error == 232 || r.error == 109) << describe_os_error(r.error);
#else
  EXPECT_EQ(r.error, EPIPE);
  sigset_t pending;
  sigpending(&pending);
  EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "the write left a SIGPIPE pending";
  EXPECT_EQ(::signal(SIGPIPE, previous), SIG_DFL) << "starting a child changed SIGPIPE's handling";
#endif
}

}  // namespace
}  // namespace velmora_corvane_tts::platform
