#include "tts/wave_encoding.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>

namespace velmora_corvane_tts {
namespace {

void put_u32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void put_u16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

int16_t sample_to_pcm16(float sample) {
  // Written without branches so that the conversion loop vectorises (this
  // file is built with -O3 -fno-trapping-math for that).
  // Non-finite samples (exponent all ones) become 0.
  uint32_t bits = std::bit_cast<uint32_t>(sample);
  uint32_t keep = (bits & 0x7F800000u) != 0x7F800000u ? 0xFFFFFFFFu : 0u;
  float s = std::bit_cast<float>(bits & keep);
  s = std::min(std::max(s, -1.0f), 1.0f);
  float scaled = s * 32767.0f;
  // Round half away from zero: add a half of the value's sign and truncate.
  // The addition is exact in double precision; |result| <= 32767.
  double away = static_cast<double>(scaled) + static_cast<double>(std::copysign(0.5f, scaled));
  return static_cast<int16_t>(static_cast<int32_t>(away));
}

Result<WavBytes> f32_mono_wave(std::span<const float> samples, uint32_t sample_rate) {
  if (samples.size() > kMaxWavSamples) return Error("Generated speech is too large to buffer");
  const uint32_t data_size = static_cast<uint32_t>(samples.size() * 2);
  WavBytes wav;
  try {
    wav.resize(kWavHeaderSize + data_size);
  } catch (const std::bad_alloc&) {
    return Error("Generated speech is too large to buffer");
  } catch (const std::length_error&) {
    return Error("Generated speech is too large to buffer");
  }
  uint8_t* h = wav.data();
  std::memcpy(h, "RIFF", 4);
  put_u32(h + 4, data_size + 36);
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  put_u32(h + 16, 16);
  put_u16(h + 20, 1);
  put_u16(h + 22, 1);
  put_u32(h + 24, sample_rate);
  put_u32(h + 28, sample_rate * 2);
  put_u16(h + 32, 2);
  put_u16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  put_u32(h + 40, data_size);
  uint8_t* out = h + kWavHeaderSize;
  const float* in = samples.data();
  const size_t n = samples.size();
  if constexpr (std::endian::native == std::endian::little) {
    // One pass straight from the runtime's buffer into the file.
    for (size_t i = 0; i < n; ++i) {
      int16_t v = sample_to_pcm16(in[i]);
      std::memcpy(out + 2 * i, &v, 2);
    }
  } else {
    for (size_t i = 0; i < n; ++i) {
      uint16_t v = static_cast<uint16_t>(sample_to_pcm16(in[i]));
      out[2 * i] = static_cast<uint8_t>(v);
      out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
  }
  return wav;
}

}  // namespace velmora_corvane_tts
