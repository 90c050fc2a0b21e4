#include "tts/synthesis.h"

#include "common/json_record.h"
#include "common/text.h"
#include "platform/platform.h"
#include "tts/wave_encoding.h"

namespace velmora_corvane_tts {
namespace {

// Below 0.5 becomes 0.5, above 2.0 becomes 2.0.
float clamp_speed(float speed) {
  if (speed < 0.5f) speed = 0.5f;
  if (speed > 2.0f) speed = 2.0f;
  return speed;
}

std::string runtime_text(std::string_view text) {
  std::string out(text.size(), ' ');
  for (size_t i = 0; i < text.size(); ++i) {
    out[i] = text[i] == '\0' ? ' ' : text[i];
  }
  return out;
}

}  // namespace

runtime::GenerationSettings generation_settings(const LocalTtsRequest& request) {
  runtime::GenerationSettings g;
  g.silence_scale = 0.2f;
  g.speed = clamp_speed(request.speed);
  g.sid = request.sid;
  if (request.model_id == kSupertonicModelId) {
    g.num_steps = 8;
    g.extra = json_object_with_string("lang", request.language);
  } else {
    g.num_steps = 5;
    g.extra = "{}";
  }
  return g;
}

void MemoryPlan::prepare_for(std::string_view text) {
  using platform::LargeBlocks;
  if (count_chars(text) <= kLongTextChars) {
    // After long texts every block already stays in the heap.
    if (!long_text_served_) platform::serve_large_blocks(LargeBlocks::kReuse);
    return;
  }
  platform::serve_large_blocks(long_text_served_ ? LargeBlocks::kKeepAll : LargeBlocks::kFresh);
  long_text_served_ = true;
}

Result<WavBytes> synthesize(const runtime::OfflineTts& engine,
                                        const LocalTtsRequest& request) {
  runtime::GenerationSettings settings = generation_settings(request);
  std::string text = runtime_text(request.text);
  auto audio = engine.generate(text, settings);
  if (!audio.ok()) return Error("The local model could not synthesize this response");
  const runtime::GeneratedAudio& a = audio.value();
  if (a.sample_rate() < 1) return Error("The local model reported an invalid sample rate");
  if (a.samples() == nullptr || a.sample_count() < 1) {
    return Error("The local model returned no audio");
  }
  // The audio record is destroyed when `audio` goes out of scope, after the
  // WAV has been built from it.
  return f32_mono_wave(std::span<const float>(a.samples(), static_cast<size_t>(a.sample_count())),
                       static_cast<uint32_t>(a.sample_rate()));
}

}  // namespace velmora_corvane_tts
