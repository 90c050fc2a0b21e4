#include "velmora_corvane/synthesizer.h"

#include <bit>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "client/error_kinds.h"
#include "client/helper_session.h"
#include "client/restart_policy.h"
#include "common/coding.h"
#include "wire/wire.h"

namespace velmora_corvane {

namespace tts = velmora_corvane_tts;
static_assert(std::endian::native == std::endian::little, "samples are viewed in place");

std::span<const uint8_t> Speech::wav() const {
  return {reinterpret_cast<const uint8_t*>(storage_.data()), size_};
}

std::span<const int16_t> Speech::samples() const {
  return {storage_.data() + data_offset_ / 2, data_bytes_ / 2};
}

// Builds a Speech from the bytes of a WAV reply.
class SpeechAccess {
 public:
  static Result<Speech> from_wav(const std::string& file) {
    auto bad = [](const char* why) {
      return Error(ErrorKind::kUnknown, std::string("The helper's WAV reply ") + why);
    };
    auto at = [&](size_t i) { return reinterpret_cast<const uint8_t*>(file.data() + i); };
    if (file.size() < 12 || file.compare(0, 4, "RIFF") != 0 || file.compare(8, 4, "WAVE") != 0) {
      return bad("is not a RIFF WAVE file");
    }
    Speech speech;
    bool have_format = false;
    for (size_t pos = 12; pos + 8 <= file.size();) {
      uint32_t size = tts::decode_fixed32(at(pos + 4));
      size_t body = pos + 8;
      if (file.compare(pos, 4, "fmt ") == 0 && size >= 16 && body + 16 <= file.size()) {
        if (tts::decode_fixed16(at(body)) != 1 || tts::decode_fixed16(at(body + 2)) != 1 ||
            tts::decode_fixed16(at(body + 14)) != 16) {
          return bad("is not 16-bit mono PCM");
        }
        speech.sample_rate_ = tts::decode_fixed32(at(body + 4));
        have_format = true;
      } else if (file.compare(pos, 4, "data") == 0) {
        if (!have_format) return bad("has its samples before their format");
        if (body % 2 != 0) return bad("has its samples at an odd offset");
        speech.data_offset_ = body;
        speech.data_bytes_ = std::min<size_t>(size, file.size() - body) & ~size_t{1};
        speech.size_ = file.size();
        speech.storage_.resize((file.size() + 1) / 2);
        std::memcpy(speech.storage_.data(), file.data(), file.size());
        return speech;
      }
      pos = body + size + (size & 1);
    }
    return bad("has no samples");
  }
};

namespace {

// A request in the queue of one helper run.
struct Pending {
  std::string frame;
  bool done = false;
  bool resend = false;  // the helper ended before it started on it
  std::optional<Result<Speech>> outcome;
};

// One run of the helper: its session, the reader of its replies, and the
// requests written to it in order, awaiting replies.
struct Run {
  std::unique_ptr<HelperSession> session;
  tts::wire::SynthesisReplyReader replies;
  std::deque<std::shared_ptr<Pending>> queue;
  uint64_t next_ticket = 0;  // the order in which requests are written
  uint64_t writing = 0;      // the ticket whose turn it is
  bool ended = false;
};

}  // namespace

class Synthesizer::Impl {
 public:
  explicit Impl(HelperOptions options)
      : options_(std::move(options)),
        policy_(options_.restart_delay, options_.max_restart_delay) {}

  ~Impl() {
    std::shared_ptr<Run> run;
    {
      std::lock_guard lock(mutex_);
      run = std::move(run_);
    }
    // Destroying the run closes the helper's input: it ends with status 0.
  }

  Result<Speech> synthesize(const SynthesisRequest& request) {
    if (!std::isfinite(request.speed)) {
      return Error(ErrorKind::kRefusedLocally, "The speed is not a finite number");
    }
    tts::LocalTtsRequest wire_request{request.model_id, request.model_dir, request.voice,
                                      request.language, request.speed,    request.text};
    std::string body = tts::wire::synthesis_request_json(wire_request);
    if (body.size() > tts::kMaxRequestBytes) {
      return Error(ErrorKind::kRefusedLocally,
                   "The request of " + std::to_string(body.size()) +
                       " bytes is over the helper's limit of " +
                       std::to_string(tts::kMaxRequestBytes) + " bytes; split the text");
    }
    auto pending = std::make_shared<Pending>();
    pending->frame = tts::wire::synthesis_request_frame(body);
    while (true) {
      std::unique_lock lock(mutex_);
      auto run = current_run(lock);
      if (!run.ok()) return std::move(run).error();
      // Held until this attempt is over: another caller may replace the run.
      std::shared_ptr<Run> r = std::move(run).value();
      pending->done = false;
      pending->resend = false;
      r->queue.push_back(pending);
      if (r->queue.size() == 1) arm(*r);
      // Written in the order queued; the lock is let go while writing, so
      // that replies are taken in meanwhile.
      uint64_t ticket = r->next_ticket++;
      cv_.wait(lock, [&] { return r->writing == ticket || r->ended; });
      if (!r->ended) {
        lock.unlock();
        r->session->write(pending->frame);  // a failure shows as the helper's end
        lock.lock();
      }
      ++r->writing;
      cv_.notify_all();
      cv_.wait(lock, [&] { return pending->done; });
      if (!pending->resend) return std::move(*pending->outcome);
      lock.unlock();  // `r` may be the last owner of an ended run
    }
  }

 private:
  // The run to send to, started when there is none. Called with mutex_ held;
  // an ended run is destroyed with the lock let go (its threads are joined).
  Result<std::shared_ptr<Run>> current_run(std::unique_lock<std::mutex>& lock) {
    if (run_ && run_->ended) {
      std::shared_ptr<Run> old = std::move(run_);
      lock.unlock();
      old.reset();
      lock.lock();
    }
    if (run_) return run_;  // perhaps started by another caller meanwhile
    auto run = std::make_shared<Run>();
    Run* r = run.get();
    auto session = start_helper(
        policy_, options_, {}, [this, r](std::string_view bytes) { on_output(*r, bytes); },
        [this, r](const HelperEnd& end) { on_end(*r, end); });
    if (!session.ok()) return std::move(session).error();
    run->session = std::move(session).value();
    run_ = run;
    return run;
  }

  // The head of the queue is now awaited. Called with mutex_ held.
  void arm(Run& r) {
    r.session->mark_stderr();
    r.session->expect_reply_by(HelperSession::Clock::now() + options_.timeout);
  }

  void on_output(Run& r, std::string_view bytes) {
    std::lock_guard lock(mutex_);
    r.replies.feed(bytes);
    while (auto reply = r.replies.next()) {
      policy_.answered();
      if (r.queue.empty()) continue;  // nothing asked for it: not expected
      std::shared_ptr<Pending> head = std::move(r.queue.front());
      r.queue.pop_front();
      if (reply->status == tts::kReplySuccess) {
        head->outcome = SpeechAccess::from_wav(reply->payload);
      } else {
        ErrorKind kind = error_kind_of_message(reply->payload);
        head->outcome = Error(kind, std::move(reply->payload));
      }
      head->done = true;
      if (r.queue.empty()) {
        r.session->no_reply_expected();
      } else {
        arm(r);
      }
    }
    cv_.notify_all();
  }

  void on_end(Run& r, const HelperEnd& end) {
    std::lock_guard lock(mutex_);
    r.ended = true;
    policy_.ended(RestartPolicy::Clock::now());
    // The request in flight is never sent again; the ones behind it were
    // not started and go to the next helper.
    for (size_t i = 0; i < r.queue.size(); ++i) {
      if (i == 0) {
        r.queue[i]->outcome = end.error();
      } else {
        r.queue[i]->resend = true;
      }
      r.queue[i]->done = true;
    }
    r.queue.clear();
    cv_.notify_all();
  }

  const HelperOptions options_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::shared_ptr<Run> run_;
  RestartPolicy policy_;
};

Synthesizer::Synthesizer(HelperOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Synthesizer::~Synthesizer() = default;

Result<Speech> Synthesizer::synthesize(const SynthesisRequest& request) {
  return impl_->synthesize(request);
}

}  // namespace velmora_corvane
