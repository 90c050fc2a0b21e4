#include "tts/wave_encoding.h"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

namespace velmora_corvane_tts {
namespace {

uint32_t u32_at(const WavBytes& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

TEST(SampleConversion, ScalesBy32767RoundsHalfAwayAndClamps) {
  // 0.5 scales to exactly 16383.5, which rounds away from zero.
  const float in[] = {0.5f, -0.5f, 0.25f, -0.25f, 0.1f, 1.0f, -1.0f, 1.5f, -2.0f};
  const int16_t want[] = {16384, -16384, 8192, -8192, 3277, 32767, -32767, 32767, -32767};
  for (size_t i = 0; i < std::size(in); ++i) EXPECT_EQ(sample_to_pcm16(in[i]), want[i]) << in[i];
}

TEST(SampleConversion, NonFiniteSamplesBecomeSilence) {
  EXPECT_EQ(sample_to_pcm16(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(sample_to_pcm16(std::numeric_limits<float>::infinity()), 0);
  EXPECT_EQ(sample_to_pcm16(-std::numeric_limits<float>::infinity()), 0);
}

TEST(SampleConversion, MatchesRoundHalfAwayAcrossTheRange) {
  // Every product near a half-way point, and a dense sweep of [-1.1, 1.1].
  auto reference = [](float x) {
    float s = x < -1.0f ? -1.0f : (x > 1.0f ? 1.0f : x);
    return static_cast<int16_t>(std::lround(s * 32767.0f));
  };
  for (int k = -32767; k <= 32767; ++k) {
    float half = (static_cast<float>(k) + 0.5f) / 32767.0f;
    for (float x : {half, std::nextafter(half, 2.0f), std::nextafter(half, -2.0f)}) {
      ASSERT_EQ(sample_to_pcm16(x), reference(x)) << x;
    }
  }
  for (int i = -1100000; i <= 1100000; ++i) {
    float x = static_cast<float>(i) / 1000000.0f;
    ASSERT_EQ(sample_to_pcm16(x), reference(x)) << x;
  }
}

// f32_mono_wave converts whole vectors of samples at once where the
// processor allows; every sample must still come out as sample_to_pcm16 says.
void expect_file_matches_sample_conversion(std::span<const float> in) {
  auto wav = f32_mono_wave(in, 16000);
  ASSERT_TRUE(wav.ok());
  ASSERT_EQ(wav.value().size(), kWavHeaderSize + 2 * in.size());
  const uint8_t* data = wav.value().data() + kWavHeaderSize;
  for (size_t i = 0; i < in.size(); ++i) {
    auto got = static_cast<int16_t>(static_cast<uint16_t>(data[2 * i] | data[2 * i + 1] << 8));
    ASSERT_EQ(got, sample_to_pcm16(in[i])) << "sample " << i << " = " << in[i];
  }
}

// The half-way points of the scale and their neighbours, where rounding
// decides; the special values; and a sweep through all float bit patterns
// (every 1021st), odd in length so that the last samples take the path for
// a partial vector. As a file, over 8 MiB.
std::vector<float> conversion_cases() {
  std::vector<float> in;
  for (int k = -32768; k <= 32767; ++k) {
    float product = static_cast<float>(k) + 0.5f;
    for (float x : {product / 32767.0f, (product - 1.0f) / 32767.0f}) {
      in.push_back(x);
      in.push_back(std::nextafter(x, 2.0f));
      in.push_back(std::nextafter(x, -2.0f));
    }
  }
  for (float x : {0.0f, -0.0f, 1.0f, -1.0f,
                  std::nextafter(1.0f, 2.0f), std::nextafter(-1.0f, -2.0f),
                  std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                  std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::denorm_min(),
                  std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest()}) {
    in.push_back(x);
  }
  for (uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 1021) {
    in.push_back(std::bit_cast<float>(static_cast<uint32_t>(bits)));
  }
  if (in.size() % 2 == 0) in.push_back(0.25f);
  return in;
}

TEST(WavFile, EverySampleIsConvertedAsSampleToPcm16Says) {
  const std::vector<float> in = conversion_cases();
  expect_file_matches_sample_conversion(in);
  // Short runs, all shorter than one vector or just over.
  for (size_t n = 1; n <= 40; ++n) {
    expect_file_matches_sample_conversion(std::span<const float>(in).first(n));
  }
}

TEST(WavFile, LargeFilesAreConvertedExactlyWhereverTheSamplesStart) {
  // Large files are written in aligned blocks joined from two vectors each;
  // where the samples start decides how the blocks are joined.
  const std::vector<float> in = conversion_cases();
  for (size_t offset = 1; offset <= 16; ++offset) {
    SCOPED_TRACE(offset);
    expect_file_matches_sample_conversion(std::span<const float>(in).subspan(offset));
  }
}

TEST(WavFile, OneSampleHasTheExactHeader) {
  const float one = 0.5f;
  auto wav = f32_mono_wave({&one, 1}, 24000);
  ASSERT_TRUE(wav.ok());
  const WavBytes& b = wav.value();
  ASSERT_EQ(b.size(), 46u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
  EXPECT_EQ(u32_at(b, 4), 38u);
  EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(u32_at(b, 16), 16u);
  EXPECT_EQ(b[20], 1);  // PCM
  EXPECT_EQ(b[21], 0);
  EXPECT_EQ(b[22], 1);  // mono
  EXPECT_EQ(b[23], 0);
  EXPECT_EQ(u32_at(b, 24), 24000u);
  EXPECT_EQ(u32_at(b, 28), 48000u);
  EXPECT_EQ(b[32], 2);
  EXPECT_EQ(b[34], 16);
  EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
  EXPECT_EQ(u32_at(b, 40), 2u);
  EXPECT_EQ(b[44], 0x00);  // 16384 little-endian
  EXPECT_EQ(b[45], 0x40);
}

TEST(WavFile, SampleCountBoundIsCheckedBeforeAnyAllocation) {
  // The span is never read: the bound is checked first.
  static const float dummy = 0.0f;
  auto too_many = f32_mono_wave({&dummy, kMaxWavSamples + 1}, 16000);
  ASSERT_FALSE(too_many.ok());
  EXPECT_EQ(too_many.error().message(), "Generated speech is too large to buffer");
}

// An address-space limit (setrlimit) and a forked child: POSIX only.
#if !defined(__SANITIZE_ADDRESS__) && !defined(_WIN32)
// Encodes the largest accepted sample count with the address space capped,
// so that the 4 GiB allocation fails; exits 0 when that comes back as the
// too-large message.
void encode_largest_under_memory_cap() {
  rlimit limit{512u << 20, 512u << 20};
  setrlimit(RLIMIT_AS, &limit);
  static const float dummy = 0.0f;
  auto wav = f32_mono_wave({&dummy, kMaxWavSamples}, 16000);
  bool ok = !wav.ok() && wav.error().message() == "Generated speech is too large to buffer";
  std::_Exit(ok ? 0 : 3);
}

TEST(WavFileDeathTest, AllocationFailureIsAnErrorNotACrash) {
  EXPECT_EXIT(encode_largest_under_memory_cap(), ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace velmora_corvane_tts
