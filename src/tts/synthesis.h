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

// The generation parameters of a request's catalogue model. Exported as a
// labelled seam for the benchmark's runtime-only memory baseline
// (bench/bare_generate.cc), which must generate exactly as synthesize()
// does without building a WAV.
runtime::GenerationSettings generation_settings(const LocalTtsRequest& request);

// Sets the allocator up for each synthesis by the length of its text, over
// the life of one service. Short texts reuse the memory earlier requests
// freed, which makes them several times faster than fresh memory. The first
// long text is served from fresh mappings, so that a helper that reads one
// article aloud peaks where the runtime alone puts it (Kokoro, 10,000
// characters: 59 MiB over the resting size, against 81 MiB from the heap).
// A second long text shows that long texts recur: from then on every block
// stays in the heap, which costs the memory of the largest text so far while
// idle and makes every later long text fault nothing in (about 4 times
// faster on the virtual machines measured, where a page fault costs 13 us).
class MemoryPlan {
 public:
  // Texts of more characters than this are long.
  static constexpr size_t kLongTextChars = 2000;

  // Call before synthesising `text`.
  void prepare_for(std::string_view text);

 private:
  bool long_text_served_ = false;
};

// Synthesises the request's text and encodes it as a WAV file. The runtime
// receives the text with every 0x00 byte replaced by a space and nothing
// trimmed, the speed clamped to 0.5 to 2.0, and the generation parameters
// of the request's catalogue model. Messages
// (reply texts of the synthesis protocol, fixed):
// "The local model could not synthesize this response" (no audio),
// "The local model reported an invalid sample rate" (rate below 1),
// "The local model returned no audio" (no samples),
// "Generated speech is too large to buffer".
Result<WavBytes> synthesize(const runtime::OfflineTts& engine,
                                        const LocalTtsRequest& request);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_TTS_SYNTHESIS_H_
