// Shared by the stream-mode and smoke-test suites: synthetic model and audio
// generation, request frames, reply parsing, and a child helper that can be
// talked to one request at a time.
#ifndef VELMORA_CORVANE_TTS_TESTS_STREAM_STREAM_TEST_UTIL_H_
#define VELMORA_CORVANE_TTS_TESTS_STREAM_STREAM_TEST_UTIL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace velmora_corvane_tts::testing {

// `text` as one single-quoted shell word.
std::string shell_quote(const std::string& text);

// Writes the synthetic streaming model into `dir` (generator options in
// `extra_args`, already shell-quoted). Fails the current test on error.
void make_stream_model(const std::string& dir, const std::string& extra_args = "");

// Writes audio with the synthetic audio generator. Fails the current test
// on error.
void make_stream_audio(const std::string& out, const std::string& args);

// The real streaming model beside the source tree (it may be absent).
std::string real_model_dir();

// Fills `dir` with links to the real model's files, its encoder replaced by
// the unpatched export whose first decode step makes the runtime throw.
// False when that model is not beside the source tree.
bool link_unpatched_real_model(const std::string& dir);

// True when espeak-ng and sox, which speak() uses, are installed.
bool can_speak();
// Speaks `sentence` into a 16 kHz 16-bit mono WAV file at `wav`, with 0.3 s
// of silence on each side. Fails the current test on error.
void speak(const std::string& sentence, const std::string& wav);

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string& path);

// One frame on the wire (wire::stream_frame).
inline std::string frame(uint8_t tag, uint64_t id, const std::string& payload = "") {
  return wire::stream_frame(tag, id, payload);
}
std::string open_frame(uint64_t id, const std::string& model_dir,
                       const std::string& model_id = "stream-model");
std::string finish_frame(uint64_t id);
std::string cancel_frame(uint64_t id);

// Audio frames of `block` samples each (the last one shorter) from raw
// little-endian float32 bytes.
std::string audio_frames(uint64_t id, const std::string& raw_f32, size_t block = 1600);

using Reply = wire::StreamReply;

// Reply constructors, for expectations.
Reply opened(uint64_t id);
Reply partial(uint64_t id, const std::string& text);
Reply final_reply(uint64_t id, const std::string& text);
Reply error_reply(uint64_t id, const std::string& text);

inline std::vector<Reply> parse_replies(const std::string& out) {
  return parse_reply_frames<Reply>(out);
}

}  // namespace velmora_corvane_tts::testing

namespace velmora_corvane_tts::wire {
// For test messages: "Partial(7, \"text\")".
std::ostream& operator<<(std::ostream& os, const StreamReply& r);
}  // namespace velmora_corvane_tts::wire

#endif  // VELMORA_CORVANE_TTS_TESTS_STREAM_STREAM_TEST_UTIL_H_
