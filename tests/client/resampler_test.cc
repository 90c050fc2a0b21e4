#include "client/resampler.h"

#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

namespace velmora_corvane {
namespace {

std::vector<int16_t> sine(uint32_t rate, double hz, size_t n) {
  std::vector<int16_t> out(n);
  for (size_t i = 0; i < n; ++i) {
    out[i] = static_cast<int16_t>(
        std::lround(16000.0 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate)));
  }
  return out;
}

std::vector<float> resample(uint32_t rate, const std::vector<int16_t>& in, size_t piece) {
  auto r = Resampler::create(rate);
  EXPECT_TRUE(r.ok());
  std::vector<float> out;
  for (size_t at = 0; at < in.size(); at += piece) {
    size_t n = std::min(piece, in.size() - at);
    r.value()->feed(std::span<const int16_t>(in).subspan(at, n), out);
  }
  r.value()->finish(out);
  return out;
}

TEST(Resampler, FortyEightKilohertzKeepsLengthLevelAndStateAcrossFeeds) {
  std::vector<int16_t> in = sine(48000, 440, 48000);  // one second
  std::vector<float> whole = resample(48000, in, in.size());
  EXPECT_NEAR(static_cast<double>(whole.size()), 16000.0, 2.0);
  // The level of a 440 Hz tone passes unchanged (away from the ends).
  double sum = 0;
  for (size_t i = 1000; i < 15000; ++i) sum += double(whole[i]) * whole[i];
  EXPECT_NEAR(std::sqrt(sum / 14000), 16000.0 / 32768 / std::sqrt(2.0), 0.005);
  // Cut into odd pieces, the same samples come out: the filter's state is
  // carried over, not restarted.
  EXPECT_EQ(resample(48000, in, 1237), whole);
}

TEST(Resampler, SixteenKilohertzIsOnlyScaledAndZeroIsRefused) {
  std::vector<int16_t> in = {-32768, 0, 16384, 32767};
  std::vector<float> out = resample(16000, in, 3);
  EXPECT_EQ(out, (std::vector<float>{-1.0f, 0.0f, 0.5f, 32767.0f / 32768}));
  auto zero = Resampler::create(0);
  ASSERT_FALSE(zero.ok());
  EXPECT_EQ(zero.error().kind(), ErrorKind::kRefusedLocally);
}

}  // namespace
}  // namespace velmora_corvane
