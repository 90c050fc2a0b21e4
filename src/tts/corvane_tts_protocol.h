// The synthesis request record: how a request body is parsed and the checks
// it must pass, in order, before any model is touched.
#ifndef VELMORA_CORVANE_TTS_TTS_CORVANE_TTS_PROTOCOL_H_
#define VELMORA_CORVANE_TTS_TTS_CORVANE_TTS_PROTOCOL_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"

namespace velmora_corvane_tts {

// Model ids of the catalogue, compared byte for byte.
inline constexpr std::string_view kKokoroModelId = "kokoro-82m-v1.1-int8";
inline constexpr std::string_view kSupertonicModelId = "supertonic-3-int8";

// Longest accepted text, in Unicode scalar values.
inline constexpr size_t kMaxTextChars = 10000;

// One synthesis request. Fields in declaration order, which is also the
// element order of the array form of the JSON body.
struct LocalTtsRequest {
  std::string model_id;
  std::string model_dir;
  int32_t sid = 0;
  std::string language;
  float speed = 1.0f;
  std::string text;
};

// Parses a request body (strict JSON: an object with exactly the six keys,
// unknown keys skipped, or an array of the six values). On failure the error
// is the parser's message, ending " at line {} column {}".
Result<LocalTtsRequest> parse_request(std::string_view body);

// Runs the checks in order; the first failure's message is the reply:
// empty text, text length, speed, model, voice number, language.
Status validate_request(const LocalTtsRequest& request);

// Number of voices of a catalogue model id; 0 for an unknown id.
uint32_t voice_count(std::string_view model_id);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_TTS_CORVANE_TTS_PROTOCOL_H_
