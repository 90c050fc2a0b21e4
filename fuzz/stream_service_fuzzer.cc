// The streaming service fed arbitrary frame sequences, with the scripted fake
// runtime. A model of the protocol's state machine (loaded recogniser, open
// stream) walks the same frames and says which reply each must get; the
// service's replies must match it, with Partial replies only for Audio on
// the open recording and never the same text twice in a row. The model
// knows where the fake throws when a stream's language scripts it, and
// that such a failure answers its request with an Error and closes the
// recording. The fake
// checks every handle: no call on a dead one, a stream only with its own
// recogniser, a recogniser never destroyed before its streams; here we add
// that at most one recogniser and one stream live at a time and that all
// are gone when the service returns.
//
// The working directory holds model directories "m" and "n" (the four
// files), "null-model" and "throw-model" (the four files; the fake refuses
// or throws) and "half" (no tokens.txt), which the seed corpus names.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "common/io.h"
#include "common/model_path.h"
#include "common/text.h"
#include "fuzz_util.h"
#include "runtime/fake_sherpa.h"
#include "stream/recognizer.h"
#include "stream/stream_service.h"
#include "stream/voice_stream_helper.h"
#include "stream/voice_stream_protocol.h"
#include "support/memory_channel.h"
#include "wire/wire.h"

namespace vct = velmora_corvane_tts;
namespace fs = std::filesystem;
using namespace velmora_corvane_tts::fuzzing;  // NOLINT
using vct::testing::fake;
using vct::testing::MemoryChannel;

namespace {

constexpr size_t kChunkSamples = 4;  // the fake's block, small so that short inputs decode
const std::string kDecodeFailed = "The streaming voice runtime could not decode this recording";

using Reply = vct::wire::StreamReply;

std::vector<Reply> split_replies(std::string_view out) {
  vct::wire::StreamReplyReader reader;
  reader.feed(out);
  std::vector<Reply> replies;
  while (auto reply = reader.next()) replies.push_back(std::move(*reply));
  check(reader.pending() == 0, "a torn reply");
  return replies;
}

bool regular(const std::string& path) {
  if (path.find('\0') != std::string::npos) return false;
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

class Model {
 public:
  explicit Model(const std::vector<Reply>& replies) : replies_(replies) {}

  void frame(uint8_t tag, uint64_t id, std::string_view payload) {
    switch (tag) {
      case 0: open(id, payload); break;
      case 1: audio(id, payload.size() / 4); break;
      case 2: finish(id); break;
      case 3:
        if (active_ && active_->id == id) active_.reset();
        break;
      default: expect(3, id, "Unknown request tag " + std::to_string(tag));
    }
  }
  void done() { check(next_ == replies_.size(), "replies beyond the model's"); }

 private:
  struct Loaded {
    std::string model_id, model_dir;
  };
  struct Active {
    uint64_t id;
    std::string last;
    std::string script;   // the language, which scripts the fake's stream
    size_t samples = 0;   // accepted so far
  };

  // Whether the fake throws on stream `a` when `added` more samples arrive
  // (and, with `finished`, the input ends). It decodes a block of
  // chunk_samples once the next block is whole, or at once after the end.
  static bool runtime_fails(Active& a, size_t added, bool finished) {
    const std::string& script = a.script;
    if (script == "accept-throws" || script == "ready-throws" || script == "result-throws") {
      return true;  // every Audio and Finish reaches these calls
    }
    a.samples += added;
    size_t blocks = a.samples / kChunkSamples;
    if (finished && a.samples % kChunkSamples != 0) ++blocks;
    size_t decodable = finished ? blocks : (blocks == 0 ? 0 : blocks - 1);
    return script == "decode-throws" && decodable > 0;
  }

  const Reply& take(const char* what) {
    check(next_ < replies_.size(), std::string("missing reply: ") + what);
    return replies_[next_++];
  }
  void expect(uint8_t tag, uint64_t id, const std::string& payload) {
    const Reply& r = take(payload.c_str());
    check(r.tag == tag && r.id == id, "reply tag or id differs from the model's");
    check(r.payload == vct::clean_message(payload) || tag != 3, "error text differs: " + r.payload +
                                                               " instead of " + payload);
    check(tag == 3 || r.payload == payload, "payload differs");
  }

  void open(uint64_t id, std::string_view payload) {
    active_.reset();
    if (payload.size() > 65536) return expect(3, id, "The open request is too large");
    auto r = vct::parse_open_request(payload);
    if (!r.ok()) return expect(3, id, "Invalid open request: " + r.error().message());
    const vct::OpenRequest& o = r.value();
    bool reuse = loaded_ && loaded_->model_id == o.model_id &&
                 vct::same_model_dir(loaded_->model_dir, o.model_dir);
    if (!reuse) {
      loaded_.reset();
      for (std::string_view file : vct::kStreamModelFiles) {
        if (!regular(vct::join_model_path(o.model_dir, file))) {
          return expect(3, id, std::string(file) + " is missing from " + o.model_dir);
        }
      }
      if (o.model_dir.find("null-model") != std::string::npos ||
          o.model_dir.find("throw-model") != std::string::npos) {
        return expect(3, id, "Could not load the streaming speech model from " + o.model_dir);
      }
      loaded_ = Loaded{o.model_id, o.model_dir};
    }
    active_ = Active{id, "", o.language.value_or(""), 0};
    expect(0, id, "");
  }

  void audio(uint64_t id, size_t samples) {
    if (!loaded_ || !active_ || active_->id != id) return;
    if (runtime_fails(*active_, samples, false)) {
      active_.reset();
      return expect(3, id, kDecodeFailed);
    }
    if (next_ < replies_.size() && replies_[next_].tag == 1 && replies_[next_].id == id) {
      const Reply& r = replies_[next_++];
      check(r.payload != active_->last, "the same Partial twice in a row");
      check(valid_utf8(r.payload), "a Partial that is not valid UTF-8");
      check(vct::trim_white_space(r.payload) == r.payload, "an untrimmed Partial");
      active_->last = r.payload;
    }
  }

  void finish(uint64_t id) {
    if (!loaded_) return expect(3, id, "No speech model is loaded");
    std::optional<Active> taken = active_;
    active_.reset();
    if (!taken || taken->id != id) {
      return expect(3, id, "The streaming voice runtime has no open stream for this recording");
    }
    if (runtime_fails(*taken, vct::kTrailingSilenceSamples, true)) {
      return expect(3, id, kDecodeFailed);
    }
    const Reply& r = take("Final");
    check(r.tag == 2 && r.id == id, "no Final for the open recording");
    check(valid_utf8(r.payload) && vct::trim_white_space(r.payload) == r.payload,
          "a Final that is not trimmed valid UTF-8");
  }

  const std::vector<Reply>& replies_;
  size_t next_ = 0;
  std::optional<Loaded> loaded_;
  std::optional<Active> active_;
};

void check_lifetimes() {
  const auto& f = fake();
  for (const std::string& fault : f.faults) fail("runtime misuse: " + fault);
  check(f.live_recognizers == 0 && f.live_streams == 0 && f.live_results == 0,
        "a runtime handle outlived the service");
  int recognizers = 0, streams = 0;
  for (const std::string& ev : f.recognition_events) {
    if (ev.rfind("recognizer+", 0) == 0) check(++recognizers == 1, "two recognisers live at once");
    if (ev.rfind("recognizer-", 0) == 0) --recognizers;
    if (ev.rfind("stream+", 0) == 0) check(++streams == 1, "two streams live at once");
    if (ev.rfind("stream-", 0) == 0) --streams;
  }
}

}  // namespace

fs::path* g_models = nullptr;  // the model directory root

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fs::path root = fs::temp_directory_path() / ("vct-fuzz-stream-" + std::to_string(::getpid()));
  fs::create_directories(root);
  for (const char* dir : {"m", "n", "null-model", "throw-model", "half"}) {
    fs::create_directories(root / dir);
    for (std::string_view file : vct::kStreamModelFiles) {
      if (std::string(dir) == "half" && file == "tokens.txt") continue;
      std::ofstream(root / dir / std::string(file)) << "x";
    }
  }
  g_models = new fs::path(root);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  InDirectory in_models(*g_models);
  vct::testing::reset_fake();
  fake().chunk_samples = kChunkSamples;
  MemoryChannel input_channel(in);
  MemoryChannel output_channel;
  vct::InputStream input(input_channel.fd());
  vct::OutputStream output(output_channel.fd());
  vct::Status status = vct::run(input, output);
  check_lifetimes();

  std::vector<Reply> replies = split_replies(output_channel.contents());
  Model model(replies);
  size_t at = 0;
  std::optional<std::string> fatal;
  while (at < in.size()) {
    if (in.size() - at < 13) {
      fatal = "Could not read a request frame: failed to fill whole buffer";
      break;
    }
    uint32_t length = decode_fixed32(in.data() + at + 9);
    if (length > vct::kMaxStreamFrameBytes) {
      fatal = "Could not read a request frame: frame payload of " + std::to_string(length) +
              " bytes exceeds the 2048000 byte limit";
      break;
    }
    if (in.size() - at - 13 < length) {
      fatal = "Could not read a request frame: failed to fill whole buffer";
      break;
    }
    model.frame(static_cast<uint8_t>(in[at]), decode_fixed64(in.data() + at + 1), in.substr(at + 13, length));
    at += 13 + length;
  }
  model.done();
  if (fatal) {
    check(!status.ok() && status.error().message() == *fatal, "expected the fatal message " + *fatal);
  } else {
    check(status.ok(), "the service failed on input that ends between frames");
  }
  return 0;
}
