#include "runtime/speech_runtime.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <string_view>
#include <type_traits>

#include "common/text.h"
#include "runtime/sherpa_abi.h"
#if defined(_WIN32)
#include "runtime/msvc_exception_guard.h"
#endif

namespace velmora_corvane_tts::runtime {
namespace {

#if defined(_WIN32)
// The runtime's DLLs throw MSVC exceptions, which catch clauses here do not
// see; the call goes through the guard that catches them. `call` makes the
// runtime call and nothing else, as the guard requires.
template <typename Fn>
auto call_in_guard(Fn& call) -> Result<decltype(call())> {
  using Value = decltype(call());
  struct Frame {
    Fn* call;
    std::conditional_t<std::is_void_v<Value>, bool, Value> value{};
  } frame{&call};
  auto run = [](void* f) {
    auto* self = static_cast<Frame*>(f);
    if constexpr (std::is_void_v<Value>) {
      (*self->call)();
    } else {
      self->value = (*self->call)();
    }
  };
  std::string what;
  if (!call_catching_msvc_exceptions(run, &frame, what)) {
    // As the catch clauses below word it: no text when no std::exception.
    return Error(what.empty() ? "the speech runtime failed" : "the speech runtime failed: " + what);
  }
  if constexpr (std::is_void_v<Value>) {
    return Status();
  } else {
    return frame.value;
  }
}
#endif

// Runs `call`, turning anything the runtime throws into an Error.
template <typename Fn>
auto guarded(Fn&& call) -> Result<decltype(call())> {
  try {
#if defined(_WIN32)
    return call_in_guard(call);
#else
    if constexpr (std::is_void_v<decltype(call())>) {
      call();
      return Status();
    } else {
      return call();
    }
#endif
  } catch (const std::exception& e) {
    return Error(std::string("the speech runtime failed: ") + e.what());
  } catch (...) {
    return Error("the speech runtime failed");
  }
}

bool has_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

void release_result_json(const char* json) { SherpaOnnxDestroyOnlineStreamResultJson(json); }

const Error kNulInText("a text for the speech runtime contains a NUL character");
const Error kFailedStream("the speech runtime failed on this stream before");

void fill_default_numbers(SherpaOnnxOfflineTtsModelConfig& m) {
  m.vits.noise_scale = 0.667f;
  m.vits.noise_scale_w = 0.8f;
  m.vits.length_scale = 1.0f;
  m.matcha.noise_scale = 0.667f;
  m.matcha.length_scale = 1.0f;
  m.kokoro.length_scale = 1.0f;
  m.kitten.length_scale = 1.0f;
}

}  // namespace

void release_offline_tts(const SherpaOnnxOfflineTts* h) { SherpaOnnxDestroyOfflineTts(h); }
void release_generated_audio(const SherpaOnnxGeneratedAudio* h) {
  SherpaOnnxDestroyOfflineTtsGeneratedAudio(h);
}
void release_online_recognizer(const SherpaOnnxOnlineRecognizer* h) {
  SherpaOnnxDestroyOnlineRecognizer(h);
}
void release_online_stream(const SherpaOnnxOnlineStream* h) { SherpaOnnxDestroyOnlineStream(h); }
void release_wave(const SherpaOnnxWave* h) { SherpaOnnxFreeWave(h); }

// ---- Synthesis ----------------------------------------------------------------

const float* GeneratedAudio::samples() const { return handle_.get()->samples; }
int32_t GeneratedAudio::sample_count() const { return handle_.get()->n; }
int32_t GeneratedAudio::sample_rate() const { return handle_.get()->sample_rate; }

Result<OfflineTts> OfflineTts::create(const TtsEngineSettings& settings) {
  SherpaOnnxOfflineTtsConfig config;
  std::memset(&config, 0, sizeof config);
  SherpaOnnxOfflineTtsModelConfig& m = config.model;
  fill_default_numbers(m);
  m.num_threads = settings.num_threads;
  m.debug = settings.debug ? 1 : 0;
  if (has_nul(settings.provider)) return kNulInText;
  m.provider = settings.provider.c_str();

  if (const auto* k = std::get_if<KokoroFiles>(&settings.model)) {
    for (const std::string* s : {&k->model, &k->voices, &k->tokens, &k->data_dir, &k->dict_dir,
                                 &k->lexicon}) {
      if (has_nul(*s)) return kNulInText;
    }
    m.kokoro.model = k->model.c_str();
    m.kokoro.voices = k->voices.c_str();
    m.kokoro.tokens = k->tokens.c_str();
    m.kokoro.data_dir = k->data_dir.c_str();
    m.kokoro.dict_dir = k->dict_dir.c_str();
    m.kokoro.lexicon = k->lexicon.c_str();
    m.kokoro.lang = nullptr;
    m.kokoro.length_scale = k->length_scale;
  } else {
    const auto& s = std::get<SupertonicFiles>(settings.model);
    for (const std::string* p : {&s.duration_predictor, &s.text_encoder, &s.vector_estimator,
                                 &s.vocoder, &s.tts_json, &s.unicode_indexer, &s.voice_style}) {
      if (has_nul(*p)) return kNulInText;
    }
    m.supertonic.duration_predictor = s.duration_predictor.c_str();
    m.supertonic.text_encoder = s.text_encoder.c_str();
    m.supertonic.vector_estimator = s.vector_estimator.c_str();
    m.supertonic.vocoder = s.vocoder.c_str();
    m.supertonic.tts_json = s.tts_json.c_str();
    m.supertonic.unicode_indexer = s.unicode_indexer.c_str();
    m.supertonic.voice_style = s.voice_style.c_str();
  }
  config.rule_fsts = nullptr;
  config.rule_fars = nullptr;
  config.max_num_sentences = settings.max_num_sentences;
  config.silence_scale = settings.silence_scale;

  auto created = guarded([&] { return SherpaOnnxCreateOfflineTts(&config); });
  if (!created.ok()) return std::move(created).error();
  if (created.value() == nullptr) return Error("the speech runtime returned no engine");
  return OfflineTts(created.value());
}

Result<GeneratedAudio> OfflineTts::generate(const std::string& text,
                                            const GenerationSettings& settings) const {
  if (has_nul(settings.extra)) return kNulInText;
  SherpaOnnxGenerationConfig config;
  std::memset(&config, 0, sizeof config);
  config.silence_scale = settings.silence_scale;
  config.speed = settings.speed;
  config.sid = settings.sid;
  config.reference_audio = nullptr;
  config.reference_audio_len = 0;
  config.reference_sample_rate = 0;
  config.reference_text = nullptr;
  config.num_steps = settings.num_steps;
  config.extra = settings.extra.c_str();
  auto audio = guarded([&] {
    return SherpaOnnxOfflineTtsGenerateWithConfig(handle_.get(), text.c_str(), &config, nullptr,
                                                  nullptr);
  });
  if (!audio.ok()) return std::move(audio).error();
  if (audio.value() == nullptr) return Error("the speech runtime returned no audio record");
  return GeneratedAudio(audio.value());
}

// ---- Streaming recognition --------------------------------------------------

Result<OnlineRecognizer> OnlineRecognizer::create(const RecognizerSettings& s) {
  for (const std::string* p : {&s.encoder, &s.decoder, &s.joiner, &s.tokens, &s.provider,
                               &s.decoding_method}) {
    if (has_nul(*p)) return kNulInText;
  }
  SherpaOnnxOnlineRecognizerConfig config;
  std::memset(&config, 0, sizeof config);
  config.feat_config.sample_rate = s.sample_rate;
  config.feat_config.feature_dim = s.feature_dim;
  config.model_config.transducer.encoder = s.encoder.c_str();
  config.model_config.transducer.decoder = s.decoder.c_str();
  config.model_config.transducer.joiner = s.joiner.c_str();
  config.model_config.tokens = s.tokens.c_str();
  config.model_config.num_threads = s.num_threads;
  config.model_config.provider = s.provider.c_str();
  config.model_config.debug = 0;
  config.decoding_method = s.decoding_method.c_str();
  config.ctc_fst_decoder_config.max_active = s.ctc_fst_max_active;
  auto created = guarded([&] { return SherpaOnnxCreateOnlineRecognizer(&config); });
  if (!created.ok()) return std::move(created).error();
  if (created.value() == nullptr) return Error("the speech runtime returned no recognizer");
  return OnlineRecognizer(created.value());
}

Result<OnlineStream> OnlineRecognizer::create_stream() const {
  auto created = guarded([&] { return SherpaOnnxCreateOnlineStream(handle_.get()); });
  if (!created.ok()) return std::move(created).error();
  if (created.value() == nullptr) return Error("the speech runtime returned no stream");
  return OnlineStream(created.value());
}

Result<bool> OnlineRecognizer::is_ready(const OnlineStream& stream) const {
  if (stream.failed_) return kFailedStream;
  auto ready = guarded(
      [&] { return SherpaOnnxIsOnlineStreamReady(handle_.get(), stream.handle_.get()); });
  if (!ready.ok()) return std::move(ready).error();
  return ready.value() != 0;
}

Status OnlineRecognizer::decode(OnlineStream& stream) const {
  if (stream.failed_) return kFailedStream;
  Status s =
      guarded([&] { SherpaOnnxDecodeOnlineStream(handle_.get(), stream.handle_.get()); });
  if (!s.ok()) stream.failed_ = true;
  return s;
}

Result<std::optional<std::string>> OnlineRecognizer::result_json(const OnlineStream& stream) const {
  if (stream.failed_) return kFailedStream;
  auto json = guarded(
      [&] { return SherpaOnnxGetOnlineStreamResultAsJson(handle_.get(), stream.handle_.get()); });
  if (!json.ok()) return std::move(json).error();
  Owned<char, release_result_json> owned(json.value());
  if (!owned) return std::optional<std::string>();
  return std::optional<std::string>(to_valid_utf8(owned.get()));
}

Status OnlineStream::set_option(const std::string& key, const std::string& value) {
  if (failed_) return kFailedStream;
  if (has_nul(key) || has_nul(value)) return kNulInText;
  return guarded(
      [&] { SherpaOnnxOnlineStreamSetOption(handle_.get(), key.c_str(), value.c_str()); });
}

Status OnlineStream::accept_waveform(int32_t sample_rate, std::span<const float> samples) {
  if (failed_) return kFailedStream;
  do {
    size_t count = std::min<size_t>(samples.size(), INT32_MAX);
    Status s = guarded([&] {
      SherpaOnnxOnlineStreamAcceptWaveform(handle_.get(), sample_rate, samples.data(),
                                           static_cast<int32_t>(count));
    });
    if (!s.ok()) return s;
    samples = samples.subspan(count);
  } while (!samples.empty());
  return Status();
}

Status OnlineStream::input_finished() {
  if (failed_) return kFailedStream;
  return guarded([&] { SherpaOnnxOnlineStreamInputFinished(handle_.get()); });
}

// ---- WAV files ----------------------------------------------------------------

Result<Wave> Wave::read(const std::string& path) {
  if (has_nul(path)) return kNulInText;
  auto wave = guarded([&] { return SherpaOnnxReadWave(path.c_str()); });
  if (!wave.ok()) return std::move(wave).error();
  if (wave.value() == nullptr) return Error("the speech runtime could not read the file");
  return Wave(wave.value());
}

std::span<const float> Wave::samples() const {
  const SherpaOnnxWave* w = handle_.get();
  if (w->samples == nullptr || w->num_samples <= 0) return {};
  return {w->samples, static_cast<size_t>(w->num_samples)};
}

int32_t Wave::sample_rate() const { return handle_.get()->sample_rate; }

}  // namespace velmora_corvane_tts::runtime
