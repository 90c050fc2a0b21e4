#include "runtime/fake_sherpa.h"

#include <cstdint>
#include <stdexcept>

namespace velmora_corvane_tts::testing {
namespace {

FakeRuntime* g_fake = new FakeRuntime();

std::optional<std::string> copy(const char* s) {
  if (s == nullptr) return std::nullopt;
  return std::string(s);
}

struct FakeEngine {
  int number;
};

struct FakeAudio {
  SherpaOnnxGeneratedAudio audio;
  int number;
};

}  // namespace

FakeRuntime& fake() { return *g_fake; }
void reset_fake() { *g_fake = FakeRuntime(); }

}  // namespace velmora_corvane_tts::testing

using namespace velmora_corvane_tts::testing;  // NOLINT: the fake's own state

extern "C" {

const SherpaOnnxOfflineTts* SherpaOnnxCreateOfflineTts(const SherpaOnnxOfflineTtsConfig* config) {
  SeenTtsConfig seen;
  seen.raw = *config;
  const auto& m = config->model;
  seen.provider = m.provider ? m.provider : "";
  seen.kokoro_model = copy(m.kokoro.model);
  seen.kokoro_voices = copy(m.kokoro.voices);
  seen.kokoro_tokens = copy(m.kokoro.tokens);
  seen.kokoro_data_dir = copy(m.kokoro.data_dir);
  seen.kokoro_dict_dir = copy(m.kokoro.dict_dir);
  seen.kokoro_lexicon = copy(m.kokoro.lexicon);
  seen.kokoro_lang = copy(m.kokoro.lang);
  const auto& s = m.supertonic;
  for (const char* p : {s.duration_predictor, s.text_encoder, s.vector_estimator, s.vocoder,
                        s.tts_json, s.unicode_indexer, s.voice_style}) {
    seen.supertonic.push_back(copy(p));
  }
  for (const char* p : {m.vits.model, m.vits.lexicon, m.vits.tokens, m.vits.data_dir,
                        m.matcha.acoustic_model, m.matcha.vocoder, m.kitten.model,
                        m.zipvoice.decoder, m.pocket.lm_flow, config->rule_fsts,
                        config->rule_fars}) {
    if (p != nullptr) seen.other_kinds_have_no_paths = false;
  }
  fake().creates.push_back(seen);
  if (fake().create_throws) throw std::runtime_error("Protobuf parsing failed");
  if (fake().create_returns_null) return nullptr;
  int n = ++fake().engines_created;
  ++fake().live_engines;
  fake().events.push_back("create " + std::to_string(n));
  return reinterpret_cast<const SherpaOnnxOfflineTts*>(new FakeEngine{n});
}

void SherpaOnnxDestroyOfflineTts(const SherpaOnnxOfflineTts* tts) {
  if (tts == nullptr) return;
  const auto* e = reinterpret_cast<const FakeEngine*>(tts);
  fake().events.push_back("destroy " + std::to_string(e->number));
  --fake().live_engines;
  delete e;
}

const SherpaOnnxGeneratedAudio* SherpaOnnxOfflineTtsGenerateWithConfig(
    const SherpaOnnxOfflineTts* tts, const char* text, const SherpaOnnxGenerationConfig* config,
    SherpaOnnxGeneratedAudioProgressCallbackWithArg callback, void* arg) {
  const auto* e = reinterpret_cast<const FakeEngine*>(tts);
  fake().events.push_back("generate " + std::to_string(e->number));
  SeenGeneration seen;
  seen.raw = *config;
  seen.text = text;
  seen.extra = copy(config->extra);
  seen.callback_null = callback == nullptr;
  seen.arg_null = arg == nullptr;
  fake().generations.push_back(seen);
  if (fake().generate_throws) throw std::runtime_error("input name cannot be empty");
  if (fake().generate_returns_null) return nullptr;
  auto* a = new FakeAudio{};
  a->number = ++fake().audios_created;
  ++fake().live_audios;
  a->audio.samples = fake().samples_null ? nullptr : fake().samples.data();
  a->audio.n = fake().sample_count.value_or(static_cast<int32_t>(fake().samples.size()));
  a->audio.sample_rate = fake().sample_rate;
  fake().events.push_back("audio+ " + std::to_string(a->number));
  return &a->audio;
}

void SherpaOnnxDestroyOfflineTtsGeneratedAudio(const SherpaOnnxGeneratedAudio* audio) {
  if (audio == nullptr) return;
  const auto* a = reinterpret_cast<const FakeAudio*>(audio);  // audio is the first member
  fake().events.push_back("audio- " + std::to_string(a->number));
  --fake().live_audios;
  delete a;
}

// The recognition functions are not exercised through this fake.
const SherpaOnnxOnlineRecognizer* SherpaOnnxCreateOnlineRecognizer(
    const SherpaOnnxOnlineRecognizerConfig*) {
  return nullptr;
}
void SherpaOnnxDestroyOnlineRecognizer(const SherpaOnnxOnlineRecognizer*) {}
const SherpaOnnxOnlineStream* SherpaOnnxCreateOnlineStream(const SherpaOnnxOnlineRecognizer*) {
  return nullptr;
}
void SherpaOnnxDestroyOnlineStream(const SherpaOnnxOnlineStream*) {}
void SherpaOnnxOnlineStreamSetOption(const SherpaOnnxOnlineStream*, const char*, const char*) {}
void SherpaOnnxOnlineStreamAcceptWaveform(const SherpaOnnxOnlineStream*, int32_t, const float*,
                                          int32_t) {}
void SherpaOnnxOnlineStreamInputFinished(const SherpaOnnxOnlineStream*) {}
int32_t SherpaOnnxIsOnlineStreamReady(const SherpaOnnxOnlineRecognizer*,
                                      const SherpaOnnxOnlineStream*) {
  return 0;
}
void SherpaOnnxDecodeOnlineStream(const SherpaOnnxOnlineRecognizer*,
                                  const SherpaOnnxOnlineStream*) {}
const char* SherpaOnnxGetOnlineStreamResultAsJson(const SherpaOnnxOnlineRecognizer*,
                                                  const SherpaOnnxOnlineStream*) {
  return nullptr;
}
void SherpaOnnxDestroyOnlineStreamResultJson(const char*) {}
const SherpaOnnxWave* SherpaOnnxReadWave(const char*) { return nullptr; }
void SherpaOnnxFreeWave(const SherpaOnnxWave*) {}
const char* SherpaOnnxGetVersionStr(void) { return "fake"; }

}  // extern "C"
