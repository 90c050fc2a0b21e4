// Our declarations of the part of the sherpa-onnx C interface that the helper
// calls (pinned runtime version 1.13.8; the package ships no header). The
// linker does not check these, so every record size and field offset that the
// runtime relies on is checked below. Only the runtime layer includes this.
#ifndef VELMORA_CORVANE_TTS_RUNTIME_SHERPA_ABI_H_
#define VELMORA_CORVANE_TTS_RUNTIME_SHERPA_ABI_H_

#include <cstddef>
#include <cstdint>

extern "C" {

// Opaque handles.
struct SherpaOnnxOfflineTts;
struct SherpaOnnxOnlineRecognizer;
struct SherpaOnnxOnlineStream;

// ---- Text to speech configuration -----------------------------------------

struct SherpaOnnxOfflineTtsVitsModelConfig {
  const char* model;
  const char* lexicon;
  const char* tokens;
  const char* data_dir;
  float noise_scale;
  float noise_scale_w;
  float length_scale;
  const char* dict_dir;
};

struct SherpaOnnxOfflineTtsMatchaModelConfig {
  const char* acoustic_model;
  const char* vocoder;
  const char* lexicon;
  const char* tokens;
  const char* data_dir;
  float noise_scale;
  float length_scale;
  const char* dict_dir;
};

struct SherpaOnnxOfflineTtsKokoroModelConfig {
  const char* model;
  const char* voices;
  const char* tokens;
  const char* data_dir;
  float length_scale;
  const char* dict_dir;
  const char* lexicon;  // comma-separated list of files
  const char* lang;
};

struct SherpaOnnxOfflineTtsKittenModelConfig {
  const char* model;
  const char* voices;
  const char* tokens;
  const char* data_dir;
  float length_scale;
};

struct SherpaOnnxOfflineTtsZipvoiceModelConfig {
  const char* tokens;
  const char* encoder;
  const char* decoder;
  const char* vocoder;
  const char* data_dir;
  const char* lexicon;
  float feat_scale;
  float t_shift;
  float target_rms;
  float guidance_scale;
};

struct SherpaOnnxOfflineTtsPocketModelConfig {
  const char* lm_flow;
  const char* lm_main;
  const char* encoder;
  const char* decoder;
  const char* text_conditioner;
  const char* vocab_json;
  const char* token_scores_json;
  int32_t voice_embedding_cache_capacity;
};

struct SherpaOnnxOfflineTtsSupertonicModelConfig {
  const char* duration_predictor;
  const char* text_encoder;
  const char* vector_estimator;
  const char* vocoder;
  const char* tts_json;
  const char* unicode_indexer;
  const char* voice_style;
};

struct SherpaOnnxOfflineTtsModelConfig {
  SherpaOnnxOfflineTtsVitsModelConfig vits;
  int32_t num_threads;
  int32_t debug;
  const char* provider;
  SherpaOnnxOfflineTtsMatchaModelConfig matcha;
  SherpaOnnxOfflineTtsKokoroModelConfig kokoro;
  SherpaOnnxOfflineTtsKittenModelConfig kitten;
  SherpaOnnxOfflineTtsZipvoiceModelConfig zipvoice;
  SherpaOnnxOfflineTtsPocketModelConfig pocket;
  SherpaOnnxOfflineTtsSupertonicModelConfig supertonic;
};

struct SherpaOnnxOfflineTtsConfig {
  SherpaOnnxOfflineTtsModelConfig model;
  const char* rule_fsts;
  int32_t max_num_sentences;
  const char* rule_fars;
  float silence_scale;
};

struct SherpaOnnxGenerationConfig {
  float silence_scale;
  float speed;
  int32_t sid;
  const float* reference_audio;
  int32_t reference_audio_len;
  int32_t reference_sample_rate;
  const char* reference_text;
  int32_t num_steps;
  const char* extra;  // JSON object text
};

struct SherpaOnnxGeneratedAudio {
  const float* samples;
  int32_t n;
  int32_t sample_rate;
};

typedef int32_t (*SherpaOnnxGeneratedAudioProgressCallbackWithArg)(const float* samples, int32_t n,
                                                                   float progress, void* arg);

// ---- Streaming recogniser configuration ------------------------------------

struct SherpaOnnxOnlineTransducerModelConfig {
  const char* encoder;
  const char* decoder;
  const char* joiner;
};

struct SherpaOnnxOnlineParaformerModelConfig {
  const char* encoder;
  const char* decoder;
};

struct SherpaOnnxOnlineZipformer2CtcModelConfig {
  const char* model;
};

struct SherpaOnnxOnlineNemoCtcModelConfig {
  const char* model;
};

struct SherpaOnnxOnlineToneCtcModelConfig {
  const char* model;
};

struct SherpaOnnxOnlineModelConfig {
  SherpaOnnxOnlineTransducerModelConfig transducer;
  SherpaOnnxOnlineParaformerModelConfig paraformer;
  SherpaOnnxOnlineZipformer2CtcModelConfig zipformer2_ctc;
  const char* tokens;
  int32_t num_threads;
  const char* provider;
  int32_t debug;
  const char* model_type;
  const char* modeling_unit;
  const char* bpe_vocab;
  const char* tokens_buf;
  int32_t tokens_buf_size;
  SherpaOnnxOnlineNemoCtcModelConfig nemo_ctc;
  SherpaOnnxOnlineToneCtcModelConfig t_one_ctc;
};

struct SherpaOnnxFeatureConfig {
  int32_t sample_rate;
  int32_t feature_dim;
};

struct SherpaOnnxOnlineCtcFstDecoderConfig {
  const char* graph;
  int32_t max_active;
};

struct SherpaOnnxHomophoneReplacerConfig {
  const char* dict_dir;
  const char* lexicon;
  const char* rule_fsts;
};

struct SherpaOnnxOnlineRecognizerConfig {
  SherpaOnnxFeatureConfig feat_config;
  SherpaOnnxOnlineModelConfig model_config;
  const char* decoding_method;
  int32_t max_active_paths;
  int32_t enable_endpoint;
  float rule1_min_trailing_silence;
  float rule2_min_trailing_silence;
  float rule3_min_utterance_length;
  const char* hotwords_file;
  float hotwords_score;
  SherpaOnnxOnlineCtcFstDecoderConfig ctc_fst_decoder_config;
  const char* rule_fsts;
  const char* rule_fars;
  float blank_penalty;
  const char* hotwords_buf;
  int32_t hotwords_buf_size;
  SherpaOnnxHomophoneReplacerConfig hr;
};

struct SherpaOnnxWave {
  const float* samples;
  int32_t sample_rate;  // note: before the count, unlike SherpaOnnxGeneratedAudio
  int32_t num_samples;
};

// ---- Functions ---------------------------------------------------------------
// Create and read functions return null on failure. Destroy functions accept
// null. Every input string is copied during the call.

const SherpaOnnxOfflineTts* SherpaOnnxCreateOfflineTts(const SherpaOnnxOfflineTtsConfig* config);
void SherpaOnnxDestroyOfflineTts(const SherpaOnnxOfflineTts* tts);
const SherpaOnnxGeneratedAudio* SherpaOnnxOfflineTtsGenerateWithConfig(
    const SherpaOnnxOfflineTts* tts, const char* text, const SherpaOnnxGenerationConfig* config,
    SherpaOnnxGeneratedAudioProgressCallbackWithArg callback, void* arg);
void SherpaOnnxDestroyOfflineTtsGeneratedAudio(const SherpaOnnxGeneratedAudio* audio);

const SherpaOnnxOnlineRecognizer* SherpaOnnxCreateOnlineRecognizer(
    const SherpaOnnxOnlineRecognizerConfig* config);
void SherpaOnnxDestroyOnlineRecognizer(const SherpaOnnxOnlineRecognizer* recognizer);
const SherpaOnnxOnlineStream* SherpaOnnxCreateOnlineStream(
    const SherpaOnnxOnlineRecognizer* recognizer);
void SherpaOnnxDestroyOnlineStream(const SherpaOnnxOnlineStream* stream);
void SherpaOnnxOnlineStreamSetOption(const SherpaOnnxOnlineStream* stream, const char* key,
                                     const char* value);
void SherpaOnnxOnlineStreamAcceptWaveform(const SherpaOnnxOnlineStream* stream,
                                          int32_t sample_rate, const float* samples, int32_t n);
void SherpaOnnxOnlineStreamInputFinished(const SherpaOnnxOnlineStream* stream);
int32_t SherpaOnnxIsOnlineStreamReady(const SherpaOnnxOnlineRecognizer* recognizer,
                                      const SherpaOnnxOnlineStream* stream);
void SherpaOnnxDecodeOnlineStream(const SherpaOnnxOnlineRecognizer* recognizer,
                                  const SherpaOnnxOnlineStream* stream);
const char* SherpaOnnxGetOnlineStreamResultAsJson(const SherpaOnnxOnlineRecognizer* recognizer,
                                                  const SherpaOnnxOnlineStream* stream);
void SherpaOnnxDestroyOnlineStreamResultJson(const char* json);

const SherpaOnnxWave* SherpaOnnxReadWave(const char* path);
void SherpaOnnxFreeWave(const SherpaOnnxWave* wave);

}  // extern "C"

// ---- Layout checks (x86-64 SysV LP64) ----------------------------------------
#define VCT_CHECK_LAYOUT(type, field, offset) \
  static_assert(offsetof(type, field) == (offset), #type "." #field " offset")

static_assert(sizeof(SherpaOnnxOfflineTtsVitsModelConfig) == 56);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsVitsModelConfig, noise_scale, 32);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsVitsModelConfig, noise_scale_w, 36);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsVitsModelConfig, length_scale, 40);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsVitsModelConfig, dict_dir, 48);
static_assert(sizeof(SherpaOnnxOfflineTtsMatchaModelConfig) == 56);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsMatchaModelConfig, data_dir, 32);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsMatchaModelConfig, noise_scale, 40);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsMatchaModelConfig, length_scale, 44);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsMatchaModelConfig, dict_dir, 48);
static_assert(sizeof(SherpaOnnxOfflineTtsKokoroModelConfig) == 64);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsKokoroModelConfig, length_scale, 32);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsKokoroModelConfig, dict_dir, 40);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsKokoroModelConfig, lexicon, 48);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsKokoroModelConfig, lang, 56);
static_assert(sizeof(SherpaOnnxOfflineTtsKittenModelConfig) == 40);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsKittenModelConfig, length_scale, 32);
static_assert(sizeof(SherpaOnnxOfflineTtsZipvoiceModelConfig) == 64);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsZipvoiceModelConfig, feat_scale, 48);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsZipvoiceModelConfig, guidance_scale, 60);
static_assert(sizeof(SherpaOnnxOfflineTtsPocketModelConfig) == 64);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsPocketModelConfig, voice_embedding_cache_capacity, 56);
static_assert(sizeof(SherpaOnnxOfflineTtsSupertonicModelConfig) == 56);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsSupertonicModelConfig, voice_style, 48);
static_assert(sizeof(SherpaOnnxOfflineTtsModelConfig) == 416);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsModelConfig, num_threads, 56);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsModelConfig, debug, 60);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsModelConfig, provider, 64);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsModelConfig, matcha, 72);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsModelConfig, kokoro, 128);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsModelConfig, kitten, 192);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsModelConfig, zipvoice, 232);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsModelConfig, pocket, 296);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsModelConfig, supertonic, 360);
static_assert(sizeof(SherpaOnnxOfflineTtsConfig) == 448);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, rule_fsts, 416);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, max_num_sentences, 424);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, rule_fars, 432);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, silence_scale, 440);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.kokoro.model, 128);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.kokoro.voices, 136);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.kokoro.tokens, 144);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.kokoro.data_dir, 152);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.kokoro.length_scale, 160);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.kokoro.dict_dir, 168);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.kokoro.lexicon, 176);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.kokoro.lang, 184);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.supertonic.duration_predictor, 360);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.supertonic.text_encoder, 368);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.supertonic.vector_estimator, 376);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.supertonic.vocoder, 384);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.supertonic.tts_json, 392);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.supertonic.unicode_indexer, 400);
VCT_CHECK_LAYOUT(SherpaOnnxOfflineTtsConfig, model.supertonic.voice_style, 408);

static_assert(sizeof(SherpaOnnxGenerationConfig) == 56);
VCT_CHECK_LAYOUT(SherpaOnnxGenerationConfig, speed, 4);
VCT_CHECK_LAYOUT(SherpaOnnxGenerationConfig, sid, 8);
VCT_CHECK_LAYOUT(SherpaOnnxGenerationConfig, reference_audio, 16);
VCT_CHECK_LAYOUT(SherpaOnnxGenerationConfig, reference_audio_len, 24);
VCT_CHECK_LAYOUT(SherpaOnnxGenerationConfig, reference_sample_rate, 28);
VCT_CHECK_LAYOUT(SherpaOnnxGenerationConfig, reference_text, 32);
VCT_CHECK_LAYOUT(SherpaOnnxGenerationConfig, num_steps, 40);
VCT_CHECK_LAYOUT(SherpaOnnxGenerationConfig, extra, 48);
static_assert(sizeof(SherpaOnnxGeneratedAudio) == 16);
VCT_CHECK_LAYOUT(SherpaOnnxGeneratedAudio, n, 8);
VCT_CHECK_LAYOUT(SherpaOnnxGeneratedAudio, sample_rate, 12);

static_assert(sizeof(SherpaOnnxOnlineTransducerModelConfig) == 24);
static_assert(sizeof(SherpaOnnxOnlineParaformerModelConfig) == 16);
static_assert(sizeof(SherpaOnnxOnlineZipformer2CtcModelConfig) == 8);
static_assert(sizeof(SherpaOnnxOnlineNemoCtcModelConfig) == 8);
static_assert(sizeof(SherpaOnnxOnlineToneCtcModelConfig) == 8);
static_assert(sizeof(SherpaOnnxOnlineModelConfig) == 136);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineModelConfig, paraformer, 24);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineModelConfig, zipformer2_ctc, 40);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineModelConfig, tokens, 48);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineModelConfig, num_threads, 56);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineModelConfig, provider, 64);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineModelConfig, debug, 72);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineModelConfig, model_type, 80);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineModelConfig, modeling_unit, 88);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineModelConfig, bpe_vocab, 96);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineModelConfig, tokens_buf, 104);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineModelConfig, tokens_buf_size, 112);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineModelConfig, nemo_ctc, 120);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineModelConfig, t_one_ctc, 128);
static_assert(sizeof(SherpaOnnxFeatureConfig) == 8);
static_assert(sizeof(SherpaOnnxOnlineCtcFstDecoderConfig) == 16);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineCtcFstDecoderConfig, max_active, 8);
static_assert(sizeof(SherpaOnnxHomophoneReplacerConfig) == 24);
static_assert(sizeof(SherpaOnnxOnlineRecognizerConfig) == 272);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, feat_config.feature_dim, 4);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, model_config.transducer.encoder, 8);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, model_config.transducer.decoder, 16);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, model_config.transducer.joiner, 24);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, model_config.tokens, 56);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, model_config.num_threads, 64);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, model_config.provider, 72);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, model_config.debug, 80);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, decoding_method, 144);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, max_active_paths, 152);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, enable_endpoint, 156);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, rule1_min_trailing_silence, 160);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, rule2_min_trailing_silence, 164);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, rule3_min_utterance_length, 168);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, hotwords_file, 176);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, hotwords_score, 184);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, ctc_fst_decoder_config, 192);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, ctc_fst_decoder_config.max_active, 200);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, rule_fsts, 208);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, rule_fars, 216);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, blank_penalty, 224);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, hotwords_buf, 232);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, hotwords_buf_size, 240);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, hr, 248);
VCT_CHECK_LAYOUT(SherpaOnnxOnlineRecognizerConfig, hr.rule_fsts, 264);

static_assert(sizeof(SherpaOnnxWave) == 16);
VCT_CHECK_LAYOUT(SherpaOnnxWave, sample_rate, 8);
VCT_CHECK_LAYOUT(SherpaOnnxWave, num_samples, 12);

#undef VCT_CHECK_LAYOUT

#endif  // VELMORA_CORVANE_TTS_RUNTIME_SHERPA_ABI_H_
