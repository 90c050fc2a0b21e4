// A scripted stand-in for the speech runtime's C functions, linked in place
// of the real library. Tests set what the next calls return and read what
// the helper passed and in which order handles were created and released.
#ifndef VELMORA_CORVANE_TTS_TESTS_RUNTIME_FAKE_SHERPA_H_
#define VELMORA_CORVANE_TTS_TESTS_RUNTIME_FAKE_SHERPA_H_

#include <optional>
#include <string>
#include <vector>

#include "runtime/sherpa_abi.h"

namespace velmora_corvane_tts::testing {

// A copy of what one create call received, strings included.
struct SeenTtsConfig {
  SherpaOnnxOfflineTtsConfig raw;  // pointers are not valid after the call
  std::string provider;
  std::optional<std::string> kokoro_model, kokoro_voices, kokoro_tokens, kokoro_data_dir,
      kokoro_dict_dir, kokoro_lexicon, kokoro_lang;
  std::vector<std::optional<std::string>> supertonic;  // the seven paths in record order
  bool other_kinds_have_no_paths = true;
};

struct SeenGeneration {
  SherpaOnnxGenerationConfig raw;
  std::string text;
  std::optional<std::string> extra;
  bool callback_null = true;
  bool arg_null = true;
};

struct FakeRuntime {
  // Script for the next calls.
  bool create_returns_null = false;
  bool create_throws = false;
  bool generate_returns_null = false;
  bool generate_throws = false;
  std::vector<float> samples = {0.5f, -0.5f};
  bool samples_null = false;
  std::optional<int32_t> sample_count;  // default: samples.size()
  int32_t sample_rate = 24000;

  // What happened, in order: "create N", "destroy N", "generate N",
  // "audio+ K", "audio- K" (N = engine number, K = audio number).
  std::vector<std::string> events;
  std::vector<SeenTtsConfig> creates;
  std::vector<SeenGeneration> generations;
  int engines_created = 0;
  int audios_created = 0;
  int live_engines = 0;
  int live_audios = 0;
};

// The fake's state; reset_fake() restores the defaults.
FakeRuntime& fake();
void reset_fake();

}  // namespace velmora_corvane_tts::testing

#endif  // VELMORA_CORVANE_TTS_TESTS_RUNTIME_FAKE_SHERPA_H_
