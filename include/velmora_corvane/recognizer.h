// Streaming speech recognition through the helper. A Recognizer starts the
// helper in stream mode when the first recording opens and keeps it (with
// its loaded model) for the next ones; a Recording is one utterance: audio
// in, partial transcripts out as they change, the final transcript at the
// end.
//
// Promises:
//   - Partial transcripts reach the `on_partial` callback as the helper
//     sends them (only when the text changed), on a thread of the library,
//     one at a time and in order. Do not call back into the library from it.
//   - feed() takes 32-bit float samples at 16 kHz (nominally -1.0 to 1.0),
//     or 16-bit PCM at any rate, resampled to 16 kHz; the resampler keeps
//     its state from one feed() to the next and is flushed by finish().
//     Audio is cut into frames the helper accepts.
//   - The helper holds one open recording: opening a new one closes the
//     older, whose calls then fail with kNoOpenRecording.
//   - A helper that ends or passes the timeout fails the recording with
//     kHelperExited or kTimedOut (with its last standard error lines); the
//     next open() starts a new helper (held back as HelperOptions says when
//     it keeps dying). Nothing is sent again.
//   - After finish() or cancel(), or a failure, the recording is closed:
//     further calls fail with kRefusedLocally (or the failure's kind).
//
// Thread safety: Recognizer is safe to use from several threads. One
// Recording is used by one thread at a time. No global state.
// Lifetimes: a Recording may outlive its Recognizer, but then fails every
// call with kHelperExited (the helper was ended with the Recognizer).
#ifndef VELMORA_CORVANE_RECOGNIZER_H_
#define VELMORA_CORVANE_RECOGNIZER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "velmora_corvane/error.h"
#include "velmora_corvane/helper_options.h"

namespace velmora_corvane {

class Recording;

class Recognizer {
 public:
  // Does not start the helper yet: the first open() does.
  explicit Recognizer(HelperOptions options = {});
  ~Recognizer();
  Recognizer(const Recognizer&) = delete;
  Recognizer& operator=(const Recognizer&) = delete;

  // Opens a recording with the streaming model in `model_dir` (loaded on
  // the first open, reused while the directory is the same). `model_id` is
  // the application's name for the model (not checked by the helper);
  // `language` is passed on (the model decides what it means).
  Result<std::unique_ptr<Recording>> open(
      std::string_view model_id, std::string_view model_dir,
      std::optional<std::string_view> language = std::nullopt,
      std::function<void(std::string_view partial)> on_partial = {});

  class Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

class Recording {
 public:
  ~Recording();  // cancels the recording if it is still open
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;

  // Audio at 16 kHz.
  Result<void> feed(std::span<const float> samples);
  // 16-bit PCM at `rate` Hz (the same rate for the whole recording, else
  // kRefusedLocally).
  Result<void> feed(std::span<const int16_t> samples, uint32_t rate);

  // Ends the audio and returns the final transcript (possibly empty).
  Result<std::string> finish();

  // Drops the recording; the helper sends nothing back.
  Result<void> cancel();

  uint64_t id() const { return id_; }

 private:
  friend class Recognizer;
  struct State;
  Recording(std::shared_ptr<Recognizer::Impl> owner, uint64_t id);

  std::shared_ptr<Recognizer::Impl> owner_;
  uint64_t id_;
  std::unique_ptr<State> state_;
};

}  // namespace velmora_corvane

#endif  // VELMORA_CORVANE_RECOGNIZER_H_
