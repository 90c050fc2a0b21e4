// Turns a validated request into a WAV file with a loaded engine.
#ifndef VELMORA_CORVANE_TTS_TTS_SYNTHESIS_H_
#define VELMORA_CORVANE_TTS_TTS_SYNTHESIS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "runtime/speech_runtime.h"
#include "tts/corvane_tts_protocol.h"
#include "tts/wave_encoding.h"

namespace velmora_corvane_tts {

// Speed as the runtime receives it: below 0.5 becomes 0.5, above 2.0 becomes 2.0.
float clamp_speed(float speed);

// The text as the runtime receives it: the request's bytes with every 0x00
// replaced by a space, nothing trimmed.
std::string runtime_text(std::string_view text);

// Per-request generation parameters for a catalogue model.
runtime::GenerationSettings generation_settings(const LocalTtsRequest& request);

// Synthesises the request's text and encodes it as a WAV file. Messages:
// "The local model could not synthesize this response" (no audio),
// "The local model reported an invalid sample rate" (rate below 1),
// "The local model returned no audio" (no samples),
// "Generated speech is too large to buffer".
Result<WavBytes> synthesize(const runtime::OfflineTts& engine,
                                        const LocalTtsRequest& request);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_TTS_SYNTHESIS_H_
