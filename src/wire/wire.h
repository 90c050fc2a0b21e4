// The wire kit: what a program that talks to the helper from outside needs
// to write requests and read replies in both modes. The frame layouts and
// limits are the helper's own (corvane_tts_protocol.h,
// voice_stream_protocol.h); this adds the client's side: request bodies as
// JSON and reply frames taken out of bytes as they arrive. Starting the
// helper is helper_process.h.
#ifndef VELMORA_CORVANE_TTS_WIRE_WIRE_H_
#define VELMORA_CORVANE_TTS_WIRE_WIRE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "stream/voice_stream_protocol.h"
#include "tts/corvane_tts_protocol.h"

namespace velmora_corvane_tts::wire {

// ---- Synthesis ----------------------------------------------------------------

// A request body: a JSON object with the six keys in record order, every
// text escaped (quotes, backslashes and control characters, a NUL byte
// included; other bytes go through as they are).
std::string synthesis_request_json(const LocalTtsRequest& request);

// A request frame: the 4-byte length of `body`, then `body`. The length is
// not checked: a caller that must never desynchronise the stream refuses
// bodies over kMaxRequestBytes itself.
std::string synthesis_request_frame(std::string_view body);

struct SynthesisReply {
  uint8_t status = kReplySuccess;
  std::string payload;
  bool operator==(const SynthesisReply&) const = default;
};

// ---- Stream mode --------------------------------------------------------------

// An Open body; `language` absent: no "language" key.
std::string open_request_json(std::string_view model_id, std::string_view model_dir,
                              std::optional<std::string_view> language = std::nullopt);

// One frame with its header.
std::string stream_frame(uint8_t tag, uint64_t id, std::string_view payload = {});

struct StreamReply {
  uint8_t tag = 0;
  uint64_t id = 0;
  std::string payload;
  bool operator==(const StreamReply&) const = default;
};

// ---- Reading replies ----------------------------------------------------------

// Takes reply frames of one format out of the helper's output, fed in
// pieces of any size as they arrive. Not thread-safe.
template <typename Reply>
class ReplyReader {
 public:
  // Appends bytes read from the helper's standard output.
  void feed(std::string_view bytes) { buffer_.append(bytes); }
  // The next complete reply, if the bytes fed so far hold one.
  std::optional<Reply> next();
  // How many more bytes the frame being read needs before next() can
  // return it (at least 1 when none is buffered whole).
  size_t missing() const;
  // Bytes fed and not yet returned in a reply: a torn frame when the
  // output has ended.
  size_t pending() const { return buffer_.size() - at_; }

 private:
  std::string buffer_;
  size_t at_ = 0;
};

using SynthesisReplyReader = ReplyReader<SynthesisReply>;
using StreamReplyReader = ReplyReader<StreamReply>;

}  // namespace velmora_corvane_tts::wire

#endif  // VELMORA_CORVANE_TTS_WIRE_WIRE_H_
