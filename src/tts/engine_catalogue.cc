#include "tts/engine_catalogue.h"

#include "common/model_path.h"
#include "tts/corvane_tts_protocol.h"

namespace velmora_corvane_tts {

Result<runtime::TtsEngineSettings> engine_settings(std::string_view model_id,
                                                   std::string_view dir) {
  runtime::TtsEngineSettings settings;
  settings.num_threads = 2;
  settings.debug = false;
  settings.provider = "cpu";
  settings.max_num_sentences = 1;
  settings.silence_scale = 0.0f;
  if (model_id == kKokoroModelId) {
    runtime::KokoroFiles k;
    k.model = join_model_path(dir, "model.int8.onnx");
    k.voices = join_model_path(dir, "voices.bin");
    k.tokens = join_model_path(dir, "tokens.txt");
    k.data_dir = join_model_path(dir, "espeak-ng-data");
    k.dict_dir = join_model_path(dir, "dict");
    k.lexicon = join_model_path(dir, "lexicon-us-en.txt") + "," +
                join_model_path(dir, "lexicon-zh.txt");
    k.length_scale = 1.0f;
    settings.model = std::move(k);
  } else if (model_id == kSupertonicModelId) {
    runtime::SupertonicFiles s;
    s.duration_predictor = join_model_path(dir, "duration_predictor.int8.onnx");
    s.text_encoder = join_model_path(dir, "text_encoder.int8.onnx");
    s.vector_estimator = join_model_path(dir, "vector_estimator.int8.onnx");
    s.vocoder = join_model_path(dir, "vocoder.int8.onnx");
    s.tts_json = join_model_path(dir, "tts.json");
    s.unicode_indexer = join_model_path(dir, "unicode_indexer.bin");
    s.voice_style = join_model_path(dir, "voice.bin");
    settings.model = std::move(s);
  } else {
    return Error("Unsupported local speech model");
  }
  return settings;
}

Result<runtime::OfflineTts> create_engine(std::string_view model_id, std::string_view model_dir) {
  auto settings = engine_settings(model_id, model_dir);
  if (!settings.ok()) return std::move(settings).error();
  auto engine = runtime::OfflineTts::create(settings.value());
  if (!engine.ok()) {
    return Error("Could not load the local speech model from " + std::string(model_dir));
  }
  return std::move(engine).value();
}

Result<const runtime::OfflineTts*> EngineCache::acquire(std::string_view model_id,
                                                        std::string_view model_dir) {
  if (loaded_ && loaded_->model_id == model_id && same_model_dir(loaded_->model_dir, model_dir)) {
    return &loaded_->engine;
  }
  auto engine = create_engine(model_id, model_dir);
  if (!engine.ok()) return std::move(engine).error();
  // The old engine is destroyed only now that the new one exists.
  loaded_.reset();
  loaded_.emplace(LoadedModel{std::string(model_id), std::string(model_dir),
                              std::move(engine).value()});
  if (!loaded_) return Error("Speech model did not remain loaded");
  return &loaded_->engine;
}

}  // namespace velmora_corvane_tts
