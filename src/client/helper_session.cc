#include "client/helper_session.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/platform.h"

namespace velmora_corvane {

namespace platform = velmora_corvane_tts::platform;

namespace {

// Standard error lines kept for an error report: the latest ones.
constexpr size_t kKeptLines = 64;
// Longest line handed on; a longer one is cut (a flood of one line must not
// grow without bound).
constexpr size_t kMaxLineBytes = 4096;
// How often the output thread looks at the deadlines while it waits.
constexpr std::chrono::milliseconds kWatchInterval{50};
// How long the destructor waits for a helper whose input it closed.
constexpr std::chrono::milliseconds kCloseGrace{2000};

constexpr std::string_view kFatalPrefix = "Corvane voice helper: ";

}  // namespace

std::string describe_helper_end(const platform::ExitOutcome& outcome,
                                const std::vector<std::string>& stderr_lines) {
  if (outcome.kind == platform::ExitOutcome::Kind::kEnded) {
    return "The helper was ended by " + platform::describe_end_code(outcome.code);
  }
  std::string text = "The helper exited with status " + std::to_string(outcome.code);
  if (outcome.code == 1) {
    for (auto line = stderr_lines.rbegin(); line != stderr_lines.rend(); ++line) {
      if (line->starts_with(kFatalPrefix)) return text + ": " + line->substr(kFatalPrefix.size());
    }
  }
  return text;
}

Result<std::string> helper_program(const HelperOptions& options) {
  if (!options.helper_path.empty()) return options.helper_path;
  std::optional<std::string> self = platform::executable_path();
  if (!self) {
    return Error(ErrorKind::kHelperUnavailable,
                 "Cannot find the running program to find the helper beside it");
  }
  size_t slash = self->find_last_of("/\\");
  return self->substr(0, slash == std::string::npos ? 0 : slash + 1) + "velmora-corvane-tts" +
         std::string(platform::kProgramSuffix);
}

HelperSession::HelperSession(const HelperOptions& options, OutputHandler on_output,
                             EndHandler on_end)
    : options_(options), on_output_(std::move(on_output)), on_end_(std::move(on_end)) {}

Result<std::unique_ptr<HelperSession>> HelperSession::start(const std::vector<std::string>& argv,
                                                            const HelperOptions& options,
                                                            OutputHandler on_output,
                                                            EndHandler on_end) {
  std::unique_ptr<HelperSession> session(
      new HelperSession(options, std::move(on_output), std::move(on_end)));
  platform::ChildOptions child_options;
  child_options.working_dir = options.working_dir;
  if (int error = session->child_.start(argv, child_options); error != 0) {
    return Error(ErrorKind::kHelperUnavailable,
                 "Could not start the helper " + argv[0] + ": " + platform::describe_os_error(error));
  }
  session->input_ = session->child_.input();
  session->output_ = session->child_.output();
  session->errors_ = session->child_.error();
  session->error_thread_ = std::thread(&HelperSession::read_errors, session.get());
  session->output_thread_ = std::thread(&HelperSession::read_output, session.get());
  return session;
}

HelperSession::~HelperSession() {
  closing_ = true;
  {
    std::lock_guard lock(child_mutex_);
    child_.close_input();
  }
  // The helper ends on its own once its input is closed; one that does not
  // within the grace period is ended.
  auto until = Clock::now() + kCloseGrace;
  while (!ended_ && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  {
    std::lock_guard lock(child_mutex_);
    child_.kill();
  }
  if (output_thread_.joinable()) output_thread_.join();
  if (error_thread_.joinable()) error_thread_.join();
}

bool HelperSession::write(std::string_view bytes) {
  std::lock_guard writer(write_mutex_);
  if (options_.timeout.count() > 0) {
    std::lock_guard lock(deadline_mutex_);
    write_deadline_ = Clock::now() + options_.timeout;
  }
  bool ok = true;
  auto data = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t left = bytes.size();
  while (left > 0) {
    std::span<const uint8_t> piece(data, left);
    std::array<std::span<const uint8_t>, 1> buffers = {piece};
    platform::TransferResult r = platform::write_to_child(input_, buffers);
    if (r.error != 0 || r.count == 0) {
      ok = false;
      break;
    }
    data += r.count;
    left -= r.count;
  }
  std::lock_guard lock(deadline_mutex_);
  write_deadline_.reset();
  return ok;
}

void HelperSession::expect_reply_by(Clock::time_point deadline) {
  if (options_.timeout.count() <= 0) return;
  std::lock_guard lock(deadline_mutex_);
  reply_deadline_ = deadline;
}

void HelperSession::no_reply_expected() {
  std::lock_guard lock(deadline_mutex_);
  reply_deadline_.reset();
}

void HelperSession::mark_stderr() {
  std::lock_guard lock(lines_mutex_);
  lines_.clear();
}

void HelperSession::read_output() {
  std::vector<char> buffer(1 << 16);
  while (true) {
    std::optional<Clock::time_point> deadline;
    {
      std::lock_guard lock(deadline_mutex_);
      deadline = reply_deadline_;
      if (write_deadline_ && (!deadline || *write_deadline_ < *deadline)) deadline = write_deadline_;
    }
    if (deadline && Clock::now() >= *deadline) {
      {
        std::lock_guard lock(deadline_mutex_);
        timed_out_ = true;
        reply_deadline_.reset();
        write_deadline_.reset();
      }
      std::lock_guard lock(child_mutex_);
      child_.kill();  // its output ends, and the loop with it
    }
    if (!platform::wait_readable(output_, kWatchInterval)) continue;
    platform::TransferResult r = platform::read_some(output_, buffer.data(), buffer.size());
    if (r.error != 0 || r.count == 0) break;
    on_output_(std::string_view(buffer.data(), r.count));
  }
  platform::ExitOutcome outcome;
  {
    std::lock_guard lock(child_mutex_);
    // Output ended: the helper has ended or is ending.
    std::optional<platform::ExitOutcome> waited = child_.wait(kCloseGrace);
    if (!waited) {
      child_.kill();
      waited = child_.wait();
    }
    outcome = *waited;
  }
  if (error_thread_.joinable()) error_thread_.join();  // the rest of its lines
  HelperEnd end;
  {
    std::lock_guard lock(lines_mutex_);
    end.stderr_lines.assign(lines_.begin(), lines_.end());
  }
  {
    std::lock_guard lock(deadline_mutex_);
    if (timed_out_) {
      end.kind = ErrorKind::kTimedOut;
      end.description = "The helper did not answer within " +
                        std::to_string(options_.timeout.count()) + " ms and was ended";
    }
  }
  if (end.kind != ErrorKind::kTimedOut) end.description = describe_helper_end(outcome, end.stderr_lines);
  ended_ = true;
  if (!closing_) on_end_(end);
}

void HelperSession::read_errors() {
  std::vector<char> buffer(1 << 14);
  std::string line;
  auto emit = [&] {
    if (options_.on_stderr_line) options_.on_stderr_line(line);
    std::lock_guard lock(lines_mutex_);
    lines_.push_back(std::move(line));
    if (lines_.size() > kKeptLines) lines_.pop_front();
    line.clear();
  };
  while (true) {
    platform::TransferResult r = platform::read_some(errors_, buffer.data(), buffer.size());
    if (r.error != 0 || r.count == 0) break;
    std::string_view bytes(buffer.data(), r.count);
    while (!bytes.empty()) {
      size_t nl = bytes.find('\n');
      std::string_view part = bytes.substr(0, nl);
      if (line.size() < kMaxLineBytes) line.append(part.substr(0, kMaxLineBytes - line.size()));
      if (nl == std::string_view::npos) break;
      emit();
      bytes.remove_prefix(nl + 1);
    }
  }
  if (!line.empty()) emit();
}

Result<std::unique_ptr<HelperSession>> start_helper(RestartPolicy& policy,
                                                    const HelperOptions& options,
                                                    const std::vector<std::string>& mode_args,
                                                    HelperSession::OutputHandler on_output,
                                                    HelperSession::EndHandler on_end) {
  const auto now = RestartPolicy::Clock::now();
  if (auto wait = policy.wait_before_start(now); wait.count() > 0) {
    return Error(ErrorKind::kHelperUnavailable,
                 "The helper ended again at once; it is started again in " +
                     std::to_string(std::chrono::ceil<std::chrono::milliseconds>(wait).count()) +
                     " ms");
  }
  auto program = helper_program(options);
  if (!program.ok()) return std::move(program).error();
  std::vector<std::string> argv = {program.value()};
  argv.insert(argv.end(), mode_args.begin(), mode_args.end());
  policy.started();
  auto session = HelperSession::start(argv, options, std::move(on_output), std::move(on_end));
  if (!session.ok()) policy.ended(now);
  return session;
}

}  // namespace velmora_corvane
