// One run of the helper as a child of the client library: its three pipes,
// a thread that reads its standard output and hands the bytes on, a thread
// that reads its standard error line by line, and a watchdog that ends the
// helper when an awaited answer or a write is late. Synthesizer and
// Recognizer each keep one at a time and replace it when it has ended.
//
// Thread safety: write(), expect_reply_by(), no_reply_expected() and
// mark_stderr() are safe from several threads. The handlers run on the
// output thread.
// Lifetime: the destructor closes the helper's input, gives it a moment to
// end, ends it otherwise, and joins the threads; it must not run on the
// output thread (from a handler).
#ifndef VELMORA_CORVANE_TTS_CLIENT_HELPER_SESSION_H_
#define VELMORA_CORVANE_TTS_CLIENT_HELPER_SESSION_H_

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "client/restart_policy.h"
#include "platform/process.h"
#include "velmora_corvane/error.h"
#include "velmora_corvane/helper_options.h"

namespace velmora_corvane {

// How a run of the helper ended while something was awaited from it.
struct HelperEnd {
  ErrorKind kind = ErrorKind::kHelperExited;  // or kTimedOut
  std::string description;                    // "The helper exited with status 255", ...
  std::vector<std::string> stderr_lines;      // since the last mark_stderr()
  Error error() const { return Error(kind, description, stderr_lines); }
};

// The English description of how a helper ended: its exit status or its
// signal, with the fatal line when it exited with status 1.
std::string describe_helper_end(const velmora_corvane_tts::platform::ExitOutcome& outcome,
                                const std::vector<std::string>& stderr_lines);

class HelperSession {
 public:
  using Clock = std::chrono::steady_clock;
  // Bytes of standard output as they arrive.
  using OutputHandler = std::function<void(std::string_view bytes)>;
  // Once, after standard output and standard error have ended and the
  // helper has been waited for.
  using EndHandler = std::function<void(const HelperEnd& end)>;

  // Starts `argv` (argv[0]: the program). kHelperUnavailable when it cannot
  // be started.
  static Result<std::unique_ptr<HelperSession>> start(const std::vector<std::string>& argv,
                                                      const HelperOptions& options,
                                                      OutputHandler on_output, EndHandler on_end);
  ~HelperSession();
  HelperSession(const HelperSession&) = delete;
  HelperSession& operator=(const HelperSession&) = delete;

  // Writes all of `bytes` to the helper's input, one writer at a time; with a
  // timeout set, a write that does not finish within it ends the helper.
  // False when the helper no longer reads (it has ended or is ending).
  bool write(std::string_view bytes);

  // An answer is awaited by `deadline` (later calls replace it); with no
  // timeout set, nothing is armed.
  void expect_reply_by(Clock::time_point deadline);
  void no_reply_expected();
  // Lines written to standard error before now are not reported with a
  // later end.
  void mark_stderr();
  // True once the helper has ended (the end handler has run or is running).
  bool ended() const { return ended_.load(); }

 private:
  HelperSession(const HelperOptions& options, OutputHandler on_output, EndHandler on_end);
  void read_output();
  void read_errors();

  const HelperOptions options_;
  OutputHandler on_output_;
  EndHandler on_end_;

  std::mutex child_mutex_;  // guards child_ (kill, wait, close)
  velmora_corvane_tts::platform::Child child_;
  velmora_corvane_tts::platform::Channel input_;
  velmora_corvane_tts::platform::Channel output_;
  velmora_corvane_tts::platform::Channel errors_;

  std::mutex write_mutex_;  // one writer at a time

  std::mutex deadline_mutex_;
  std::optional<Clock::time_point> reply_deadline_;
  std::optional<Clock::time_point> write_deadline_;
  bool timed_out_ = false;  // the watchdog ended the helper

  std::mutex lines_mutex_;
  std::deque<std::string> lines_;  // since the last mark, the latest kept

  std::atomic<bool> ended_{false};
  std::atomic<bool> closing_{false};  // the destructor runs: no end handler
  std::thread output_thread_;
  std::thread error_thread_;
};

// The helper program that `options` names: its own path, or the helper
// beside the running program. kHelperUnavailable when that cannot be found.
Result<std::string> helper_program(const HelperOptions& options);

// Starts a new run of the helper that `options` names, with `mode_args` after
// the program, unless `policy` holds starts back now (kHelperUnavailable,
// saying for how long). Tells `policy` of the start, and of a failed one.
Result<std::unique_ptr<HelperSession>> start_helper(RestartPolicy& policy,
                                                    const HelperOptions& options,
                                                    const std::vector<std::string>& mode_args,
                                                    HelperSession::OutputHandler on_output,
                                                    HelperSession::EndHandler on_end);

}  // namespace velmora_corvane

#endif  // VELMORA_CORVANE_TTS_CLIENT_HELPER_SESSION_H_
