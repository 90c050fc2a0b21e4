// The stream-mode wire format: request and reply frames, the open-request
// record and the audio payload.
//
// Frame: a 13-byte header, then the payload.
//   offset 0  tag      1 byte
//   offset 1  id       8 bytes, little-endian (the recording id)
//   offset 9  length   4 bytes, little-endian (payload bytes that follow)
//   offset 13 payload  `length` bytes
// No magic, version, checksum or separator between frames.
#ifndef VELMORA_CORVANE_TTS_STREAM_VOICE_STREAM_PROTOCOL_H_
#define VELMORA_CORVANE_TTS_STREAM_VOICE_STREAM_PROTOCOL_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/io.h"
#include "common/result.h"

namespace velmora_corvane_tts {

inline constexpr size_t kFrameHeaderBytes = 13;

// Largest request payload read; a larger declared length ends the service.
inline constexpr size_t kMaxStreamFrameBytes = 2048000;
// Largest Open payload (inclusive); a larger one gets an Error reply.
inline constexpr size_t kMaxOpenRequestBytes = 65536;

// Requests (tag: payload)
//   0 Open    an OpenRequest as JSON, at most kMaxOpenRequestBytes
//   1 Audio   little-endian float samples, mono, 16 kHz
//   2 Finish  ignored
//   3 Cancel  ignored
// Replies (tag: payload), each carrying the id of the request it answers
//   0 Opened  empty
//   1 Partial the transcript, sent only when it changed
//   2 Final   the transcript at the end of the recording, possibly empty
//   3 Error   a cleaned message
enum StreamRequestTag : uint8_t { kOpenTag = 0, kAudioTag = 1, kFinishTag = 2, kCancelTag = 3 };
enum StreamReplyTag : uint8_t { kOpenedTag = 0, kPartialTag = 1, kFinalTag = 2, kErrorTag = 3 };

// One request or reply frame, owned by whoever holds it.
struct Frame {
  uint8_t tag = 0;
  uint64_t id = 0;
  std::vector<uint8_t> payload;
};

// A frame header: what comes before the payload.
struct FrameHeader {
  uint8_t tag = 0;
  uint64_t id = 0;
  uint32_t length = 0;
};
// The header's kFrameHeaderBytes bytes at `out` / from `in`.
void encode_frame_header(const FrameHeader& header, uint8_t* out);
FrameHeader decode_frame_header(const uint8_t* in);

// Reads one frame whose payload is at most `limit` bytes.
//   - a Frame;
//   - std::nullopt when the input ends before the tag byte (the only clean
//     end of input);
//   - an Error with the reader's description: "failed to fill whole buffer"
//     when the input ends inside the header or payload, or
//     "frame payload of {length} bytes exceeds the {limit} byte limit" when
//     the declared length is over `limit`. In that case no payload byte has
//     been read and nothing has been allocated for it.
// After an error the position in the input is undefined.
Result<std::optional<Frame>> read_frame(InputStream& input, size_t limit);

// Writes the header and `payload`. "frame payload too large" (nothing
// written) when the payload does not fit the 32-bit length; otherwise the
// first failing write's description.
Status write_frame(OutputStream& output, uint8_t tag, uint64_t id,
                   std::span<const uint8_t> payload);

// Writes one Error reply for `id`: `message` with control characters
// removed and cut to 4,000 characters (clean_message). The result is
// write_frame's.
Status reply_error(OutputStream& output, uint64_t id, std::string_view message);

// The JSON body of an Open request: an object with the keys "model_id",
// "model_dir" (strings) and optionally "language" (string or null), unknown
// keys skipped; or an array of exactly these three values.
struct OpenRequest {
  std::string model_id;
  std::string model_dir;
  std::optional<std::string> language;  // absent when missing or null
};

// Parses an Open payload strictly. The error is the parser's description,
// ending " at line {} column {}", or "language contains a NUL character"
// for a language the speech runtime could not be handed.
Result<OpenRequest> parse_open_request(std::string_view payload);

// Audio payload to samples: each group of 4 bytes is one little-endian
// IEEE-754 float, taken unchanged; a trailing remainder of 1 to 3 bytes is
// dropped.
std::vector<float> bytes_to_samples(std::span<const uint8_t> payload);

// The same into `samples`, whose storage is reused from one call to the next.
void bytes_to_samples(std::span<const uint8_t> payload, std::vector<float>& samples);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_STREAM_VOICE_STREAM_PROTOCOL_H_
