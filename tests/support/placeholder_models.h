// Model directories for the fake runtime: every file the synthesis
// catalogue and the streaming recogniser require, with the least content
// that passes the checks made before the runtime is called (whole-float
// voices, a consistent voice.bin header, espeak-ng data that starts like
// version 1.51's). Nothing in them is a model; the fake never reads them.
// Header-only, for the fuzz targets too.
#ifndef VELMORA_CORVANE_TTS_TESTS_SUPPORT_PLACEHOLDER_MODELS_H_
#define VELMORA_CORVANE_TTS_TESTS_SUPPORT_PLACEHOLDER_MODELS_H_

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace velmora_corvane_tts::testing {

// The first eight bytes of espeak-ng 1.51's phondata: its data version
// 0x014801 and its sample rate, 22,050 Hz, both little-endian.
inline const std::string kPhondataStart("\x01\x48\x01\x00\x22\x56\x00\x00", 8);

// Writes the files of both synthesis models and of a streaming model into
// `dir` (created if missing), replacing files of the same names.
inline void write_placeholder_models(const std::string& dir) {
  std::string voice_style;  // header [1, 1, 1, 1, 1, 1] as int64, then 2 floats
  for (int i = 0; i < 6; ++i) voice_style += std::string("\x01\0\0\0\0\0\0\0", 8);
  voice_style += std::string(8, '\0');
  const std::vector<std::pair<std::string, std::string>> files = {
      {"model.int8.onnx", "m"},
      {"voices.bin", std::string(4, '\0')},
      {"tokens.txt", "t 1\n"},
      {"lexicon-us-en.txt", ""},
      {"lexicon-zh.txt", ""},
      {"espeak-ng-data/phontab", "p"},
      {"espeak-ng-data/phonindex", "p"},
      {"espeak-ng-data/phondata", kPhondataStart},
      {"espeak-ng-data/intonations", "i"},
      {"duration_predictor.int8.onnx", "m"},
      {"text_encoder.int8.onnx", "m"},
      {"vector_estimator.int8.onnx", "m"},
      {"vocoder.int8.onnx", "m"},
      {"tts.json", "{}"},
      {"unicode_indexer.bin", std::string(4, '\0')},
      {"voice.bin", voice_style},
      {"encoder.int8.onnx", "m"},
      {"decoder.int8.onnx", "m"},
      {"joiner.int8.onnx", "m"},
  };
  std::filesystem::create_directories(dir + "/espeak-ng-data");
  for (const auto& [name, bytes] : files) {
    std::ofstream(dir + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
  }
}

}  // namespace velmora_corvane_tts::testing

#endif  // VELMORA_CORVANE_TTS_TESTS_SUPPORT_PLACEHOLDER_MODELS_H_
