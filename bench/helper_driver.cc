#include "helper_driver.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "wire/wire.h"

namespace vct_bench {

std::string english_text(size_t chars) {
  static const char* const kSentences[] = {
      "The quick brown fox jumps over the lazy dog. ",
      "Please turn on the lights in the kitchen. ",
      "What is the weather going to be like tomorrow? ",
      "Set a timer for ten minutes. ",
      "I would like to order a large pizza with cheese. ",
      "The meeting has been moved to next Thursday afternoon. ",
      "Call my mother and tell her I will be late. ",
      "How many people live in the city of London? ",
      "Open the window and let some fresh air in. ",
      "We need to buy milk, bread and eggs at the store. ",
  };
  if (chars == 0) return std::string();
  std::string text;
  for (size_t i = 0; text.size() < chars; ++i) text += kSentences[i % 10];
  text.resize(chars - 1);
  if (text.back() == ' ') text.back() = 'a';
  return text + ".";
}

std::string synthesis_request_frame(const std::string& model_id, const std::string& dir,
                                    const std::string& text) {
  namespace wire = velmora_corvane_tts::wire;
  return wire::synthesis_request_frame(wire::synthesis_request_json({model_id, dir, 0, "en", 1.0f, text}));
}

std::vector<float> load_f32(const std::string& path) {
  std::string raw = read_file(path);
  std::vector<float> samples(raw.size() / 4);
  std::memcpy(samples.data(), raw.data(), samples.size() * 4);
  return samples;
}

std::string audio_frame(uint64_t id, const std::vector<float>& audio, size_t at) {
  size_t n = std::min(kBlock, audio.size() - at);
  return stream_frame(kAudio, id,
                      std::string_view(reinterpret_cast<const char*>(audio.data() + at), n * 4));
}

double synthesis_round_trip(Child& child, const std::string& frame, std::string& payload) {
  Clock::time_point start = Clock::now();
  child.write_all(frame);
  uint8_t header[5];
  child.read_exact(header, sizeof header);
  payload.resize(decode_fixed32(header + 1));
  child.read_exact(payload.data(), payload.size());
  const double seconds = seconds_since(start);
  if (header[0] != 0) die("the helper refused a benchmark request: " + payload);
  return seconds;
}

Reply read_reply(Child& child) {
  uint8_t header[13];
  child.read_exact(header, sizeof header);
  Reply r;
  r.tag = header[0];
  r.id = decode_fixed64(header + 1);
  r.payload.resize(decode_fixed32(header + 9));
  if (!r.payload.empty()) child.read_exact(r.payload.data(), r.payload.size());
  return r;
}

StreamHelper::StreamHelper(const Config& config, const std::vector<std::string>& argv,
                           const std::string& model_dir)
    : child_(argv, config.log_path),
      open_payload_(velmora_corvane_tts::wire::open_request_json("bench", model_dir)) {}

StreamHelper::StreamHelper(const Config& config, const std::string& model_dir)
    : child_({config.helper, "--stream-stt"}, config.log_path),
      open_payload_(velmora_corvane_tts::wire::open_request_json("bench", model_dir)) {}

double StreamHelper::session(const std::vector<float>& audio, std::string* final_text) {
  const uint64_t id = next_id();
  std::string frames = stream_frame(kOpen, id, open_payload_);
  for (size_t at = 0; at < audio.size(); at += kBlock) frames += audio_frame(id, audio, at);
  frames += stream_frame(kFinish, id, "");
  Clock::time_point start = Clock::now();
  Clock::time_point end;
  std::string final_payload;
  std::thread reader([&] {
    for (;;) {
      Reply r = read_reply(child_);
      if (r.tag == kError) die("the helper answered with an error: " + r.payload);
      if (r.tag == kFinal) {
        end = Clock::now();
        final_payload = std::move(r.payload);
        return;
      }
    }
  });
  child_.write_all(frames);
  reader.join();
  if (final_text != nullptr) *final_text = final_payload;
  return std::chrono::duration<double>(end - start).count();
}

std::vector<double> StreamHelper::partial_latencies(const std::vector<float>& audio,
                                                    const std::vector<bool>& changes) {
  const uint64_t id = next_id();
  child_.write_all(stream_frame(kOpen, id, open_payload_));
  if (read_reply(child_).tag != kOpened) die("the helper did not open a stream");
  std::vector<double> latencies(changes.size(), -1.0);
  const std::string barrier = stream_frame(kBarrier, id, "");
  for (size_t k = 0, at = 0; at < audio.size(); ++k, at += kBlock) {
    std::string frame = audio_frame(id, audio, at);
    Clock::time_point start = Clock::now();
    child_.write_all(frame);
    if (changes[k]) {
      Reply r = read_reply(child_);
      latencies[k] = seconds_since(start);
      if (r.tag != kPartial) die("expected a Partial reply");
    } else {
      child_.write_all(barrier);
      if (read_reply(child_).tag != kError) die("expected the barrier's Error reply");
    }
  }
  child_.write_all(stream_frame(kFinish, id, ""));
  while (read_reply(child_).tag != kFinal) {
  }
  return latencies;
}

std::string StreamHelper::reply_script(const std::vector<float>& audio) {
  const uint64_t id = next_id();
  std::vector<std::string> frames = {stream_frame(kOpen, id, open_payload_)};
  for (size_t at = 0; at < audio.size(); at += kBlock) frames.push_back(audio_frame(id, audio, at));
  frames.push_back(stream_frame(kFinish, id, ""));
  const std::string barrier = stream_frame(kBarrier, id, "");
  std::string script;
  for (const std::string& frame : frames) {
    child_.write_all(frame + barrier);
    std::string replies;
    for (;;) {
      Reply r = read_reply(child_);
      if (r.tag == kError && r.payload.rfind("Unknown request tag", 0) == 0) break;
      std::string raw(1, static_cast<char>(r.tag));
      put_fixed64(raw, r.id);
      put_fixed32(raw, static_cast<uint32_t>(r.payload.size()));
      replies += raw + r.payload;
    }
    put_fixed32(script, static_cast<uint32_t>(replies.size()));
    script += replies;
  }
  return script;
}

}  // namespace vct_bench
