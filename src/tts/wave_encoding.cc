#include "tts/wave_encoding.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>

#include "common/coding.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velmora_corvane_tts {
namespace {

// Writes `n` samples from `in` to `out` as 16-bit little-endian values.
using Converter = void (*)(const float* in, size_t n, uint8_t* out);

void convert_portable(const float* in, size_t n, uint8_t* out) {
  for (size_t i = 0; i < n; ++i) {
    encode_fixed16(out + 2 * i, static_cast<uint16_t>(sample_to_pcm16(in[i])));
  }
}

#if defined(__x86_64__)
// The same conversion on whole vectors of samples, for the instruction sets
// this processor has (chosen once, at the first call). Each lane computes
// exactly what sample_to_pcm16 computes; this was checked for every one of
// the 2^32 float bit patterns, and the unit tests check the half-way points
// and a sweep of patterns through f32_mono_wave.
//   - A lane whose exponent bits are all ones (NaN or infinity) becomes 0.
//   - min/max limit the rest to [-1, 1] (no NaN is left to reach them).
//   - The product with 32767 is rounded half away from zero by adding
//     0.49999997 (the float just below 0.5) with the product's sign and
//     truncating. For these magnitudes (at most 32767) the rounded sum
//     reaches the next integer exactly when the product is at or beyond the
//     half-way point; with 0.5 a product of 0.49999997 would round up.
// The values lie in [-32767, 32767], so the saturating narrowing to 16 bits
// changes none of them. x86 is little-endian, as the file is.
constexpr float kJustBelowHalf = 0.49999997f;
constexpr int kExponentBits = 0x7F800000;

inline __m128i convert4_sse2(__m128 x) {
  const __m128i exponent = _mm_set1_epi32(kExponentBits);
  __m128i bits = _mm_castps_si128(x);
  __m128i non_finite = _mm_cmpeq_epi32(_mm_and_si128(bits, exponent), exponent);
  x = _mm_castsi128_ps(_mm_andnot_si128(non_finite, bits));
  x = _mm_min_ps(_mm_max_ps(x, _mm_set1_ps(-1.0f)), _mm_set1_ps(1.0f));
  x = _mm_mul_ps(x, _mm_set1_ps(32767.0f));
  __m128 half = _mm_or_ps(_mm_and_ps(x, _mm_set1_ps(-0.0f)), _mm_set1_ps(kJustBelowHalf));
  return _mm_cvttps_epi32(_mm_add_ps(x, half));
}

void convert_sse2(const float* in, size_t n, uint8_t* out) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m128i low = convert4_sse2(_mm_loadu_ps(in + i));
    __m128i high = convert4_sse2(_mm_loadu_ps(in + i + 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_packs_epi32(low, high));
  }
  convert_portable(in + i, n - i, out + 2 * i);
}

__attribute__((target("avx2"))) inline __m256i convert8_avx2(__m256 x) {
  const __m256i exponent = _mm256_set1_epi32(kExponentBits);
  __m256i bits = _mm256_castps_si256(x);
  __m256i non_finite = _mm256_cmpeq_epi32(_mm256_and_si256(bits, exponent), exponent);
  x = _mm256_castsi256_ps(_mm256_andnot_si256(non_finite, bits));
  x = _mm256_min_ps(_mm256_max_ps(x, _mm256_set1_ps(-1.0f)), _mm256_set1_ps(1.0f));
  x = _mm256_mul_ps(x, _mm256_set1_ps(32767.0f));
  __m256 half =
      _mm256_or_ps(_mm256_and_ps(x, _mm256_set1_ps(-0.0f)), _mm256_set1_ps(kJustBelowHalf));
  return _mm256_cvttps_epi32(_mm256_add_ps(x, half));
}

__attribute__((target("avx2"))) void convert_avx2(const float* in, size_t n, uint8_t* out) {
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    __m256i low = convert8_avx2(_mm256_loadu_ps(in + i));
    __m256i high = convert8_avx2(_mm256_loadu_ps(in + i + 8));
    // packs works within 128-bit halves; the permute puts the four groups
    // of four back in order.
    __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(low, high), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i), packed);
  }
  convert_portable(in + i, n - i, out + 2 * i);
}

// Outputs at least this large are written with streaming stores, which do
// not first read into the cache the lines they are about to overwrite. A
// file this size is out of the caches by the time it is sent anyway.
constexpr size_t kStreamingBytes = 8u << 20;

// GCC 12 takes the deliberately undefined pass-through operand inside these
// intrinsics for an uninitialised variable.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
__attribute__((target("avx512f,avx512bw"))) inline __m512i convert16_avx512(const float* in) {
  const __m512i exponent = _mm512_set1_epi32(kExponentBits);
  const __m512i sign = _mm512_set1_epi32(static_cast<int>(0x80000000u));
  const __m512i half = _mm512_castps_si512(_mm512_set1_ps(kJustBelowHalf));
  __m512 x = _mm512_loadu_ps(in);
  __mmask16 finite =
      _mm512_cmpneq_epi32_mask(_mm512_and_si512(_mm512_castps_si512(x), exponent), exponent);
  // The zeroing mask of the upper limit also silences the non-finite lanes.
  x = _mm512_maskz_min_ps(finite, _mm512_max_ps(x, _mm512_set1_ps(-1.0f)), _mm512_set1_ps(1.0f));
  x = _mm512_mul_ps(x, _mm512_set1_ps(32767.0f));
  // (x & sign) | half, in one instruction.
  __m512i signed_half = _mm512_ternarylogic_epi32(_mm512_castps_si512(x), sign, half, 0xEA);
  return _mm512_cvttps_epi32(_mm512_add_ps(x, _mm512_castsi512_ps(signed_half)));
}

// 32 samples as 64 bytes of 16-bit values.
__attribute__((target("avx512f,avx512bw"))) inline __m512i convert32_avx512(const float* in) {
  // packs narrows two vectors lane by lane (128 bits each); this order puts
  // the eight 64-bit groups back in sample order.
  const __m512i order = _mm512_set_epi64(7, 5, 3, 1, 6, 4, 2, 0);
  __m512i packed = _mm512_packs_epi32(convert16_avx512(in), convert16_avx512(in + 16));
  return _mm512_permutexvar_epi64(order, packed);
}

// Large outputs go out with streaming stores, which must be 64-byte
// aligned, while the input is read with 64-byte loads that are aligned too:
// a load split across two cache lines slows the reading of a file this size
// by about half. The two alignments differ by an even number of bytes, so
// each aligned 64-byte block of output is the end of one converted vector
// followed by the start of the next, joined by a two-source permute.
__attribute__((target("avx512f,avx512bw"))) size_t convert_streaming_avx512(const float* in,
                                                                              size_t n,
                                                                              uint8_t* out) {
  const auto in_address = reinterpret_cast<uintptr_t>(in);
  size_t i = std::min(n, static_cast<size_t>((64 - in_address % 64) % 64) / 4);
  convert_portable(in, i, out);
  const size_t shift = (reinterpret_cast<uintptr_t>(out + 2 * i) % 64) / 2;  // in samples
  if (shift == 0) {
    for (; i + 32 <= n; i += 32) {
      _mm512_stream_si512(reinterpret_cast<__m512i*>(out + 2 * i), convert32_avx512(in + i));
    }
    return i;
  }
  // The samples before the first output boundary.
  const size_t head = 32 - shift;
  if (i + head + 64 > n) return i;
  convert_portable(in + i, head, out + 2 * i);
  // Lane t of a joined block: lane 32 - shift + t of the earlier vector for
  // t < shift, else lane t - shift of the later one (index 32 and up).
  alignas(64) uint16_t lanes[32];
  for (size_t t = 0; t < 32; ++t) {
    lanes[t] = static_cast<uint16_t>(t < shift ? 32 - shift + t : 32 + t - shift);
  }
  const __m512i join = _mm512_load_si512(lanes);
  __m512i earlier = convert32_avx512(in + i);
  for (; i + 64 <= n; i += 32) {
    __m512i later = convert32_avx512(in + i + 32);
    _mm512_stream_si512(reinterpret_cast<__m512i*>(out + 2 * (i + head)),
                        _mm512_permutex2var_epi16(earlier, join, later));
    earlier = later;
  }
  return i + head;
}

__attribute__((target("avx512f,avx512bw"))) void convert_avx512(const float* in, size_t n,
                                                                  uint8_t* out) {
  size_t i = 0;
  if (2 * n >= kStreamingBytes && reinterpret_cast<uintptr_t>(out) % 2 == 0 &&
      reinterpret_cast<uintptr_t>(in) % 4 == 0) {
    i = convert_streaming_avx512(in, n, out);
    _mm_sfence();
  } else {
    for (; i + 32 <= n; i += 32) _mm512_storeu_si512(out + 2 * i, convert32_avx512(in + i));
  }
  convert_portable(in + i, n - i, out + 2 * i);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

Converter pick_converter() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")) {
    return convert_avx512;
  }
  if (__builtin_cpu_supports("avx2")) return convert_avx2;
  return convert_sse2;
}
#else
Converter pick_converter() { return convert_portable; }
#endif

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
  encode_fixed32(h + 4, data_size + 36);
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  encode_fixed32(h + 16, 16);
  encode_fixed16(h + 20, 1);
  encode_fixed16(h + 22, 1);
  encode_fixed32(h + 24, sample_rate);
  encode_fixed32(h + 28, sample_rate * 2);
  encode_fixed16(h + 32, 2);
  encode_fixed16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  encode_fixed32(h + 40, data_size);
  // One pass straight from the runtime's buffer into the file.
  static const Converter convert = pick_converter();
  convert(samples.data(), samples.size(), h + kWavHeaderSize);
  return wav;
}

}  // namespace velmora_corvane_tts
