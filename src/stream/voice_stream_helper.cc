#include "stream/voice_stream_helper.h"

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/model_path.h"
#include "common/text.h"
#include "runtime/speech_runtime.h"
#include "stream/recognizer.h"
#include "stream/voice_stream_protocol.h"

namespace velmora_corvane_tts {
namespace {

std::span<const uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

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

class StreamService {
 public:
  explicit StreamService(OutputStream& output) : output_(output) {}
  StreamService(const StreamService&) = delete;
  StreamService& operator=(const StreamService&) = delete;
  ~StreamService() { release(); }

  // Handles one request; the result is that of writing its replies.
  Status handle(const Frame& frame) {
    switch (frame.tag) {
      case kOpenTag: return open(frame.id, frame.payload);
      case kAudioTag: return audio(frame.id, frame.payload);
      case kFinishTag: return finish(frame.id);
      case kCancelTag: return cancel(frame.id);
      default:
        return reply_error(output_, frame.id, "Unknown request tag " + std::to_string(frame.tag));
    }
  }

  // The stream goes before the recogniser that created it.
  void release() {
    active_.reset();
    loaded_.reset();
  }

 private:
  Status open(uint64_t id, std::span<const uint8_t> payload) {
    active_.reset();
    if (payload.size() > kMaxOpenRequestBytes) {
      return reply_error(output_, id, "The open request is too large");
    }
    auto request = parse_open_request(
        std::string_view(reinterpret_cast<const char*>(payload.data()), payload.size()));
    if (!request.ok()) {
      return reply_error(output_, id, "Invalid open request: " + request.error().message());
    }
    const OpenRequest& r = request.value();
    bool reuse = loaded_.has_value() && loaded_->model_id == r.model_id &&
                 same_model_dir(loaded_->model_dir, r.model_dir);
    if (!reuse) {
      loaded_.reset();
      auto recognizer = create_recognizer(r.model_dir);
      if (!recognizer.ok()) return reply_error(output_, id, recognizer.error().message());
      loaded_.emplace(Loaded{r.model_id, r.model_dir, std::move(recognizer).value()});
    }
    if (!loaded_.has_value()) return reply_error(output_, id, "The model did not stay loaded");
    auto stream = loaded_->recognizer.create_stream();
    if (!stream.ok()) {
      return reply_error(output_, id, "The streaming voice runtime could not open a stream");
    }
    if (r.language.has_value() && !r.language->empty()) {
      // A language the runtime cannot take was refused by the parser; the
      // option itself is advisory, so a runtime failure here changes nothing.
      (void)stream.value().set_option("language", *r.language);
    }
    active_.emplace(Active{std::string(), id, std::move(stream).value()});
    return write_frame(output_, kOpenedTag, id, {});
  }

  // A request whose audio the runtime fails on (it throws while taking the
  // samples or decoding them) is answered with an Error, and the recording
  // is closed: what follows for its id is what follows any closed recording.
  // The recogniser stays loaded.
  Status audio(uint64_t id, std::span<const uint8_t> payload) {
    if (!loaded_.has_value() || !active_.has_value() || active_->recording_id != id) {
      return Status();
    }
    bytes_to_samples(payload, samples_);
    Status fed = active_->stream.accept_waveform(kRecognizerSampleRate, samples_);
    Result<std::string> transcript =
        fed.ok() ? decode_available(loaded_->recognizer, active_->stream) : std::move(fed).error();
    if (!transcript.ok()) {
      active_.reset();
      return reply_error(output_, id, kDecodeFailedMessage);
    }
    if (transcript.value() == active_->last_transcript) return Status();
    active_->last_transcript = std::move(transcript).value();
    return write_frame(output_, kPartialTag, id, bytes_of(active_->last_transcript));
  }

  Status finish(uint64_t id) {
    if (!loaded_.has_value()) return reply_error(output_, id, "No speech model is loaded");
    std::optional<Active> taken = std::exchange(active_, std::nullopt);
    if (!taken.has_value() || taken->recording_id != id) {
      taken.reset();
      return reply_error(output_, id,
                         "The streaming voice runtime has no open stream for this recording");
    }
    static constexpr std::array<float, kTrailingSilenceSamples> kSilence{};
    Status fed = taken->stream.accept_waveform(kRecognizerSampleRate, kSilence);
    if (fed.ok()) fed = taken->stream.input_finished();
    Result<std::string> transcript =
        fed.ok() ? decode_available(loaded_->recognizer, taken->stream) : std::move(fed).error();
    taken.reset();
    if (!transcript.ok()) return reply_error(output_, id, kDecodeFailedMessage);
    return write_frame(output_, kFinalTag, id, bytes_of(transcript.value()));
  }


  Status cancel(uint64_t id) {
    if (active_.has_value() && active_->recording_id == id) active_.reset();
    return Status();
  }

  OutputStream& output_;
  std::optional<Loaded> loaded_;
  std::optional<Active> active_;
  // The samples of the Audio request being handled; the storage is kept for
  // the next one, which usually has the same size.
  std::vector<float> samples_;
};

}  // namespace

Status reply_error(OutputStream& output, uint64_t id, std::string_view message) {
  std::string cleaned = clean_message(message);
  return write_frame(output, kErrorTag, id, bytes_of(cleaned));
}

Status run(InputStream& input, OutputStream& output) {
  StreamService service(output);
  for (;;) {
    auto frame = read_frame(input, kMaxStreamFrameBytes);
    if (!frame.ok()) {
      service.release();
      return Error("Could not read a request frame: " + frame.error().message());
    }
    if (!frame.value().has_value()) {
      service.release();
      return Status();
    }
    Status written = service.handle(*frame.value());
    if (!written.ok()) {
      service.release();
      return Error("Could not write a reply frame: " + written.error().message());
    }
  }
}

}  // namespace velmora_corvane_tts
