// The speech runtime driven directly, with none of the helper around it, in
// a plain program as a user would write it (nothing of the helper's own
// allocator handling) running as a child: the benchmark process
// itself then runs no runtime threads that could compete with the process
// it is timing. Every call is timed in here and only the figures (and, when
// asked, the output for comparison) go back over the pipe, outside the time.
//
//   vct-bench-bare tts MODEL_ID MODEL_DIR ALLOCATOR
//     ALLOCATOR is "default" (glibc as it starts) or "reuse" (what a user
//     tunes for repeated calls: mmap threshold 32 MiB, trim threshold 64 MiB)
//     request: u32 text length, text, u8 flags (1: send the WAV back)
//     reply:   u64 nanoseconds of the product's synthesize() (generate, the
//              WAV, releasing the runtime's audio), u32 WAV size, the WAV
//              when asked for
//
//   vct-bench-bare stream MODEL_DIR THREADS AUDIO_F32
//     (allocator as "reuse" above)
//     request: u8 detail (1: also per-block figures)
//     reply:   u64 nanoseconds of the session, u32 length + final transcript;
//              with detail, u32 block count and per block u64 nanoseconds
//              (accept, decode while ready, result) and u32 length + text
//
// All integers little-endian. The program ends at the end of its input.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "rapidjson/document.h"
#include "runtime/sherpa_abi.h"
#include "stream_driver.h"
#include "tts/engine_catalogue.h"
#include "tts/synthesis.h"
#include "tts/wave_encoding.h"

namespace vct = velmora_corvane_tts;
using namespace vct_bench;

namespace {

bool read_exact(void* data, size_t size) {
  auto* p = static_cast<uint8_t*>(data);
  while (size > 0) {
    ssize_t n = ::read(STDIN_FILENO, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void write_all(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n <= 0) die("bare runner: cannot write its reply");
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

uint64_t nanoseconds_since(Clock::time_point start) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
}

void put_text(std::string& out, const std::string& text) {
  put_fixed32(out, static_cast<uint32_t>(text.size()));
  out += text;
}

int serve_synthesis(const std::string& model_id, const std::string& model_dir) {
  auto engine = vct::create_engine(model_id, model_dir);
  if (!engine.ok()) die(engine.error().message());
  vct::LocalTtsRequest request;
  request.model_id = model_id;
  request.model_dir = model_dir;
  request.language = "en";
  for (;;) {
    uint8_t header[4];
    if (!read_exact(header, sizeof header)) return 0;
    request.text.resize(decode_fixed32(header));
    uint8_t flags = 0;
    if (!read_exact(request.text.data(), request.text.size()) || !read_exact(&flags, 1)) {
      die("bare runner: truncated request");
    }
    Clock::time_point start = Clock::now();
    // The product's own synthesis: generate, encode, release the runtime's
    // audio, as the helper does before it replies.
    auto synthesized = vct::synthesize(engine.value(), request);
    if (!synthesized.ok()) die(synthesized.error().message());
    const vct::WavBytes wav = std::move(synthesized).value();
    const uint64_t ns = nanoseconds_since(start);
    std::string reply;
    put_fixed64(reply, ns);
    put_fixed32(reply, static_cast<uint32_t>(wav.size()));
    write_all(reply);
    if ((flags & 1) != 0) {
      write_all({reinterpret_cast<const char*>(wav.data()), wav.size()});
    }
  }  // the WAV is freed after the timing, as the helper frees it once sent
}

std::string trim_ascii(const char* text) {
  std::string s = text;
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// The calls the helper makes for one recording, made directly: create a
// stream; for every block accept it, decode while ready, fetch the result
// JSON and parse it; then 0.8 s of zeros, input finished, a last decode and
// result; destroy the stream.
class BareRecognizer {
 public:
  BareRecognizer(const std::string& dir, int32_t threads)
      : encoder_(dir + "/encoder.int8.onnx"),
        decoder_(dir + "/decoder.int8.onnx"),
        joiner_(dir + "/joiner.int8.onnx"),
        tokens_(dir + "/tokens.txt") {
    SherpaOnnxOnlineRecognizerConfig config;
    std::memset(&config, 0, sizeof config);
    config.feat_config.sample_rate = 16000;
    config.feat_config.feature_dim = 80;
    config.model_config.transducer.encoder = encoder_.c_str();
    config.model_config.transducer.decoder = decoder_.c_str();
    config.model_config.transducer.joiner = joiner_.c_str();
    config.model_config.tokens = tokens_.c_str();
    config.model_config.num_threads = threads;
    config.model_config.provider = "cpu";
    config.decoding_method = "greedy_search";
    config.ctc_fst_decoder_config.max_active = 4;
    recognizer_ = SherpaOnnxCreateOnlineRecognizer(&config);
    if (recognizer_ == nullptr) die("the runtime could not load " + dir);
  }
  ~BareRecognizer() { SherpaOnnxDestroyOnlineRecognizer(recognizer_); }
  BareRecognizer(const BareRecognizer&) = delete;
  BareRecognizer& operator=(const BareRecognizer&) = delete;

  // One recording; `block_ns` and `texts` receive every block's time and the
  // transcript after it.
  uint64_t session(const std::vector<float>& audio, std::vector<uint64_t>& block_ns,
                   std::vector<std::string>& texts, std::string& final_text) {
    static const std::vector<float> zeros(kTrailingZeros, 0.0f);
    block_ns.clear();
    texts.clear();
    Clock::time_point start = Clock::now();
    const SherpaOnnxOnlineStream* stream = SherpaOnnxCreateOnlineStream(recognizer_);
    for (size_t at = 0; at < audio.size(); at += kBlock) {
      Clock::time_point block_start = Clock::now();
      size_t n = std::min(kBlock, audio.size() - at);
      SherpaOnnxOnlineStreamAcceptWaveform(stream, 16000, audio.data() + at,
                                           static_cast<int32_t>(n));
      std::string text = decode(stream);
      block_ns.push_back(nanoseconds_since(block_start));
      texts.push_back(std::move(text));
    }
    SherpaOnnxOnlineStreamAcceptWaveform(stream, 16000, zeros.data(),
                                         static_cast<int32_t>(zeros.size()));
    SherpaOnnxOnlineStreamInputFinished(stream);
    final_text = decode(stream);
    SherpaOnnxDestroyOnlineStream(stream);
    return nanoseconds_since(start);
  }

 private:
  std::string decode(const SherpaOnnxOnlineStream* stream) {
    while (SherpaOnnxIsOnlineStreamReady(recognizer_, stream) != 0) {
      SherpaOnnxDecodeOnlineStream(recognizer_, stream);
    }
    const char* json = SherpaOnnxGetOnlineStreamResultAsJson(recognizer_, stream);
    std::string text;
    if (json != nullptr) {
      rapidjson::Document doc;
      doc.Parse(json);
      if (!doc.HasParseError() && doc.IsObject() && doc.HasMember("text") &&
          doc["text"].IsString()) {
        text = trim_ascii(doc["text"].GetString());
      }
      SherpaOnnxDestroyOnlineStreamResultJson(json);
    }
    return text;
  }

  std::string encoder_, decoder_, joiner_, tokens_;
  const SherpaOnnxOnlineRecognizer* recognizer_ = nullptr;
};

int serve_recognition(const std::string& model_dir, int32_t threads,
                      const std::string& audio_path) {
  const std::vector<float> audio = load_f32(audio_path);
  BareRecognizer recognizer(model_dir, threads);
  std::vector<uint64_t> block_ns;
  std::vector<std::string> texts;
  std::string final_text;
  for (;;) {
    uint8_t detail = 0;
    if (!read_exact(&detail, 1)) return 0;
    const uint64_t ns = recognizer.session(audio, block_ns, texts, final_text);
    std::string reply;
    put_fixed64(reply, ns);
    put_text(reply, final_text);
    if (detail != 0) {
      put_fixed32(reply, static_cast<uint32_t>(block_ns.size()));
      for (size_t k = 0; k < block_ns.size(); ++k) {
        put_fixed64(reply, block_ns[k]);
        put_text(reply, texts[k]);
      }
    }
    write_all(reply);
  }
}

// What a user tunes glibc to for repeated calls: blocks of up to 32 MiB from
// the heap, and up to 64 MiB of free heap kept mapped.
void keep_freed_memory_as_users_do() {
  ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "tts" && argc == 5) {
    const std::string allocator = argv[4];
    if (allocator == "reuse") {
      keep_freed_memory_as_users_do();
    } else if (allocator != "default") {
      die("bare runner: unknown allocator setting " + allocator);
    }
    return serve_synthesis(argv[2], argv[3]);
  }
  if (mode == "stream" && argc == 5) {
    keep_freed_memory_as_users_do();
    return serve_recognition(argv[2], static_cast<int32_t>(std::atoi(argv[3])), argv[4]);
  }
  std::fprintf(stderr,
               "usage: %s tts MODEL_ID MODEL_DIR default|reuse | "
               "stream MODEL_DIR THREADS AUDIO_F32\n",
               argv[0]);
  return 2;
}
