// Owning wrappers over the speech runtime (sherpa-onnx C interface). This is
// the only layer that knows the runtime's records; the rest of the helper
// describes what it wants with the plain settings below.
//
// Every wrapper holds one non-null runtime handle and releases it exactly
// once. Every call into the runtime is guarded: an exception thrown out of
// the runtime becomes an Error, and a text that cannot be handed over as a
// NUL-terminated string (it holds a NUL byte) fails without calling it.
#ifndef VELMORA_CORVANE_TTS_RUNTIME_SPEECH_RUNTIME_H_
#define VELMORA_CORVANE_TTS_RUNTIME_SPEECH_RUNTIME_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "common/result.h"

struct SherpaOnnxOfflineTts;
struct SherpaOnnxGeneratedAudio;
struct SherpaOnnxOnlineRecognizer;
struct SherpaOnnxOnlineStream;
struct SherpaOnnxWave;

namespace velmora_corvane_tts::runtime {

// Move-only owner of one runtime handle, released by `Release`.
template <typename Handle, void (*Release)(const Handle*)>
class Owned {
 public:
  Owned() = default;
  explicit Owned(const Handle* handle) : handle_(handle) {}
  Owned(Owned&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.handle_;
      other.handle_ = nullptr;
    }
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { reset(); }

  const Handle* get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset() {
    if (handle_ != nullptr) Release(handle_);
    handle_ = nullptr;
  }

 private:
  const Handle* handle_ = nullptr;
};

void release_offline_tts(const SherpaOnnxOfflineTts* handle);
void release_generated_audio(const SherpaOnnxGeneratedAudio* handle);
void release_online_recognizer(const SherpaOnnxOnlineRecognizer* handle);
void release_online_stream(const SherpaOnnxOnlineStream* handle);
void release_wave(const SherpaOnnxWave* handle);

// ---- Synthesis ----------------------------------------------------------------

struct KokoroFiles {
  std::string model, voices, tokens, data_dir, dict_dir;
  std::string lexicon;  // comma-separated list of files
  float length_scale = 1.0f;
};

struct SupertonicFiles {
  std::string duration_predictor, text_encoder, vector_estimator, vocoder, tts_json,
      unicode_indexer, voice_style;
};

// Engine configuration; the values given are the ones every catalogue
// model uses. Records of the engine kinds not selected carry no paths and
// the runtime's numeric defaults.
struct TtsEngineSettings {
  std::variant<KokoroFiles, SupertonicFiles> model;
  int32_t num_threads = 2;
  bool debug = false;
  std::string provider = "cpu";
  int32_t max_num_sentences = 1;
  float silence_scale = 0.0f;
};

// Per-call generation parameters. No reference audio or text is passed.
struct GenerationSettings {
  float silence_scale = 0.2f;
  float speed = 1.0f;
  int32_t sid = 0;
  int32_t num_steps = 5;
  std::string extra = "{}";  // a JSON object text, never null
};

// Audio returned by one generate call.
class GeneratedAudio {
 public:
  explicit GeneratedAudio(const SherpaOnnxGeneratedAudio* handle) : handle_(handle) {}
  const float* samples() const;
  int32_t sample_count() const;
  int32_t sample_rate() const;

 private:
  Owned<SherpaOnnxGeneratedAudio, release_generated_audio> handle_;
};

class OfflineTts {
 public:
  // Null (the runtime returned no engine), a throw, or a NUL in a path: Error.
  static Result<OfflineTts> create(const TtsEngineSettings& settings);

  // Synthesises `text` (NUL-terminated, so it ends at its first NUL) with no
  // progress callback. No audio record, or a throw: Error.
  Result<GeneratedAudio> generate(const std::string& text,
                                  const GenerationSettings& settings) const;

 private:
  explicit OfflineTts(const SherpaOnnxOfflineTts* handle) : handle_(handle) {}
  Owned<SherpaOnnxOfflineTts, release_offline_tts> handle_;
};

// ---- Streaming recognition --------------------------------------------------

// A streaming transducer recogniser's configuration; the values given are
// the ones the helper uses (the sample rate is kRecognizerSampleRate of
// stream/recognizer.h).
struct RecognizerSettings {
  std::string encoder, decoder, joiner, tokens;
  int32_t num_threads = 2;
  std::string provider = "cpu";
  std::string decoding_method = "greedy_search";
  int32_t sample_rate = 16000;
  int32_t feature_dim = 80;
  int32_t ctc_fst_max_active = 4;
};

class OnlineRecognizer;

// A stream on which the runtime threw while decoding has lost its model
// state, and decoding it again would crash the process: the decode step
// reports the failure, and from then on every call on the stream fails
// without reaching the runtime. Callers close such a stream.
class OnlineStream {
 public:
  // Sets a named option. A NUL in either text, or a throw: Error, nothing set.
  Status set_option(const std::string& key, const std::string& value);
  // Hands samples to the stream (in pieces if they exceed the runtime's
  // 32-bit count). A throw: Error.
  Status accept_waveform(int32_t sample_rate, std::span<const float> samples);
  Status input_finished();
  // True once a decode step on this stream has thrown.
  bool failed() const { return failed_; }

 private:
  friend class OnlineRecognizer;
  explicit OnlineStream(const SherpaOnnxOnlineStream* handle) : handle_(handle) {}
  Owned<SherpaOnnxOnlineStream, release_online_stream> handle_;
  bool failed_ = false;
};

// A stream must be destroyed before the recogniser that created it.
class OnlineRecognizer {
 public:
  static Result<OnlineRecognizer> create(const RecognizerSettings& settings);

  Result<OnlineStream> create_stream() const;
  // Whether a decode step is possible.
  Result<bool> is_ready(const OnlineStream& stream) const;
  // One decode step; a throw marks the stream failed.
  Status decode(OnlineStream& stream) const;
  // The current result as JSON text (invalid UTF-8 replaced by U+FFFD), or
  // std::nullopt when the runtime has none; the runtime's copy is released.
  Result<std::optional<std::string>> result_json(const OnlineStream& stream) const;

 private:
  explicit OnlineRecognizer(const SherpaOnnxOnlineRecognizer* handle) : handle_(handle) {}
  Owned<SherpaOnnxOnlineRecognizer, release_online_recognizer> handle_;
};

// ---- WAV files ----------------------------------------------------------------

class Wave {
 public:
  // Reads a WAV file; an unreadable file (null), NUL in the path or a throw: Error.
  static Result<Wave> read(const std::string& path);
  std::span<const float> samples() const;
  int32_t sample_rate() const;

 private:
  explicit Wave(const SherpaOnnxWave* handle) : handle_(handle) {}
  Owned<SherpaOnnxWave, release_wave> handle_;
};

}  // namespace velmora_corvane_tts::runtime

#endif  // VELMORA_CORVANE_TTS_RUNTIME_SPEECH_RUNTIME_H_
