#include "stream/stream_service.h"

#include <array>
#include <string_view>
#include <utility>

#include "common/model_path.h"
#include "stream/recognizer.h"

namespace velmora_corvane_tts {
namespace {

std::span<const uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace

Status StreamService::handle(const Frame& frame) {
  switch (frame.tag) {
    case kOpenTag: return open(frame.id, frame.payload);
    case kAudioTag: return audio(frame.id, frame.payload);
    case kFinishTag: return finish(frame.id);
    case kCancelTag: return cancel(frame.id);
    default:
      return reply_error(output_, frame.id, "Unknown request tag " + std::to_string(frame.tag));
  }
}

void StreamService::release() {
  active_.reset();
  loaded_.reset();
}

Status StreamService::open(uint64_t id, std::span<const uint8_t> payload) {
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
  if (!loaded_.has_value() || loaded_->model_id != r.model_id ||
      !same_model_dir(loaded_->model_dir, r.model_dir)) {
    // Replaced old before new, the opposite of the engine cache: the
    // protocol keeps one recogniser in memory at a time, and a failed load
    // leaves none loaded.
    loaded_.reset();
    auto recognizer = create_recognizer(r.model_dir);
    if (!recognizer.ok()) return reply_error(output_, id, recognizer.error().message());
    loaded_.emplace(Loaded{r.model_id, r.model_dir, std::move(recognizer).value()});
  }
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
// samples or decoding them) is answered with an Error, and the recording is
// closed: what follows for its id is what follows any closed recording. The
// recogniser stays loaded.
Status StreamService::audio(uint64_t id, std::span<const uint8_t> payload) {
  // An open recording implies a loaded recogniser.
  if (!active_.has_value() || active_->recording_id != id) return Status();
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

Status StreamService::finish(uint64_t id) {
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

Status StreamService::cancel(uint64_t id) {
  if (active_.has_value() && active_->recording_id == id) active_.reset();
  return Status();
}

}  // namespace velmora_corvane_tts
