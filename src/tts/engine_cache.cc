#include "tts/engine_cache.h"

#include "common/model_path.h"
#include "tts/corvane_tts_protocol.h"
#include "tts/engine_catalogue.h"

namespace velmora_corvane_tts {

Result<const runtime::OfflineTts*> EngineCache::acquire(std::string_view model_id,
                                                        std::string_view model_dir) {
  if (loaded_ && loaded_->model_id == model_id && same_model_dir(loaded_->model_dir, model_dir)) {
    return &loaded_->engine;
  }
  auto engine = create_engine(model_id, model_dir, espeak_data_read_);
  if (!engine.ok()) return std::move(engine).error();
  if (model_id == kKokoroModelId) espeak_data_read_ = true;
  // Replaced new before old: a failed load must leave the cached engine
  // usable (the contract keeps serving the old model), so the new engine is
  // built first and the old one destroyed only once that has succeeded. For
  // a moment both are in memory. The recogniser cache replaces in the
  // opposite order (see StreamService).
  loaded_ = Loaded{std::string(model_id), std::string(model_dir), std::move(engine).value()};
  return &loaded_->engine;
}

}  // namespace velmora_corvane_tts
