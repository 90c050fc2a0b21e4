// Speech synthesis through the helper. A Synthesizer starts the helper (in
// its default, synthesis mode) when the first request comes, keeps it for
// the next ones, and starts a new one when it ended.
//
// Promises:
//   - synthesize() returns the helper's WAV file, or an Error whose kind
//     says what to do (error.h). The helper's error replies keep their text.
//   - Several threads may call synthesize() at once: their requests are
//     written to the helper as they come, without waiting for earlier
//     replies, and each caller gets its own reply.
//   - A request whose body would be over 262,144 bytes fails with
//     kRefusedLocally and is never sent; the helper stays in step.
//   - When the helper ends while it works on a request (a crash, an exit
//     other than 0 and 1), that request fails with kHelperExited and the
//     helper's last standard error lines; a request past the timeout fails
//     with kTimedOut and the helper is ended. That request is never sent
//     again. The requests queued behind it, which the helper had not
//     started, are sent again to a new helper.
//   - Standard error is always read (HelperOptions::on_stderr_line).
//
// Thread safety: safe to use from several threads. No global state: each
// Synthesizer has its own helper. Destroy it only when no call is running;
// the destructor closes the helper's input and waits for it to end.
#ifndef VELMORA_CORVANE_SYNTHESIZER_H_
#define VELMORA_CORVANE_SYNTHESIZER_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "velmora_corvane/error.h"
#include "velmora_corvane/helper_options.h"

namespace velmora_corvane {

// One request (the helper's JSON keys, in order).
struct SynthesisRequest {
  std::string model_id;   // "kokoro-82m-v1.1-int8" or "supertonic-3-int8"
  std::string model_dir;  // best absolute; a relative one is the helper's
  int32_t voice = 0;      // the speaker number ("sid")
  std::string language = "en";
  float speed = 1.0f;     // clamped by the helper to 0.5 .. 2.0
  std::string text;       // UTF-8, at most 10,000 characters
};

// A reply: a 16-bit mono WAV file, and a view of its samples.
class Speech {
 public:
  // The whole WAV file.
  std::span<const uint8_t> wav() const;
  // Its samples, signed 16-bit, valid while this object lives.
  std::span<const int16_t> samples() const;
  uint32_t sample_rate() const { return sample_rate_; }

 private:
  friend class SpeechAccess;
  std::vector<int16_t> storage_;  // the file, in 16-bit units
  size_t size_ = 0;               // bytes of the file
  size_t data_offset_ = 0;        // bytes before the first sample
  size_t data_bytes_ = 0;
  uint32_t sample_rate_ = 0;
};

class Synthesizer {
 public:
  // Does not start the helper yet: the first request does.
  explicit Synthesizer(HelperOptions options = {});
  ~Synthesizer();
  Synthesizer(const Synthesizer&) = delete;
  Synthesizer& operator=(const Synthesizer&) = delete;

  // Blocks until the reply for `request` has arrived (or it failed).
  Result<Speech> synthesize(const SynthesisRequest& request);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora_corvane

#endif  // VELMORA_CORVANE_SYNTHESIZER_H_
