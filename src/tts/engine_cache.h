// The one-slot cache of synthesis engines that a synthesis service keeps.
#ifndef VELMORA_CORVANE_TTS_TTS_ENGINE_CACHE_H_
#define VELMORA_CORVANE_TTS_TTS_ENGINE_CACHE_H_

#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "runtime/speech_runtime.h"

namespace velmora_corvane_tts {

// Holds at most one engine with the model id and directory it was created
// for. A request for the cached model id and an equal directory (see
// same_model_dir) reuses it; any other request creates a new engine (see
// create_engine) and, only once that exists, destroys the old one. A failed
// creation leaves the cache as it was. One cache serves a whole process: it
// keeps whether a Kokoro engine has been created, for create_engine's
// espeak-ng data check.
class EngineCache {
 public:
  // The engine for this model, loading it if needed; or the reply message.
  // The pointer stays valid until the next acquire() or clear() on this
  // cache, or its destruction, whichever comes first.
  Result<const runtime::OfflineTts*> acquire(std::string_view model_id,
                                             std::string_view model_dir);

  // Destroys the cached engine, if any.
  void clear() { loaded_.reset(); }
  bool empty() const { return !loaded_.has_value(); }

 private:
  struct Loaded {
    std::string model_id;
    std::string model_dir;
    runtime::OfflineTts engine;
  };

  std::optional<Loaded> loaded_;
  bool espeak_data_read_ = false;
};

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_TTS_ENGINE_CACHE_H_
