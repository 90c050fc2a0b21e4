#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <utility>

extern char** environ;

namespace velmora_corvane_tts::platform {
namespace {

ExitOutcome outcome_of(int status) {
  if (WIFSIGNALED(status)) return {ExitOutcome::Kind::kEnded, WTERMSIG(status)};
  return {ExitOutcome::Kind::kExited, WEXITSTATUS(status)};
}

}  // namespace

TransferResult write_to_child(Channel input, std::span<const std::span<const uint8_t>> buffers) {
  sigset_t pipe_signal, pending, previous;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  TransferResult result = write_some(input, buffers);
  if (result.error == EPIPE && !was_pending) {
    const timespec now{0, 0};
    while (::sigtimedwait(&pipe_signal, nullptr, &now) == -1 && errno == EINTR) {
    }
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return result;
}

Child::Child(Child&& other) noexcept { *this = std::move(other); }

Child& Child::operator=(Child&& other) noexcept {
  if (this != &other) {
    close_all();
    started_ = std::exchange(other.started_, false);
    id_ = std::exchange(other.id_, -1);
    input_ = std::exchange(other.input_, kNoChannel);
    output_ = std::exchange(other.output_, kNoChannel);
    error_ = std::exchange(other.error_, kNoChannel);
    outcome_ = std::exchange(other.outcome_, std::nullopt);
  }
  return *this;
}

Child::~Child() { close_all(); }

void Child::close_all() {
  close_input();
  close_output();
  close_error();
  if (running()) {
    kill();
    wait();
  }
}

int Child::start(const std::vector<std::string>& argv, const ChildOptions& options) {
  close_all();
  *this = Child();
  // Close-on-exec: a child that another thread starts at the same time must
  // not hold these pipes open (it would keep this child's input or output
  // from ending). dup2 gives this child its own three without the flag.
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  bool err_pipe = options.error_file.empty();
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 ||
      (err_pipe && pipe2(err, O_CLOEXEC) != 0)) {
    int error = errno;
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close_channel(fd);
    return error;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (err_pipe) {
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, options.error_file.c_str(),
                                     O_WRONLY | O_CREAT | (options.append_error ? O_APPEND : O_TRUNC),
                                     0600);
  }
  if (!options.working_dir.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.working_dir.c_str());
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = args[0] == nullptr ? EINVAL
                              : posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  for (int* fd : {&in[0], &out[1], &err[1]}) close_channel(*fd);
  if (rc != 0) {
    for (int* fd : {&in[1], &out[0], &err[0]}) close_channel(*fd);
    return rc;
  }
  started_ = true;
  id_ = pid;
  input_ = in[1];
  output_ = out[0];
  error_ = err[0];
  return 0;
}

void Child::close_input() { close_channel(input_); }
void Child::close_output() { close_channel(output_); }
void Child::close_error() { close_channel(error_); }

void Child::kill() {
  if (running()) ::kill(static_cast<pid_t>(id_), SIGKILL);
}

std::optional<ExitOutcome> Child::wait(std::optional<std::chrono::milliseconds> timeout) {
  if (!started_ || outcome_.has_value()) return outcome_;
  const auto deadline = std::chrono::steady_clock::now() + timeout.value_or(std::chrono::milliseconds(0));
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(static_cast<pid_t>(id_), &status, timeout.has_value() ? WNOHANG : 0);
    if (r == static_cast<pid_t>(id_)) {
      outcome_ = outcome_of(status);
      return outcome_;
    }
    if (r < 0 && errno != EINTR) {
      // Not our child any more (reaped elsewhere): nothing more to learn.
      outcome_ = ExitOutcome{ExitOutcome::Kind::kEnded, 0};
      return outcome_;
    }
    if (r == 0) {
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
}

bool wait_readable(Channel channel, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{channel, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return true;  // the read that follows reports it
  }
}

}  // namespace velmora_corvane_tts::platform
