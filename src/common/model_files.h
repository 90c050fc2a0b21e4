// The files each kind of model directory must hold, as the helper's checks
// look for them. One list, read by the helper (engine_catalogue.cc,
// recognizer.cc) and by corvane-check-model.
#ifndef VELMORA_CORVANE_TTS_COMMON_MODEL_FILES_H_
#define VELMORA_CORVANE_TTS_COMMON_MODEL_FILES_H_

#include <array>
#include <string_view>

namespace velmora_corvane_tts {

// The files the runtime reads while it loads an engine of each kind (Kokoro
// also reads espeak-ng's data, below; its "dict" directory is never read).
inline constexpr std::array<std::string_view, 5> kKokoroFiles = {
    "model.int8.onnx", "voices.bin", "tokens.txt", "lexicon-us-en.txt", "lexicon-zh.txt"};
inline constexpr std::array<std::string_view, 7> kSupertonicFiles = {
    "duration_predictor.int8.onnx", "text_encoder.int8.onnx", "vector_estimator.int8.onnx",
    "vocoder.int8.onnx", "tts.json", "unicode_indexer.bin", "voice.bin"};

// Kokoro's espeak-ng data directory, and the files of it that espeak-ng
// reads when it starts.
inline constexpr std::string_view kEspeakDataDir = "espeak-ng-data";
inline constexpr std::array<std::string_view, 4> kEspeakDataFiles = {"phontab", "phonindex",
                                                                     "phondata", "intonations"};

// The files of a streaming transducer model directory, in the order they are
// looked for: encoder, decoder, joiner, token table.
inline constexpr std::array<std::string_view, 4> kStreamModelFiles = {
    "encoder.int8.onnx", "decoder.int8.onnx", "joiner.int8.onnx", "tokens.txt"};

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_COMMON_MODEL_FILES_H_
