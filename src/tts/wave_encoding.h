// 16-bit mono PCM WAV encoding of float samples.
#ifndef VELMORA_CORVANE_TTS_TTS_WAVE_ENCODING_H_
#define VELMORA_CORVANE_TTS_TTS_WAVE_ENCODING_H_

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "common/result.h"

namespace velmora_corvane_tts {

inline constexpr size_t kWavHeaderSize = 44;

// Allocator that leaves bytes uninitialised on resize, so that a buffer
// which is about to be overwritten whole is not zero-filled first.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <typename U>
  UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}  // NOLINT
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// The bytes of a WAV file.
using WavBytes = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;
// Largest sample count whose RIFF chunk size (2n + 36) fits 32 bits.
inline constexpr uint64_t kMaxWavSamples = 2147483629;

// One sample as a 16-bit value: non-finite becomes 0, the value is limited to
// [-1, 1], multiplied by 32767 in single precision and rounded half away from
// zero. Exported as a test seam: the reference the vectorised paths inside
// f32_mono_wave are checked against, lane by lane.
int16_t sample_to_pcm16(float sample);

// A complete WAV file (44-byte header, then the samples) for `samples` at
// `sample_rate`, allocated once at its final size. More than kMaxWavSamples
// samples, or no memory for the file: "Generated speech is too large to buffer".
Result<WavBytes> f32_mono_wave(std::span<const float> samples, uint32_t sample_rate);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_TTS_WAVE_ENCODING_H_
