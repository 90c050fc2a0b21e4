// The plain programs: the speech runtime driven directly, with none of the
// helper around it, as a user would write it (nothing of the helper's own
// allocator handling). Each runs as a child (`vct-bench --serve bare ...`),
// so the benchmark process itself runs no runtime threads that could compete
// with the process it is timing. Every call is timed in here and only the
// figures (and, when asked, the output for comparison) go back over the
// pipe, outside the time. The engine and the recogniser are built by the
// product's own create_engine and create_recognizer: their configuration is
// what any program needs for these models, and loading is not timed.
//
//   tts MODEL_ID MODEL_DIR default|reuse
//     allocator: "default" (glibc as it starts) or "reuse" (what a user
//     tunes for repeated calls: mmap threshold 32 MiB, trim threshold 64 MiB)
//     request: u32 text length, text, u8 flags (1: send the WAV back)
//     reply:   u64 nanoseconds of the product's synthesize() (generate, the
//              WAV, releasing the runtime's audio), u32 WAV size, the WAV
//              when asked for
//   stream MODEL_DIR AUDIO_F32  (allocator "reuse")
//     request: u8 detail (1: also per-block figures)
//     reply:   u64 nanoseconds of the session, u32 length + final transcript;
//              with detail, u32 block count and per block u64 nanoseconds
//              (accept, decode while ready, result) and u32 length + text
//   generate MODEL_ID MODEL_DIR TEXT_FILE  (allocator "default")
//     the runtime's generate call once, for its peak memory: prints its own
//     peak resident set in kiB (VmHWM; the exit status's figure would also
//     count what the process held before it started this program).
//
// All integers little-endian. The programs end at the end of their input.
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bare_runner.h"
#include "bench_config.h"
#include "common/io.h"
#include "platform/platform.h"
#include "rapidjson/document.h"
#include "stream/recognizer.h"
#include "helper_driver.h"
#include "tts/engine_catalogue.h"
#include "tts/synthesis.h"

namespace vct = velmora_corvane_tts;

namespace vct_bench {
namespace {

class Pipe {
 public:
  Pipe() : input_(vct::platform::standard_input()), output_(vct::platform::take_standard_output()) {}
  bool read(void* data, size_t size) {
    return input_.read_exact({static_cast<uint8_t*>(data), size}).ok();
  }
  void write(std::string_view bytes) {
    if (!output_.write_all({{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}}).ok()) {
      die("bare runner: cannot write its reply");
    }
  }

 private:
  vct::InputStream input_;
  vct::OutputStream output_;
};

uint64_t nanoseconds_since(Clock::time_point start) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
}

void put_text(std::string& out, const std::string& text) {
  put_fixed32(out, static_cast<uint32_t>(text.size()));
  out += text;
}

vct::LocalTtsRequest english_request(const std::string& model_id, const std::string& model_dir) {
  vct::LocalTtsRequest request;
  request.model_id = model_id;
  request.model_dir = model_dir;
  request.language = "en";
  return request;
}

int serve_synthesis(const std::string& model_id, const std::string& model_dir) {
  auto engine = vct::create_engine(model_id, model_dir);
  if (!engine.ok()) die(engine.error().message());
  vct::LocalTtsRequest request = english_request(model_id, model_dir);
  Pipe pipe;
  for (;;) {
    uint8_t header[4];
    if (!pipe.read(header, sizeof header)) return 0;
    request.text.resize(decode_fixed32(header));
    uint8_t flags = 0;
    if (!pipe.read(request.text.data(), request.text.size()) || !pipe.read(&flags, 1)) {
      die("bare runner: truncated request");
    }
    Clock::time_point start = Clock::now();
    auto synthesized = vct::synthesize(engine.value(), request);
    if (!synthesized.ok()) die(synthesized.error().message());
    const vct::WavBytes wav = std::move(synthesized).value();
    std::string reply;
    put_fixed64(reply, nanoseconds_since(start));
    put_fixed32(reply, static_cast<uint32_t>(wav.size()));
    pipe.write(reply);
    if ((flags & 1) != 0) pipe.write({reinterpret_cast<const char*>(wav.data()), wav.size()});
  }  // the WAV is freed after the timing, as the helper frees it once sent
}

// Decodes what the stream is ready for and returns the transcript, parsed
// as a plain program would: RapidJSON's DOM, the "text" member, trimmed.
std::string decode(const vct::runtime::OnlineRecognizer& recognizer,
                   vct::runtime::OnlineStream& stream) {
  for (;;) {
    auto ready = recognizer.is_ready(stream);
    if (!ready.ok() || !ready.value()) break;
    if (!recognizer.decode(stream).ok()) die("bare runner: the runtime failed to decode");
  }
  auto json = recognizer.result_json(stream);
  if (!json.ok() || !json.value().has_value()) return std::string();
  rapidjson::Document doc;
  doc.Parse(json.value()->c_str());
  if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("text") || !doc["text"].IsString()) {
    return std::string();
  }
  std::string text = doc["text"].GetString();
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::string();
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

// The calls the helper makes for one recording: create a stream; for every
// block accept it and decode; then 0.8 s of zeros, input finished, a last
// decode; destroy the stream.
int serve_recognition(const std::string& model_dir, const std::string& audio_path) {
  const std::vector<float> audio = load_f32(audio_path);
  const std::vector<float> zeros(kTrailingZeros, 0.0f);
  auto recognizer = vct::create_recognizer(model_dir);
  if (!recognizer.ok()) die(recognizer.error().message());
  const vct::runtime::OnlineRecognizer& r = recognizer.value();
  Pipe pipe;
  for (;;) {
    uint8_t detail = 0;
    if (!pipe.read(&detail, 1)) return 0;
    std::string blocks, final_text;
    uint32_t block_count = 0;
    Clock::time_point start = Clock::now();
    {
      auto stream = r.create_stream();
      if (!stream.ok()) die("bare runner: no stream");
      for (size_t at = 0; at < audio.size(); at += kBlock, ++block_count) {
        Clock::time_point block_start = Clock::now();
        const size_t n = std::min(kBlock, audio.size() - at);
        (void)stream.value().accept_waveform(16000, std::span(audio).subspan(at, n));
        const std::string text = decode(r, stream.value());
        put_fixed64(blocks, nanoseconds_since(block_start));
        put_text(blocks, text);
      }
      (void)stream.value().accept_waveform(16000, zeros);
      (void)stream.value().input_finished();
      final_text = decode(r, stream.value());
    }  // the stream is destroyed inside the time
    std::string reply;
    put_fixed64(reply, nanoseconds_since(start));
    put_text(reply, final_text);
    if (detail != 0) {
      put_fixed32(reply, block_count);
      reply += blocks;
    }
    pipe.write(reply);
  }
}

int print_generate_peak(const std::string& model_id, const std::string& model_dir,
                        const std::string& text_path) {
  auto engine = vct::create_engine(model_id, model_dir);
  if (!engine.ok()) die(engine.error().message());
  vct::LocalTtsRequest request = english_request(model_id, model_dir);
  request.text = read_file(text_path);
  // The bench's texts hold no NUL byte: the runtime gets them as they are.
  auto audio = engine.value().generate(request.text, vct::generation_settings(request));
  if (!audio.ok()) die(audio.error().message());
  std::printf("%ld\n", proc_status_kib(0, "VmHWM"));
  return 0;
}

}  // namespace

int run_bare(const std::vector<std::string>& args) {
  const std::string mode = args.empty() ? "" : args[0];
  if (mode == "tts" && args.size() == 4 && (args[3] == "default" || args[3] == "reuse")) {
    if (args[3] == "reuse") {
      ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
      ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    }
    return serve_synthesis(args[1], args[2]);
  }
  if (mode == "stream" && args.size() == 3) {
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    return serve_recognition(args[1], args[2]);
  }
  if (mode == "generate" && args.size() == 4) return print_generate_peak(args[1], args[2], args[3]);
  die("usage: vct-bench --serve bare tts MODEL_ID MODEL_DIR default|reuse | "
      "stream MODEL_DIR AUDIO_F32 | generate MODEL_ID MODEL_DIR TEXT_FILE");
}

// ---- The benchmark's side ----------------------------------------------------
namespace {

double read_seconds(Child& child) {
  uint8_t ns[8];
  child.read_exact(ns, sizeof ns);
  return static_cast<double>(decode_fixed64(ns)) * 1e-9;
}

std::string read_text(Child& child) {
  uint8_t size[4];
  child.read_exact(size, sizeof size);
  std::string text(decode_fixed32(size), '\0');
  if (!text.empty()) child.read_exact(text.data(), text.size());
  return text;
}

}  // namespace

BareSynthesis::BareSynthesis(const Config& config, const std::string& model_id,
                             const std::string& model_dir, const std::string& allocator)
    : child_({config.self, "--serve", "bare", "tts", model_id, model_dir, allocator}, config.log_path) {}

double BareSynthesis::run(const std::string& text, std::string* wav) {
  std::string request;
  put_fixed32(request, static_cast<uint32_t>(text.size()));
  request += text;
  request.push_back(wav != nullptr ? 1 : 0);
  child_.write_all(request);
  const double seconds = read_seconds(child_);
  uint8_t size[4];
  child_.read_exact(size, sizeof size);
  if (wav != nullptr) {
    wav->resize(decode_fixed32(size));
    child_.read_exact(wav->data(), wav->size());
  }
  return seconds;
}

BareRecognition::BareRecognition(const Config& config, const std::string& model_dir,
                                 const std::string& audio_path)
    : child_({config.self, "--serve", "bare", "stream", model_dir, audio_path},
             config.log_path) {}

BareRecognition::Session BareRecognition::run(bool detail) {
  const char request = detail ? 1 : 0;
  child_.write_all(&request, 1);
  Session s;
  s.seconds = read_seconds(child_);
  s.final_text = read_text(child_);
  if (detail) {
    uint8_t count[4];
    child_.read_exact(count, sizeof count);
    for (uint32_t k = 0; k < decode_fixed32(count); ++k) {
      s.block_seconds.push_back(read_seconds(child_));
      s.texts.push_back(read_text(child_));
    }
  }
  return s;
}

}  // namespace vct_bench
