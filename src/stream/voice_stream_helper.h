// Stream mode: request frames read from the input and handed one at a time
// to a StreamService (stream_service.h), each handled completely before the
// next is read. The frame format, tags and limits are voice_stream_protocol.h.
#ifndef VELMORA_CORVANE_TTS_STREAM_VOICE_STREAM_HELPER_H_
#define VELMORA_CORVANE_TTS_STREAM_VOICE_STREAM_HELPER_H_

#include "common/io.h"
#include "common/result.h"

namespace velmora_corvane_tts {

// Serves requests until the input ends between frames (success). Only the
// transport ends it early: "Could not read a request frame: {}" or
// "Could not write a reply frame: {}". The open stream and then the
// recogniser are released before it returns, in every case.
Status run(InputStream& input, OutputStream& output);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_STREAM_VOICE_STREAM_HELPER_H_
