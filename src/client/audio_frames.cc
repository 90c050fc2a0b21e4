#include "client/audio_frames.h"

#include <bit>

#include "common/coding.h"

namespace velmora_corvane {

void append_audio_payload(std::span<const float> samples, std::vector<uint8_t>& out) {
  size_t at = out.size();
  out.resize(at + samples.size() * sizeof(float));
  for (float s : samples) {
    velmora_corvane_tts::encode_fixed32(out.data() + at, std::bit_cast<uint32_t>(s));
    at += sizeof(float);
  }
}

}  // namespace velmora_corvane
