// Drives the helper over its pipes, the way an application does: synthesis
// round trips; in stream mode frames, replies, whole recordings, and a
// barrier that waits until the helper has handled everything sent so far.
#ifndef VELMORA_CORVANE_TTS_BENCH_HELPER_DRIVER_H_
#define VELMORA_CORVANE_TTS_BENCH_HELPER_DRIVER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bench_config.h"
#include "bench_util.h"
#include "wire/wire.h"

namespace vct_bench {

inline constexpr size_t kBlock = 1600;           // 100 ms at 16 kHz
inline constexpr size_t kTrailingZeros = 12800;  // 0.8 s at 16 kHz
inline constexpr uint8_t kOpen = 0, kAudio = 1, kFinish = 2;
// A request tag the helper does not know: answered with an Error reply and
// nothing else, so it marks a point in the request sequence.
inline constexpr uint8_t kBarrier = 9;
inline constexpr uint8_t kOpened = 0, kPartial = 1, kFinal = 2, kError = 3;

// Plain English prose of exactly `chars` ASCII characters, ending in a full
// stop: whole sentences, the last one cut to fit.
std::string english_text(size_t chars);

// A synthesis request frame (4-byte length, JSON body) for voice 0, "en",
// speed 1.0.
std::string synthesis_request_frame(const std::string& model_id, const std::string& dir,
                                    const std::string& text);

// Raw little-endian float32 samples from a file.
std::vector<float> load_f32(const std::string& path);
using velmora_corvane_tts::wire::stream_frame;

// The Audio frame of the block of `audio` that starts at sample `at`.
std::string audio_frame(uint64_t id, const std::vector<float>& audio, size_t at);

using Reply = velmora_corvane_tts::wire::StreamReply;
Reply read_reply(Child& child);

// Writes a synthesis request `frame` to `child` and reads its reply into
// `payload`, whose capacity is reused from one call to the next (so that
// no large allocation falls inside the time). Dies when the reply is a
// refusal. The seconds from the first byte written to the last read.
double synthesis_round_trip(Child& child, const std::string& frame, std::string& payload);

class StreamHelper {
 public:
  StreamHelper(const Config& config, const std::string& model_dir);
  // Another program that speaks the same frames (the transport floor).
  StreamHelper(const Config& config, const std::vector<std::string>& argv,
               const std::string& model_dir);

  Child& child() { return child_; }
  const std::string& open_payload() const { return open_payload_; }
  uint64_t next_id() { return ++id_; }

  // One recording, all frames written at once while a second thread reads
  // the replies; the time runs from the Open frame to the Final reply.
  double session(const std::vector<float>& audio, std::string* final_text);

  // One recording in lock step: after each Audio frame the client waits
  // until the helper has handled it, and for the frames whose transcript
  // changes (`changes[k]`) it times the Partial reply from the moment the
  // frame is written. Other entries are -1.
  std::vector<double> partial_latencies(const std::vector<float>& audio,
                                        const std::vector<bool>& changes);

  // One recording in lock step, every request frame followed by a barrier:
  // for each frame of the session (Open, the Audio frames, Finish), the
  // bytes of the replies it drew, in the form the script of
  // the stream transport floor takes.
  std::string reply_script(const std::vector<float>& audio);

 private:
  Child child_;
  std::string open_payload_;
  uint64_t id_ = 0;
};

}  // namespace vct_bench

#endif  // VELMORA_CORVANE_TTS_BENCH_HELPER_DRIVER_H_
