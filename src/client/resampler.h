// Streaming conversion of 16-bit mono PCM at any rate to 32-bit float
// samples at 16 kHz, the helper's input. The resampler keeps its filter
// state from one feed() to the next, so that audio cut into pieces anywhere
// resamples as if it came whole; finish() gives out what the filter still
// holds. At 16 kHz the samples are only scaled (by 1/32768).
//
// Built on libsoxr (resampler_soxr.cc); another platform may put another
// implementation behind this class.
//
// Thread safety: one object is used by one thread at a time.
#ifndef VELMORA_CORVANE_TTS_CLIENT_RESAMPLER_H_
#define VELMORA_CORVANE_TTS_CLIENT_RESAMPLER_H_

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "velmora_corvane/error.h"

namespace velmora_corvane {

inline constexpr uint32_t kHelperSampleRate = 16000;

class Resampler {
 public:
  // kRefusedLocally for a rate of 0 or one the resampler cannot take.
  static Result<std::unique_ptr<Resampler>> create(uint32_t input_rate);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  uint32_t input_rate() const { return input_rate_; }

  // Appends to `out` the 16 kHz samples that `in` completes. Precondition:
  // finish() has not been called.
  void feed(std::span<const int16_t> in, std::vector<float>& out);

  // Appends the rest held in the filter. Afterwards the object only
  // accepts destruction.
  void finish(std::vector<float>& out);

 private:
  struct State;
  Resampler(uint32_t input_rate, std::unique_ptr<State> state);

  uint32_t input_rate_;
  std::unique_ptr<State> state_;  // null at 16 kHz
};

}  // namespace velmora_corvane

#endif  // VELMORA_CORVANE_TTS_CLIENT_RESAMPLER_H_
