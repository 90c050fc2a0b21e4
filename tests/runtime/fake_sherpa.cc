#include "runtime/fake_sherpa.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
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
  std::string key = seen.kokoro_model.value_or("") + seen.supertonic[4].value_or("");
  if (fake().create_throws || key.find("throw-model") != std::string::npos) {
    throw std::runtime_error("Protobuf parsing failed");
  }
  if (fake().create_returns_null || key.find("null-model") != std::string::npos) return nullptr;
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
  std::string said = text;
  if (fake().generate_throws || said.find("throw-audio") != std::string::npos) {
    throw std::runtime_error("input name cannot be empty");
  }
  if (fake().generate_returns_null || said.find("null-audio") != std::string::npos) return nullptr;
  auto* a = new FakeAudio{};
  a->number = ++fake().audios_created;
  ++fake().live_audios;
  a->audio.samples = fake().samples_null ? nullptr : fake().samples.data();
  a->audio.n = fake().sample_count.value_or(static_cast<int32_t>(fake().samples.size()));
  a->audio.sample_rate = said.find("rate-zero") != std::string::npos ? 0 : fake().sample_rate;
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

}  // extern "C"

// ---- Recognition ------------------------------------------------------------

namespace {

struct FakeRecognizer {
  int number;
  int live_streams = 0;
};

struct FakeStream {
  int number = 0;
  const FakeRecognizer* owner = nullptr;
  std::string script;           // the "language" option
  std::vector<bool> loud;       // completed blocks
  double block_sum = 0;
  size_t block_count = 0;
  size_t decoded = 0;
  bool finished = false;
  bool in_word = false;
  std::string text;
  std::vector<std::string> tokens;
  std::string last_bytes;       // the last accepted samples, for "raw"
};

std::set<const void*>& live_handles() {
  static auto* handles = new std::set<const void*>();
  return *handles;
}

void fault(const std::string& what) { fake().faults.push_back(what); }

const FakeRecognizer* recognizer_of(const SherpaOnnxOnlineRecognizer* r, const char* call) {
  if (r == nullptr || live_handles().count(r) == 0) {
    fault(std::string(call) + " on a recognizer that is not alive");
    return nullptr;
  }
  return reinterpret_cast<const FakeRecognizer*>(r);
}

FakeStream* stream_of(const SherpaOnnxOnlineStream* s, const char* call) {
  if (s == nullptr || live_handles().count(s) == 0) {
    fault(std::string(call) + " on a stream that is not alive");
    return nullptr;
  }
  // The fake's streams are never const objects; the runtime hands out const
  // pointers to mutable state as well.
  return const_cast<FakeStream*>(reinterpret_cast<const FakeStream*>(s));
}

FakeStream* pair_of(const SherpaOnnxOnlineRecognizer* r, const SherpaOnnxOnlineStream* s,
                    const char* call) {
  const FakeRecognizer* recognizer = recognizer_of(r, call);
  FakeStream* stream = stream_of(s, call);
  if (recognizer == nullptr || stream == nullptr) return nullptr;
  if (stream->owner != recognizer) {
    fault(std::string(call) + " with stream " + std::to_string(stream->number) +
          " on recognizer " + std::to_string(recognizer->number) + ", not its own");
    return nullptr;
  }
  return stream;
}

void close_block(FakeStream& s) {
  s.loud.push_back(s.block_count > 0 && s.block_sum / static_cast<double>(s.block_count) > 0.1);
  s.block_sum = 0;
  s.block_count = 0;
}

size_t decodable_blocks(const FakeStream& s) {
  if (s.finished) return s.loud.size();
  return s.loud.empty() ? 0 : s.loud.size() - 1;
}

std::string result_json(const FakeStream& s) {
  std::string tokens, stamps;
  for (size_t i = 0; i < s.tokens.size(); ++i) {
    if (i > 0) {
      tokens += ", ";
      stamps += ", ";
    }
    tokens += "\"" + s.tokens[i] + "\"";
    stamps += std::to_string(i) + ".00";
  }
  return "{ \"text\": \"" + s.text + "\", \"tokens\": [" + tokens + "], \"timestamps\": [" +
         stamps + "], \"ys_probs\": [], \"lm_probs\": [], \"context_scores\": [], " +
         "\"segment\": 0, \"words\": [], \"start_time\": 0.00, \"is_final\": false, " +
         "\"is_eof\": false}";
}

}  // namespace

extern "C" {

const SherpaOnnxOnlineRecognizer* SherpaOnnxCreateOnlineRecognizer(
    const SherpaOnnxOnlineRecognizerConfig* config) {
  std::string encoder = config->model_config.transducer.encoder != nullptr
                            ? config->model_config.transducer.encoder
                            : "";
  fake().recognizer_dirs.push_back(encoder);
  if (fake().recognizer_create_throws || encoder.find("throw-model") != std::string::npos) {
    throw std::runtime_error("Load model from " + encoder + " failed");
  }
  if (fake().recognizer_create_returns_null || encoder.find("null-model") != std::string::npos) {
    return nullptr;
  }
  auto* r = new FakeRecognizer{++fake().recognizers_created};
  ++fake().live_recognizers;
  live_handles().insert(r);
  fake().recognition_events.push_back("recognizer+ " + std::to_string(r->number));
  return reinterpret_cast<const SherpaOnnxOnlineRecognizer*>(r);
}

void SherpaOnnxDestroyOnlineRecognizer(const SherpaOnnxOnlineRecognizer* recognizer) {
  if (recognizer == nullptr) return;
  const FakeRecognizer* r = recognizer_of(recognizer, "DestroyOnlineRecognizer");
  if (r == nullptr) return;
  if (r->live_streams != 0) {
    fault("recognizer " + std::to_string(r->number) + " destroyed while " +
          std::to_string(r->live_streams) + " of its streams live");
  }
  fake().recognition_events.push_back("recognizer- " + std::to_string(r->number));
  --fake().live_recognizers;
  live_handles().erase(r);
  delete r;
}

const SherpaOnnxOnlineStream* SherpaOnnxCreateOnlineStream(
    const SherpaOnnxOnlineRecognizer* recognizer) {
  const FakeRecognizer* r = recognizer_of(recognizer, "CreateOnlineStream");
  if (r == nullptr) return nullptr;
  auto* s = new FakeStream();
  s->number = ++fake().streams_created;
  s->owner = r;
  ++const_cast<FakeRecognizer*>(r)->live_streams;
  ++fake().live_streams;
  live_handles().insert(s);
  fake().recognition_events.push_back("stream+ " + std::to_string(s->number) + " on " +
                                      std::to_string(r->number));
  return reinterpret_cast<const SherpaOnnxOnlineStream*>(s);
}

void SherpaOnnxDestroyOnlineStream(const SherpaOnnxOnlineStream* stream) {
  if (stream == nullptr) return;
  FakeStream* s = stream_of(stream, "DestroyOnlineStream");
  if (s == nullptr) return;
  if (live_handles().count(s->owner) == 0) {
    fault("stream " + std::to_string(s->number) + " outlived its recognizer");
  } else {
    --const_cast<FakeRecognizer*>(s->owner)->live_streams;
  }
  fake().recognition_events.push_back("stream- " + std::to_string(s->number));
  --fake().live_streams;
  live_handles().erase(s);
  delete s;
}

void SherpaOnnxOnlineStreamSetOption(const SherpaOnnxOnlineStream* stream, const char* key,
                                     const char* value) {
  FakeStream* s = stream_of(stream, "OnlineStreamSetOption");
  if (s == nullptr || key == nullptr || value == nullptr) return;
  fake().recognition_events.push_back("option " + std::to_string(s->number) + " " + key + "=" +
                                      value);
  if (std::string(key) == "language") s->script = value;
}

void SherpaOnnxOnlineStreamAcceptWaveform(const SherpaOnnxOnlineStream* stream,
                                          int32_t sample_rate, const float* samples,
                                          int32_t n) {
  FakeStream* s = stream_of(stream, "OnlineStreamAcceptWaveform");
  if (s == nullptr) return;
  if (sample_rate != 16000) fault("audio at " + std::to_string(sample_rate) + " Hz");
  if (n < 0 || (n > 0 && samples == nullptr)) fault("AcceptWaveform with a bad buffer");
  if (s->finished) fault("audio after the input was finished");
  if (s->script == "accept-throws") throw std::runtime_error("accept failed");
  fake().samples_accepted += static_cast<size_t>(std::max(n, 0));
  for (int32_t i = 0; i < n; ++i) {
    s->block_sum += std::fabs(static_cast<double>(samples[i]));
    if (++s->block_count >= fake().chunk_samples) close_block(*s);
  }
  if (n > 0) {
    s->last_bytes.assign(reinterpret_cast<const char*>(samples),
                         static_cast<size_t>(n) * sizeof(float));
  }
}

void SherpaOnnxOnlineStreamInputFinished(const SherpaOnnxOnlineStream* stream) {
  FakeStream* s = stream_of(stream, "OnlineStreamInputFinished");
  if (s == nullptr) return;
  if (s->block_count > 0) close_block(*s);
  s->finished = true;
}

int32_t SherpaOnnxIsOnlineStreamReady(const SherpaOnnxOnlineRecognizer* recognizer,
                                      const SherpaOnnxOnlineStream* stream) {
  FakeStream* s = pair_of(recognizer, stream, "IsOnlineStreamReady");
  if (s == nullptr) return 0;
  if (s->script == "ready-throws") throw std::runtime_error("ready failed");
  return s->decoded < decodable_blocks(*s) ? 1 : 0;
}

void SherpaOnnxDecodeOnlineStream(const SherpaOnnxOnlineRecognizer* recognizer,
                                  const SherpaOnnxOnlineStream* stream) {
  FakeStream* s = pair_of(recognizer, stream, "DecodeOnlineStream");
  if (s == nullptr) return;
  if (fake().decode_throws || s->script == "decode-throws") {
    throw std::runtime_error("Got invalid dimensions for input: x");
  }
  if (s->decoded >= decodable_blocks(*s)) {
    fault("decode on a stream that is not ready");
    return;
  }
  bool loud = s->loud[s->decoded++];
  if (loud && !s->in_word) {
    s->text += "LOUD";
    s->tokens.push_back("LOUD");
  } else if (!loud && s->in_word) {
    s->text += " ";
    s->tokens.push_back(" ");
  }
  s->in_word = loud;
}

const char* SherpaOnnxGetOnlineStreamResultAsJson(const SherpaOnnxOnlineRecognizer* recognizer,
                                                  const SherpaOnnxOnlineStream* stream) {
  FakeStream* s = pair_of(recognizer, stream, "GetOnlineStreamResultAsJson");
  if (s == nullptr) return nullptr;
  if (s->script == "result-throws") throw std::out_of_range("_Map_base::at");
  if (fake().result_null || s->script == "result-null") return nullptr;
  std::string json = s->script == "raw" ? s->last_bytes : result_json(*s);
  auto* copy = new char[json.size() + 1];
  std::memcpy(copy, json.data(), json.size());
  copy[json.size()] = '\0';
  live_handles().insert(copy);
  ++fake().live_results;
  return copy;
}

void SherpaOnnxDestroyOnlineStreamResultJson(const char* json) {
  if (json == nullptr) return;
  if (live_handles().erase(json) == 0) {
    fault("a result JSON released twice or never handed out");
    return;
  }
  --fake().live_results;
  delete[] json;
}

const SherpaOnnxWave* SherpaOnnxReadWave(const char*) {
  if (!fake().wave_samples.has_value()) return nullptr;
  const std::vector<float>& samples = *fake().wave_samples;
  ++fake().live_waves;
  return new SherpaOnnxWave{samples.data(), fake().wave_rate, static_cast<int32_t>(samples.size())};
}

void SherpaOnnxFreeWave(const SherpaOnnxWave* wave) {
  if (wave == nullptr) return;
  --fake().live_waves;
  delete wave;
}

}  // extern "C"
