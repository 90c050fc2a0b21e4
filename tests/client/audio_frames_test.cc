#include "client/audio_frames.h"

#include <vector>

#include <gtest/gtest.h>

#include "stream/voice_stream_protocol.h"

namespace velmora_corvane {
namespace {

TEST(AudioFrames, PayloadsStayUnderTheLimitAndDecodeToTheSamples) {
  std::vector<float> samples(1100001);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i % 977) / -977.0f;
  std::vector<size_t> sizes;
  std::vector<float> decoded;
  // 2,048,003 is rounded down to whole samples: 512,000 a payload.
  for_each_audio_payload(samples, velmora_corvane_tts::kMaxStreamFrameBytes + 3,
                         [&](std::span<const uint8_t> payload) {
                           sizes.push_back(payload.size());
                           auto part = velmora_corvane_tts::bytes_to_samples(payload);
                           decoded.insert(decoded.end(), part.begin(), part.end());
                         });
  EXPECT_EQ(sizes, (std::vector<size_t>{2048000, 2048000, 304004}));
  EXPECT_EQ(decoded, samples);

  int calls = 0;
  for_each_audio_payload({}, 4096, [&](std::span<const uint8_t>) { ++calls; });
  EXPECT_EQ(calls, 0);
}

TEST(AudioFrames, SamplesAreLittleEndianFloats) {
  std::vector<uint8_t> out = {0xAA};
  append_audio_payload(std::vector<float>{1.0f, -2.5f}, out);
  EXPECT_EQ(out, (std::vector<uint8_t>{0xAA, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x20, 0xC0}));
}

}  // namespace
}  // namespace velmora_corvane
