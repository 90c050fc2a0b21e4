// The synthesis wire format: request and reply frames, and the request
// record (how a body is parsed and the checks it must pass, in order, before
// any model is touched).
//
// Request frame: 4-byte little-endian length (1 to kMaxRequestBytes), then
//                the body (JSON, a LocalTtsRequest).
// Reply frame:   status byte (kReplySuccess or kReplyError), 4-byte
//                little-endian length (at most kMaxResponseBytes), then a
//                WAV file or a message.
// No magic, version or separator between frames.
#ifndef VELMORA_CORVANE_TTS_TTS_CORVANE_TTS_PROTOCOL_H_
#define VELMORA_CORVANE_TTS_TTS_CORVANE_TTS_PROTOCOL_H_

#include <cstdint>
#include <string>
#include <string_view>

#include <optional>
#include <span>

#include "common/io.h"
#include "common/result.h"

namespace velmora_corvane_tts {

inline constexpr size_t kRequestHeaderBytes = 4;
inline constexpr size_t kReplyHeaderBytes = 5;
inline constexpr uint32_t kMaxRequestBytes = 262144;
inline constexpr size_t kMaxResponseBytes = 67108864;
enum ReplyStatus : uint8_t { kReplySuccess = 0, kReplyError = 1 };

// Reads the length of the next request frame: std::nullopt when the input
// ends before its first byte (the only clean end of input), or the reader's
// description ("failed to fill whole buffer" when it ends inside). The
// length is not checked.
Result<std::optional<uint32_t>> read_request_length(InputStream& input);

// A reply header: status and payload length, at `in`, kReplyHeaderBytes.
struct ReplyHeader {
  uint8_t status = kReplySuccess;
  uint32_t length = 0;
};
ReplyHeader decode_reply_header(const uint8_t* in);

// Writes a reply frame: the header, then `payload`. The writer's
// description on failure.
Status write_reply_frame(OutputStream& output, uint8_t status, std::span<const uint8_t> payload);

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
// empty text, text length, speed, model, voice number, language. The
// messages are reply texts of the synthesis protocol, fixed word for word.
Status validate_request(const LocalTtsRequest& request);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_TTS_CORVANE_TTS_PROTOCOL_H_
