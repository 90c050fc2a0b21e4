// The synthesis service: request frames in, one reply frame per request
// frame out, strictly in order. The frame format is corvane_tts_protocol.h.
#ifndef VELMORA_CORVANE_TTS_TTS_TTS_SERVICE_H_
#define VELMORA_CORVANE_TTS_TTS_TTS_SERVICE_H_

#include "common/io.h"
#include "common/result.h"

namespace velmora_corvane_tts {

// Serves requests until the input ends at a frame boundary (success) or the
// input or output fails: "Could not read request header: {}", "Could not
// read request: {}" or write_response's message. A bad request never ends
// it; a length of 0 or over kMaxRequestBytes is answered with "Invalid
// request frame length: {length}" and the next four bytes are read as a new
// length. A reply is written whole; error messages are cleaned (control
// characters dropped, cut to 4,000 characters), and a WAV over
// kMaxResponseBytes is replaced by the error "Generated speech exceeded the
// in-memory response limit"; a write failure ends it with "Could not write
// response: {}". These texts are fixed by the synthesis protocol:
// applications match them. The loaded engine is released before it returns.
Status run_tts_service(InputStream& input, OutputStream& output);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_TTS_TTS_SERVICE_H_
