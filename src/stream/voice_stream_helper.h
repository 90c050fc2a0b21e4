// The streaming recognition service: Open, Audio, Finish and Cancel requests
// in, Opened, Partial, Final and Error replies out, one request handled
// completely before the next is read.
//
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
//
// The service keeps at most one recogniser, reused while Open requests name
// the same model id and an equal model directory, and at most one open
// stream. Every Open closes the open stream first, whatever its outcome.
#ifndef VELMORA_CORVANE_TTS_STREAM_VOICE_STREAM_HELPER_H_
#define VELMORA_CORVANE_TTS_STREAM_VOICE_STREAM_HELPER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/io.h"
#include "common/result.h"

namespace velmora_corvane_tts {

// Largest request payload read; a larger declared length ends the service.
inline constexpr size_t kMaxStreamFrameBytes = 2048000;
// Largest Open payload (inclusive); a larger one gets an Error reply.
inline constexpr size_t kMaxOpenRequestBytes = 65536;
// Zero samples fed after a recording's audio so that its end is decoded.
inline constexpr size_t kTrailingSilenceSamples = 12800;

enum StreamRequestTag : uint8_t { kOpenTag = 0, kAudioTag = 1, kFinishTag = 2, kCancelTag = 3 };
enum StreamReplyTag : uint8_t { kOpenedTag = 0, kPartialTag = 1, kFinalTag = 2, kErrorTag = 3 };

// Serves requests until the input ends between frames (success). Only the
// transport ends it early: "Could not read a request frame: {}" or
// "Could not write a reply frame: {}". The open stream and then the
// recogniser are released before it returns, in every case.
Status run(InputStream& input, OutputStream& output);

// Writes one Error reply for `id`: `message` with control characters
// removed and cut to 4,000 characters. The result is write_frame's.
Status reply_error(OutputStream& output, uint64_t id, std::string_view message);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_STREAM_VOICE_STREAM_HELPER_H_
