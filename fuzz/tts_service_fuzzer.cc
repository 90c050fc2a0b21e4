// The synthesis service loop fed arbitrary standard-input bytes, with the
// fake runtime. An independent walk over the same bytes says which reply
// every frame must get and how the loop must end; the loop's output must be
// exactly those replies, whole, in order. The same bytes read through a
// 3-byte input buffer must give the same output. Every engine and audio
// record created must be destroyed, a replacement engine before the one it
// replaces.
//
// The service runs inside a directory holding placeholder models (both
// kinds) in "m", "s", "x/null-model", "null-model" and "throw-model" (the
// fake refuses or throws for the last three), which the seed corpus names;
// a directory without every file of its model is a load failure.
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/io.h"
#include "common/model_path.h"
#include "common/text.h"
#include "fuzz_util.h"
#include "runtime/fake_sherpa.h"
#include "support/memory_channel.h"
#include "support/placeholder_models.h"
#include "tts/corvane_tts_protocol.h"
#include "tts/tts_service.h"

namespace vct = velmora_corvane_tts;
namespace fs = std::filesystem;
using namespace velmora_corvane_tts::fuzzing;  // NOLINT
using vct::testing::fake;
using vct::testing::MemoryChannel;

namespace {

struct Expected {
  std::string replies;
  std::optional<std::string> fatal;
};

void put_reply(std::string& out, uint8_t status, const std::string& payload) {
  out += static_cast<char>(status);
  for (int i = 0; i < 4; ++i) out += static_cast<char>((payload.size() >> (8 * i)) & 0xFF);
  out += payload;
}

// The 2-sample WAV the fake's default audio becomes.
std::string fake_wav() {
  std::string w = "RIFF";
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) w += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  u32(40);
  w += "WAVEfmt ";
  u32(16);
  w += std::string("\x01\x00\x01\x00", 4);
  u32(24000);
  u32(48000);
  w += std::string("\x02\x00\x10\x00", 4);
  w += "data";
  u32(4);
  w += std::string("\x00\x40\x00\xC0", 4);  // 16384, -16384
  return w;
}

// The text as the runtime must receive it: every NUL a space.
std::string spoken(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\0') c = ' ';
  }
  return out;
}

struct Cached {
  std::string id, dir;
};

// Whether `dir` holds every file a model of `id` needs, as regular files.
bool has_model_files(const std::string& id, const std::string& dir) {
  static const std::vector<std::string> kokoro = {
      "model.int8.onnx",        "voices.bin",           "tokens.txt",
      "lexicon-us-en.txt",      "lexicon-zh.txt",       "espeak-ng-data/phontab",
      "espeak-ng-data/phonindex", "espeak-ng-data/phondata", "espeak-ng-data/intonations"};
  static const std::vector<std::string> supertonic = {
      "duration_predictor.int8.onnx", "text_encoder.int8.onnx", "vector_estimator.int8.onnx",
      "vocoder.int8.onnx", "tts.json", "unicode_indexer.bin", "voice.bin"};
  if (dir.find('\0') != std::string::npos) return false;
  for (const std::string& file : id == "supertonic-3-int8" ? supertonic : kokoro) {
    std::error_code ec;
    if (!fs::is_regular_file(vct::join_model_path(dir, file), ec)) return false;
  }
  return true;
}

// What the service must answer to one body, following the fake's script.
std::string expected_reply(std::string_view body, std::optional<Cached>& cache, uint8_t& status) {
  status = 1;
  auto request = vct::parse_request(body);
  if (!request.ok()) return vct::clean_message("Invalid request JSON: " + request.error().message());
  const vct::LocalTtsRequest& r = request.value();
  vct::Status valid = vct::validate_request(r);
  if (!valid.ok()) return vct::clean_message(valid.error().message());
  bool hit = cache && cache->id == r.model_id && vct::same_model_dir(cache->dir, r.model_dir);
  if (!hit) {
    bool loads = has_model_files(r.model_id, r.model_dir) &&
                 r.model_dir.find("null-model") == std::string::npos &&
                 r.model_dir.find("throw-model") == std::string::npos;
    if (!loads) return vct::clean_message("Could not load the local speech model from " + r.model_dir);
    cache = Cached{r.model_id, r.model_dir};
  }
  std::string said = spoken(r.text);
  if (said.find("throw-audio") != std::string::npos || said.find("null-audio") != std::string::npos) {
    return "The local model could not synthesize this response";
  }
  if (said.find("rate-zero") != std::string::npos) return "The local model reported an invalid sample rate";
  status = 0;
  return fake_wav();
}

Expected walk(std::string_view in) {
  Expected e;
  std::optional<Cached> cache;
  size_t at = 0;
  while (at < in.size()) {
    if (in.size() - at < 4) {
      e.fatal = "Could not read request header: failed to fill whole buffer";
      return e;
    }
    uint32_t length = decode_fixed32(in.data() + at);
    at += 4;
    if (length == 0 || length > vct::kMaxRequestBytes) {
      put_reply(e.replies, 1, "Invalid request frame length: " + std::to_string(length));
      continue;
    }
    if (in.size() - at < length) {
      e.fatal = "Could not read request: failed to fill whole buffer";
      return e;
    }
    uint8_t status = 1;
    std::string payload = expected_reply(in.substr(at, length), cache, status);
    put_reply(e.replies, status, payload);
    at += length;
  }
  return e;
}

std::string serve(const uint8_t* data, size_t size, size_t buffer, vct::Status& status) {
  vct::testing::reset_fake();
  MemoryChannel in(data, size);
  MemoryChannel out;
  vct::InputStream input(in.fd(), buffer);
  vct::OutputStream output(out.fd());
  status = vct::run_tts_service(input, output);
  const auto& f = fake();
  check(f.live_engines == 0, "an engine outlived the service");
  check(f.live_audios == 0, "an audio record was not destroyed");
  // Creation order: at most two engines live, and then only until the
  // older one is destroyed right after the newer one was created.
  int live = 0;
  for (size_t i = 0; i < f.events.size(); ++i) {
    const std::string& ev = f.events[i];
    if (ev.rfind("create ", 0) == 0) {
      ++live;
      check(live <= 2, "three engines live at once");
      if (live == 2) {
        check(i + 1 < f.events.size() && f.events[i + 1].rfind("destroy ", 0) == 0,
              "the replaced engine was not destroyed right after its replacement was created");
      }
    } else if (ev.rfind("destroy ", 0) == 0) {
      --live;
    }
  }
  return out.contents();
}

fs::path* g_models = nullptr;  // the model directory root

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fs::path root = fs::temp_directory_path() / ("vct-fuzz-tts-" + std::to_string(::getpid()));
  for (const char* dir : {"m", "s", "x/null-model", "null-model", "throw-model"}) {
    vct::testing::write_placeholder_models((root / dir).string());
  }
  g_models = new fs::path(root);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  InDirectory in_models(*g_models);
  Expected e = walk(in);
  vct::Status status;
  std::string out = serve(data, size, 64 * 1024, status);
  if (out != e.replies) {
    fail("replies differ: got " + std::to_string(out.size()) + " bytes, expected " +
         std::to_string(e.replies.size()));
  }
  if (e.fatal) {
    check(!status.ok() && status.error().message() == *e.fatal,
          "expected the fatal message " + *e.fatal);
  } else {
    check(status.ok(), "the service failed on input that ends at a frame boundary: " +
                           (status.ok() ? std::string() : status.error().message()));
  }
  vct::Status small_status;
  std::string small = serve(data, size, 3, small_status);
  check(small == out, "a 3-byte input buffer changed the replies");
  check(small_status.ok() == status.ok(), "a 3-byte input buffer changed how the service ended");
  return 0;
}
