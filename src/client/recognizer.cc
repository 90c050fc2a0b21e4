#include "velmora_corvane/recognizer.h"

#include <condition_variable>
#include <mutex>
#include <vector>

#include "client/audio_frames.h"
#include "client/error_kinds.h"
#include "client/helper_session.h"
#include "client/resampler.h"
#include "client/restart_policy.h"
#include "wire/wire.h"

namespace velmora_corvane {

namespace tts = velmora_corvane_tts;

namespace {

Error closed_recording() {
  return Error(ErrorKind::kRefusedLocally, "The recording is closed");
}
Error superseded_recording() {
  return Error(ErrorKind::kNoOpenRecording, "A newer recording was opened on this helper");
}

// One run of the helper in stream mode.
struct StreamRun {
  std::unique_ptr<HelperSession> session;
  tts::wire::StreamReplyReader replies;
  bool ended = false;
};

}  // namespace

// The helper and the one recording open on it. Recordings call in with
// their id; every reply is taken by the session's output thread.
class Recognizer::Impl {
 public:
  explicit Impl(HelperOptions options)
      : options_(std::move(options)),
        policy_(options_.restart_delay, options_.max_restart_delay) {}

  void shut_down() {
    std::shared_ptr<StreamRun> run;
    {
      std::lock_guard lock(mutex_);
      shut_down_ = true;
      run = std::move(run_);
      open_id_ = 0;
      cv_.notify_all();
    }
  }

  Result<uint64_t> open(std::string_view model_id, std::string_view model_dir,
                        std::optional<std::string_view> language,
                        std::function<void(std::string_view)> on_partial) {
    if (language && language->find('\0') != std::string_view::npos) {
      return Error(ErrorKind::kRefusedLocally, "The language holds a NUL character");
    }
    std::string payload = tts::wire::open_request_json(model_id, model_dir, language);
    if (payload.size() > tts::kMaxOpenRequestBytes) {
      return Error(ErrorKind::kRefusedLocally,
                   "The open request of " + std::to_string(payload.size()) +
                       " bytes is over the helper's limit of " +
                       std::to_string(tts::kMaxOpenRequestBytes) + " bytes");
    }
    std::unique_lock lock(mutex_);
    auto run = current_run(lock);
    if (!run.ok()) return std::move(run).error();
    std::shared_ptr<StreamRun> r = std::move(run).value();
    uint64_t id = next_id_++;
    open_id_ = id;
    on_partial_ = std::move(on_partial);
    failure_.reset();
    auto answer = await(lock, r, id, tts::wire::stream_frame(tts::kOpenTag, id, payload));
    if (!answer.ok()) return std::move(answer).error();
    return id;
  }

  Result<void> feed(uint64_t id, std::span<const float> samples) {
    std::unique_lock lock(mutex_);
    auto r = run_for(id);
    if (!r.ok()) return std::move(r).error();
    std::shared_ptr<StreamRun> run = std::move(r).value();
    lock.unlock();
    bool written = true;
    for_each_audio_payload(samples, tts::kMaxStreamFrameBytes, [&](std::span<const uint8_t> p) {
      if (!written) return;
      std::string_view bytes(reinterpret_cast<const char*>(p.data()), p.size());
      written = run->session->write(tts::wire::stream_frame(tts::kAudioTag, id, bytes));
    });
    if (written) return {};
    // The helper has gone: its end says why.
    lock.lock();
    cv_.wait(lock, [&] { return run->ended || shut_down_; });
    return failure_for(id);
  }

  Result<std::string> finish(uint64_t id) {
    std::unique_lock lock(mutex_);
    auto r = run_for(id);
    if (!r.ok()) return std::move(r).error();
    auto answer = await(lock, r.value(), id, tts::wire::stream_frame(tts::kFinishTag, id));
    if (open_id_ == id) open_id_ = 0;
    return answer;
  }

  Result<void> cancel(uint64_t id) {
    std::unique_lock lock(mutex_);
    auto r = run_for(id);
    if (!r.ok()) return std::move(r).error();
    std::shared_ptr<StreamRun> run = std::move(r).value();
    open_id_ = 0;
    lock.unlock();
    run->session->write(tts::wire::stream_frame(tts::kCancelTag, id));
    return {};
  }

 private:
  // The run serving recording `id`, or why there is none. mutex_ held.
  Result<std::shared_ptr<StreamRun>> run_for(uint64_t id) {
    if (failure_ && failed_id_ == id) return *failure_;
    if (shut_down_) return Error(ErrorKind::kHelperExited, "The recognizer was destroyed");
    if (id != open_id_ || !run_ || run_->ended) return superseded_recording();
    return run_;
  }

  Error failure_for(uint64_t id) {
    if (failure_ && failed_id_ == id) return *failure_;
    return Error(ErrorKind::kHelperExited, "The helper stopped reading its input");
  }

  // Writes `frame` and waits for the Opened or Final reply to recording
  // `id` (its text), or its Error reply, or the helper's end.
  Result<std::string> await(std::unique_lock<std::mutex>& lock, std::shared_ptr<StreamRun> run,
                            uint64_t id, const std::string& frame) {
    awaited_id_ = id;
    answer_.reset();
    run->session->mark_stderr();
    run->session->expect_reply_by(HelperSession::Clock::now() + options_.timeout);
    lock.unlock();
    run->session->write(frame);  // a failure shows as the helper's end
    lock.lock();
    cv_.wait(lock, [&] { return answer_.has_value() || run->ended || shut_down_; });
    awaited_id_ = 0;
    if (answer_) {
      Result<std::string> answer = std::move(*answer_);
      answer_.reset();
      return answer;
    }
    if (shut_down_) return Error(ErrorKind::kHelperExited, "The recognizer was destroyed");
    return failure_for(id);
  }

  Result<std::shared_ptr<StreamRun>> current_run(std::unique_lock<std::mutex>& lock) {
    if (shut_down_) return Error(ErrorKind::kHelperExited, "The recognizer was destroyed");
    if (run_ && run_->ended) {
      std::shared_ptr<StreamRun> old = std::move(run_);
      lock.unlock();
      old.reset();
      lock.lock();
    }
    if (run_) return run_;
    auto run = std::make_shared<StreamRun>();
    StreamRun* r = run.get();
    auto session = start_helper(
        policy_, options_, {"--stream-stt"},
        [this, r](std::string_view bytes) { on_output(*r, bytes); },
        [this, r](const HelperEnd& end) { on_end(*r, end); });
    if (!session.ok()) return std::move(session).error();
    run->session = std::move(session).value();
    run_ = run;
    return run;
  }

  void on_output(StreamRun& r, std::string_view bytes) {
    std::unique_lock lock(mutex_);
    r.replies.feed(bytes);
    while (auto reply = r.replies.next()) {
      policy_.answered();
      uint64_t id = reply->id;
      switch (reply->tag) {
        case tts::kOpenedTag:
        case tts::kFinalTag:
          if (id == awaited_id_) {
            answer_ = std::move(reply->payload);
            r.session->no_reply_expected();
          }
          break;
        case tts::kPartialTag:
          if (id == open_id_ && on_partial_) {
            // Called without the lock, so that the callback may take its
            // time; this thread alone delivers them, so they stay in order.
            auto callback = on_partial_;
            lock.unlock();
            callback(reply->payload);
            lock.lock();
          }
          break;
        case tts::kErrorTag: {
          Error error(error_kind_of_message(reply->payload), reply->payload);
          if (id == awaited_id_) {
            answer_ = error;
            r.session->no_reply_expected();
          } else if (id == open_id_) {
            // A decoding failure: the helper closed the recording.
            failure_ = error;
            failed_id_ = id;
          }
          break;
        }
        default:
          break;
      }
    }
    cv_.notify_all();
  }

  void on_end(StreamRun& r, const HelperEnd& end) {
    std::lock_guard lock(mutex_);
    r.ended = true;
    policy_.ended(RestartPolicy::Clock::now());
    if (open_id_ != 0 || awaited_id_ != 0) {
      failure_ = end.error();
      failed_id_ = awaited_id_ != 0 ? awaited_id_ : open_id_;
    }
    cv_.notify_all();
  }

  const HelperOptions options_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::shared_ptr<StreamRun> run_;
  RestartPolicy policy_;
  bool shut_down_ = false;
  uint64_t next_id_ = 1;
  uint64_t open_id_ = 0;     // the open recording; 0: none
  uint64_t awaited_id_ = 0;  // an Opened or Final is awaited for it
  std::function<void(std::string_view)> on_partial_;
  std::optional<Result<std::string>> answer_;
  std::optional<Error> failure_;  // what ended recording failed_id_
  uint64_t failed_id_ = 0;
};

struct Recording::State {
  bool closed = false;
  std::unique_ptr<Resampler> resampler;
  std::vector<float> resampled;
};

Recognizer::Recognizer(HelperOptions options)
    : impl_(std::make_shared<Impl>(std::move(options))) {}

Recognizer::~Recognizer() { impl_->shut_down(); }

Result<std::unique_ptr<Recording>> Recognizer::open(
    std::string_view model_id, std::string_view model_dir,
    std::optional<std::string_view> language,
    std::function<void(std::string_view partial)> on_partial) {
  auto id = impl_->open(model_id, model_dir, language, std::move(on_partial));
  if (!id.ok()) return std::move(id).error();
  return std::unique_ptr<Recording>(new Recording(impl_, id.value()));
}

Recording::Recording(std::shared_ptr<Recognizer::Impl> owner, uint64_t id)
    : owner_(std::move(owner)), id_(id), state_(std::make_unique<State>()) {}

Recording::~Recording() {
  if (!state_->closed) (void)owner_->cancel(id_);
}

Result<void> Recording::feed(std::span<const float> samples) {
  if (state_->closed) return closed_recording();
  auto fed = owner_->feed(id_, samples);
  if (!fed.ok()) state_->closed = true;
  return fed;
}

Result<void> Recording::feed(std::span<const int16_t> samples, uint32_t rate) {
  if (state_->closed) return closed_recording();
  if (!state_->resampler) {
    auto made = Resampler::create(rate);
    if (!made.ok()) return std::move(made).error();
    state_->resampler = std::move(made).value();
  } else if (state_->resampler->input_rate() != rate) {
    return Error(ErrorKind::kRefusedLocally,
                 "The recording's audio is at " + std::to_string(state_->resampler->input_rate()) +
                     " Hz; it cannot change to " + std::to_string(rate) + " Hz");
  }
  state_->resampled.clear();
  state_->resampler->feed(samples, state_->resampled);
  return feed(std::span<const float>(state_->resampled));
}

Result<std::string> Recording::finish() {
  if (state_->closed) return closed_recording();
  if (state_->resampler) {
    state_->resampled.clear();
    state_->resampler->finish(state_->resampled);
    if (auto fed = feed(std::span<const float>(state_->resampled)); !fed.ok()) {
      return std::move(fed).error();
    }
  }
  state_->closed = true;
  return owner_->finish(id_);
}

Result<void> Recording::cancel() {
  if (state_->closed) return closed_recording();
  state_->closed = true;
  return owner_->cancel(id_);
}

}  // namespace velmora_corvane
