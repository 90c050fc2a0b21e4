// The streaming recogniser shared by stream mode and the smoke test: how a
// model directory becomes a recogniser, and how a stream's audio becomes a
// transcript.
#ifndef VELMORA_CORVANE_TTS_STREAM_RECOGNIZER_H_
#define VELMORA_CORVANE_TTS_STREAM_RECOGNIZER_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "common/model_files.h"
#include "common/result.h"
#include "runtime/speech_runtime.h"

namespace velmora_corvane_tts {

// Sample rate the recogniser works at; stream-mode audio is handed over at it.
inline constexpr int32_t kRecognizerSampleRate = 16000;

// Recogniser threads for `processors` online processors: half of them
// (rounded down), at least 2 and at most 4; 2 when the count is unknown (0).
int32_t recognizer_threads(unsigned processors);

// recognizer_threads() for the processors online for this process now.
int32_t recognizer_threads();

// Builds a recogniser from `model_dir` (greedy search, endpointing off,
// recognizer_threads() threads). The messages are reply texts of stream
// mode and lines of the smoke test, fixed word for word.
//   - "{file} is missing from {model_dir}" for the first of kStreamModelFiles
//     that is not an existing regular file (links followed); a path holding
//     a NUL character names no file. Nothing else is tried after it.
//   - "Could not load the streaming speech model from {model_dir}" when one
//     of the four files cannot be opened for reading (checked before the
//     runtime is called), or when the runtime returns no recogniser or
//     throws while building it.
// `model_dir` appears in messages exactly as passed.
Result<runtime::OnlineRecognizer> create_recognizer(const std::string& model_dir);

// What the service and the smoke test say when the runtime fails on a
// recording's stream.
inline constexpr std::string_view kDecodeFailedMessage =
    "The streaming voice runtime could not decode this recording";

// Runs every decode step the stream is ready for, then returns the current
// transcript with surrounding Unicode white space trimmed; the empty text
// when the runtime has no result or its result is not a well-formed
// recogniser result. An Error when the runtime throws on the stream (its
// readiness test, a decode step or its result) or threw on it before: the
// recording cannot be decoded, and the caller closes the stream.
Result<std::string> decode_available(const runtime::OnlineRecognizer& recognizer,
                                     runtime::OnlineStream& stream);

// The trimmed "text" of one recogniser result JSON, parsed strictly: an
// object (unknown keys skipped) or array with "text" (string), "tokens"
// (strings), "timestamps" (numbers or null, optional), "segment" (i32 or
// null, optional), "start_time" (number or null, optional) and "is_final"
// (boolean). Any fault gives the empty text. Exported as a test seam: the
// unit tests and a fuzz target feed it result texts the runtime would not
// produce on demand.
std::string transcript_from_result(std::string_view json);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_STREAM_RECOGNIZER_H_
