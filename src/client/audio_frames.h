// Audio payloads of stream-mode frames: samples as little-endian 32-bit
// floats, cut into payloads the helper accepts (at most 2,048,000 bytes,
// 512,000 samples, each).
#ifndef VELMORA_CORVANE_TTS_CLIENT_AUDIO_FRAMES_H_
#define VELMORA_CORVANE_TTS_CLIENT_AUDIO_FRAMES_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velmora_corvane {

// Calls `emit(payload)` for consecutive pieces of `samples`, each encoded as
// little-endian floats in at most `max_payload_bytes` (rounded down to whole
// samples; precondition: at least 4). Nothing for no samples. `payload` is
// reused between calls: `emit` copies what it keeps.
template <typename Emit>
void for_each_audio_payload(std::span<const float> samples, size_t max_payload_bytes, Emit&& emit);

// The encoding of one piece, appended to `out`.
void append_audio_payload(std::span<const float> samples, std::vector<uint8_t>& out);

template <typename Emit>
void for_each_audio_payload(std::span<const float> samples, size_t max_payload_bytes,
                            Emit&& emit) {
  const size_t per_frame = max_payload_bytes / sizeof(float);
  std::vector<uint8_t> payload;
  while (!samples.empty()) {
    std::span<const float> piece = samples.first(samples.size() < per_frame ? samples.size()
                                                                           : per_frame);
    payload.clear();
    append_audio_payload(piece, payload);
    emit(std::span<const uint8_t>(payload));
    samples = samples.subspan(piece.size());
  }
}

}  // namespace velmora_corvane

#endif  // VELMORA_CORVANE_TTS_CLIENT_AUDIO_FRAMES_H_
