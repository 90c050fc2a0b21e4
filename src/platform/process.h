// Starting a program as a child process with its three standard streams on
// pipes, and ending and waiting for it. Each system has its own
// implementation file (process_posix.cc, process_windows.cc). Nothing here
// names a file descriptor, a signal, fork or CreateProcess: the pipes are
// Channels, and an ended child is an ExitOutcome. Arguments and paths are
// UTF-8 (Windows converts them to UTF-16).
#ifndef VELMORA_CORVANE_TTS_PLATFORM_PROCESS_H_
#define VELMORA_CORVANE_TTS_PLATFORM_PROCESS_H_

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace velmora_corvane_tts::platform {

// How a child ended.
struct ExitOutcome {
  enum class Kind {
    kExited,  // it exited with status `code`
    kEnded,   // it was ended from outside or crashed: `code` is the signal
              // number on POSIX, the exception or termination code on Windows
  };
  Kind kind = Kind::kExited;
  int code = 0;

  bool exited_with(int status) const { return kind == Kind::kExited && code == status; }
};

struct ChildOptions {
  // The working directory of the child; empty: this process's.
  std::string working_dir;
  // Standard error written to this file (created, and truncated unless
  // `append_error`) instead of a pipe; empty: a pipe, which the caller must
  // keep reading (or close) so that the child cannot stall on a full pipe.
  std::string error_file;
  bool append_error = false;
};

// One child process and this process's ends of its pipes. The pipes are not
// inherited by other children started at the same time. Move-only; the
// destructor closes the pipes and, if the child has not been waited for,
// kills it and waits. Not thread-safe, but its channels may be read and
// written from different threads.
class Child {
 public:
  Child() = default;
  Child(Child&& other) noexcept;
  Child& operator=(Child&& other) noexcept;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();

  // Starts `argv` (argv[0] is the program's path, not searched for). 0, or
  // the operating-system error number (describe_os_error) when the pipes
  // cannot be made or the program cannot be started.
  int start(const std::vector<std::string>& argv, const ChildOptions& options = {});

  bool running() const { return started_ && !outcome_.has_value(); }

  // The child's standard input, output and error; kNoChannel once closed (and
  // standard error always, when it goes to a file).
  Channel input() const { return input_; }
  Channel output() const { return output_; }
  Channel error() const { return error_; }
  void close_input();
  void close_output();
  void close_error();

  // Ends the child at once (SIGKILL; TerminateProcess on Windows). Does
  // nothing once it has been waited for.
  void kill();

  // Waits until the child ends, at most `timeout` (none: for ever). The
  // outcome, or std::nullopt when the time ran out. Once known, the outcome
  // is kept and returned again.
  std::optional<ExitOutcome> wait(
      std::optional<std::chrono::milliseconds> timeout = std::nullopt);

  // The operating system's id of the child (for reading its statistics).
  long id() const { return id_; }

 private:
  void close_all();

  bool started_ = false;
  long id_ = -1;
  Channel input_ = kNoChannel;
  Channel output_ = kNoChannel;
  Channel error_ = kNoChannel;
  std::optional<ExitOutcome> outcome_;
#if defined(_WIN32)
  void* process_ = nullptr;  // the process's handle, owned
#endif
};

// write_some() on a child's standard input. A child that has gone makes the
// write fail (EPIPE; ERROR_NO_DATA on Windows) without ending this process,
// and the process's own handling of SIGPIPE (the application's) is left as
// it is: on POSIX the signal is blocked for the calling thread during the
// write, and the one the failed write raised is taken back.
TransferResult write_to_child(Channel input, std::span<const std::span<const uint8_t>> buffers);

// True when `channel` has bytes to read or has reached its end within
// `timeout`; false when the time ran out first.
bool wait_readable(Channel channel, std::chrono::milliseconds timeout);

}  // namespace velmora_corvane_tts::platform

#endif  // VELMORA_CORVANE_TTS_PLATFORM_PROCESS_H_
