// The synthesis service: length-prefixed JSON requests in, one reply frame
// per request frame out, strictly in order.
//
// Request frame: 4-byte little-endian length (1 to 262,144), then the body.
// Reply frame:   status byte (0 success, 1 error), 4-byte little-endian
//                length (at most 67,108,864), then a WAV file or a message.
#ifndef VELMORA_CORVANE_TTS_TTS_TTS_SERVICE_H_
#define VELMORA_CORVANE_TTS_TTS_TTS_SERVICE_H_

#include <cstdint>
#include <vector>

#include "common/io.h"
#include "common/result.h"
#include "tts/wave_encoding.h"

namespace velmora_corvane_tts {

inline constexpr uint32_t kMaxRequestBytes = 262144;
inline constexpr size_t kMaxResponseBytes = 67108864;

// The outcome of one request: the WAV bytes, or a message.
using SynthesisReply = Result<WavBytes>;

// Writes one reply frame and flushes. Error messages are cleaned (control
// characters dropped, cut to 4,000 characters); a payload over the response
// limit is replaced by the error "Generated speech exceeded the in-memory
// response limit". Failure: "Could not write response: {}".
Status write_response(OutputStream& output, const SynthesisReply& reply);

// Serves requests until the input ends at a frame boundary (success) or the
// input or output fails (the fatal message). A bad request never ends it.
// The loaded engine is released before it returns.
Status run_tts_service(InputStream& input, OutputStream& output);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_TTS_TTS_SERVICE_H_
