// The recogniser smoke test: loads a streaming model, feeds a WAV file to one
// stream in 100 ms blocks as fast as the recogniser takes them, and reports.
//
// Lines, each written whole as soon as it is complete ("{}" a value); their
// wording is fixed, as scripts read them:
//   A err "STREAM-STT-SMOKE: {create_recognizer's message}", or in the same
//         form "The streaming voice runtime could not decode this recording"
//   B out "STREAM-STT-SMOKE: loaded {model_dir} in {ms} ms with {n} threads"
//   C err "STREAM-STT-SMOKE: cannot read {wav}"
//   D out "STREAM-STT-SMOKE: {wav}: {n} samples at {rate} Hz ({seconds, 2 decimals} s)"
//   E out "STREAM-STT-SMOKE: partial @{ms, width 6} ms: {transcript}"
//   F out "STREAM-STT-SMOKE: decode_ms={ms} rtf={3 decimals} final={transcript}"
//   G err "STREAM-STT-SMOKE: the final transcript is empty"
#ifndef VELMORA_CORVANE_TTS_STREAM_SMOKE_H_
#define VELMORA_CORVANE_TTS_STREAM_SMOKE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/io.h"

namespace velmora_corvane_tts {

// The pieces of smoke() below are exported as a test seam: their rounding
// and formats are checked for many values without running a recogniser.

// Block of samples fed per step for a file at `sample_rate`: a tenth of a
// second (single precision, truncated), at least 1.
int32_t smoke_block_size(int32_t sample_rate);

// Zero samples fed after the file at `sample_rate`: 0.8 s (single precision,
// truncated).
int32_t smoke_trailing_zeros(int32_t sample_rate);

// The report lines, each with its prefix and line feed. Milliseconds are
// whole (the remainder dropped); partial times are right-aligned in six
// characters, longer numbers written in full.
std::string smoke_loaded_line(std::string_view model_dir, long long load_ms, int32_t threads);
std::string smoke_wave_line(std::string_view wav, size_t samples, int32_t sample_rate);
std::string smoke_partial_line(long long ms, std::string_view transcript);
std::string smoke_final_line(long long decode_ms, double rtf, std::string_view transcript);

// Lowest and highest sample rate a WAV header may state; a file outside is
// as good as unreadable. The runtime resamples to 16 kHz, and its time
// grows with 16,000 / rate below and its memory with the rate above.
inline constexpr int32_t kLowestSmokeRate = 8000;
inline constexpr int32_t kHighestSmokeRate = 384000;

// Runs the smoke test and returns the exit status: 0 when the final
// transcript is not empty; 1 when the recogniser cannot be built (line A),
// the WAV file cannot be read or states a sample rate outside
// kLowestSmokeRate to kHighestSmokeRate (lines B, C), the runtime fails on
// the stream (lines B, D, any E, then A's form), or the final transcript is
// empty (line G after F). Lines B, D, E and F go
// to `out`, whose write failures are ignored; A, C and G to standard error.
// A language, even an empty one, is set as the stream option "language".
int smoke(const std::string& model_dir, const std::string& wav,
          const std::optional<std::string>& language, OutputStream& out);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_STREAM_SMOKE_H_
