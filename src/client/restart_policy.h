// When a helper that ended may be started again. After an end (a request
// killed it, it was ended after a timeout, or it could not be started) the
// next start may happen at once. When that helper ends in turn before it
// has answered anything, the start after it waits `first_delay`, each
// further such end in a row twice as long, up to `max_delay`; an answer
// ends the run of failures. Meanwhile the caller fails requests with
// kHelperUnavailable instead of starting the helper.
//
// Pure logic: the caller passes the time. Thread safety: none; the owner
// serialises calls.
#ifndef VELMORA_CORVANE_TTS_CLIENT_RESTART_POLICY_H_
#define VELMORA_CORVANE_TTS_CLIENT_RESTART_POLICY_H_

#include <chrono>

namespace velmora_corvane {

class RestartPolicy {
 public:
  using Clock = std::chrono::steady_clock;

  RestartPolicy(Clock::duration first_delay, Clock::duration max_delay)
      : first_delay_(first_delay), max_delay_(max_delay) {}

  // How long the caller must still wait at `now` before starting the helper
  // (zero: start it).
  Clock::duration wait_before_start(Clock::time_point now) const {
    return now < next_start_ ? next_start_ - now : Clock::duration::zero();
  }

  // A helper was started.
  void started() { answered_ = false; }

  // The running helper answered a request: it works.
  void answered() {
    answered_ = true;
    failures_ = 0;
  }

  // The helper ended (other than by closing its input), or could not be
  // started, at `now`.
  void ended(Clock::time_point now) {
    if (answered_) failures_ = 0;
    answered_ = false;
    ++failures_;
    Clock::duration delay = Clock::duration::zero();
    if (failures_ > 1) {
      delay = first_delay_;
      for (int i = 2; i < failures_ && delay < max_delay_; ++i) delay *= 2;
      if (delay > max_delay_) delay = max_delay_;
    }
    next_start_ = now + delay;
  }

 private:
  Clock::duration first_delay_;
  Clock::duration max_delay_;
  Clock::time_point next_start_{};
  int failures_ = 0;
  bool answered_ = false;
};

}  // namespace velmora_corvane

#endif  // VELMORA_CORVANE_TTS_CLIENT_RESTART_POLICY_H_
