// The state machine of stream mode: one request frame in, its replies out.
//
// It keeps at most one recogniser (`Loaded`), reused while Open requests
// name the same model id and an equal model directory, and at most one open
// recording (`Active`), whose stream was created on that recogniser. Every
// Open closes the open recording first, whatever its outcome.
//
// Replies, per request tag:
//   Open    Opened, or an Error: "The open request is too large" (over
//           kMaxOpenRequestBytes), "Invalid open request: {parser message}",
//           create_recognizer's message, "The streaming voice runtime could
//           not open a stream".
//   Audio   nothing when no recording with this id is open or the transcript
//           did not change, else Partial; kDecodeFailedMessage when the
//           runtime fails on the stream, which closes the recording.
//   Finish  Final with the transcript after kTrailingSilenceSamples zeros;
//           "No speech model is loaded", "The streaming voice runtime has no
//           open stream for this recording" (the open one, if any, is
//           closed), or kDecodeFailedMessage.
//   Cancel  nothing; closes the recording when the id is the open one's.
//   other   "Unknown request tag {tag}".
// The message texts are fixed by the stream protocol: applications match
// them.
#ifndef VELMORA_CORVANE_TTS_STREAM_STREAM_SERVICE_H_
#define VELMORA_CORVANE_TTS_STREAM_STREAM_SERVICE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/io.h"
#include "common/result.h"
#include "runtime/speech_runtime.h"
#include "stream/voice_stream_protocol.h"

namespace velmora_corvane_tts {

// Zero samples fed after a recording's audio so that its end is decoded.
inline constexpr size_t kTrailingSilenceSamples = 12800;

// Not thread-safe; `output` must outlive the service.
class StreamService {
 public:
  explicit StreamService(OutputStream& output) : output_(output) {}
  StreamService(const StreamService&) = delete;
  StreamService& operator=(const StreamService&) = delete;
  ~StreamService() { release(); }

  // Handles one request; the result is that of writing its replies.
  Status handle(const Frame& frame);

  // Closes the open recording, then drops the recogniser: a stream goes
  // before the recogniser that created it.
  void release();

 private:
  // The loaded recogniser and the Open request fields it was built for.
  struct Loaded {
    std::string model_id;
    std::string model_dir;
    runtime::OnlineRecognizer recognizer;
  };
  // The open stream of one recording.
  struct Active {
    std::string last_transcript;
    uint64_t recording_id = 0;
    runtime::OnlineStream stream;
  };

  Status open(uint64_t id, std::span<const uint8_t> payload);
  Status audio(uint64_t id, std::span<const uint8_t> payload);
  Status finish(uint64_t id);
  Status cancel(uint64_t id);

  OutputStream& output_;
  std::optional<Loaded> loaded_;
  std::optional<Active> active_;
  // The samples of the Audio request being handled; the storage is kept for
  // the next one, which usually has the same size.
  std::vector<float> samples_;
};

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_STREAM_STREAM_SERVICE_H_
