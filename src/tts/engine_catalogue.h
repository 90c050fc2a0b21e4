// The catalogue of synthesis models: which files each needs, the checks a
// model directory must pass, and the engine configuration handed to the
// runtime. The one-slot cache of engines is engine_cache.h.
#ifndef VELMORA_CORVANE_TTS_TTS_ENGINE_CATALOGUE_H_
#define VELMORA_CORVANE_TTS_TTS_ENGINE_CATALOGUE_H_

#include <string>
#include <string_view>

#include "common/result.h"
#include "runtime/speech_runtime.h"

namespace velmora_corvane_tts {

// Creates an engine for a catalogue model. Its messages are reply texts of
// the synthesis protocol, fixed word for word. A model id outside the
// catalogue gives "Unsupported local speech model". These give
// "Could not load the local speech model from {model_dir}", and all but the
// last are found before the runtime is called:
//   - a file of the model that this process cannot open for reading, or that
//     is missing: Kokoro's model.int8.onnx, voices.bin, tokens.txt,
//     lexicon-us-en.txt and lexicon-zh.txt (not dict/), Supertonic's seven;
//   - unless `espeak_data_read`, espeak-ng data in espeak-ng-data/ that the
//     runtime's espeak-ng would not start with: phontab, phonindex, phondata
//     or intonations unreadable or empty, or a phondata that does not begin
//     with the data version and sample rate this runtime expects;
//   - a model file whose size shows that the runtime would end the process
//     loading it: a Kokoro voices.bin or a Supertonic unicode_indexer.bin
//     that is empty or not a multiple of 4 bytes, and a Supertonic voice.bin
//     shorter than its 48-byte header, with a dimension that is not
//     positive, with two different voice counts (n != n'), or whose size is
//     not the header plus 4 * (n*a*b + n'*c*d) bytes for its dimensions;
//   - a directory holding a NUL character;
//   - a runtime that returns no engine, or throws.
// `espeak_data_read` says that a Kokoro engine was created earlier in this
// process: the runtime starts espeak-ng once, with the data of the first
// Kokoro engine, and never reads another directory's data after that.
Result<runtime::OfflineTts> create_engine(std::string_view model_id, std::string_view model_dir,
                                          bool espeak_data_read = false);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_TTS_ENGINE_CATALOGUE_H_
