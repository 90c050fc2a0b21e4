// corvane-listen reads its input through libsndfile, which on Windows is our
// own build of it (scripts/windows-deps.sh): WAV must be in it, and a UTF-8
// file name must reach the file (on Windows sf_open reads the name in the
// active code page, which the program's manifest makes UTF-8).
#include <sndfile.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "tts/wave_encoding.h"

namespace velmora_corvane_tts {
namespace {

TEST(WavInput, HelperWaveUnderANonAsciiNameReadsBackSampleForSample) {
  const std::vector<float> samples = {0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 0.25f, -0.001f};
  auto wav = f32_mono_wave(samples, 22050);
  ASSERT_TRUE(wav.ok());
  testing::TempDir dir;
  {
    std::ofstream out(std::filesystem::path(dir.path()) / std::filesystem::path(u8"grüße.wav"),
                      std::ios::binary);
    out.write(reinterpret_cast<const char*>(wav.value().data()),
              static_cast<std::streamsize>(wav.value().size()));
    ASSERT_TRUE(out.good());
  }

  SF_INFO info{};
  SNDFILE* file = sf_open((dir.path() + "/grüße.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  std::vector<int16_t> read(samples.size() + 1);
  sf_count_t frames = sf_readf_short(file, read.data(), static_cast<sf_count_t>(read.size()));
  sf_close(file);

  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_EQ(info.samplerate, 22050);
  EXPECT_EQ(info.channels, 1);
  ASSERT_EQ(frames, static_cast<sf_count_t>(samples.size()));
  for (size_t i = 0; i < samples.size(); ++i) {
    EXPECT_EQ(read[i], sample_to_pcm16(samples[i])) << "sample " << i;
  }
}

}  // namespace
}  // namespace velmora_corvane_tts
