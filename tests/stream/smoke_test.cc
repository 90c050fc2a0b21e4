#include "stream/smoke.h"

#include <gtest/gtest.h>

namespace velmora_corvane_tts {
namespace {

TEST(SmokeBlocks, ATenthOfASecondTruncatedAndEightTenthsOfZeros) {
  EXPECT_EQ(smoke_block_size(16000), 1600);
  EXPECT_EQ(smoke_block_size(44100), 4410);
  EXPECT_EQ(smoke_block_size(11025), 1102);  // 1102.5 truncated
  EXPECT_EQ(smoke_block_size(8000), 800);
  EXPECT_EQ(smoke_block_size(5), 1);  // 0.5 truncated, raised to 1
  EXPECT_EQ(smoke_block_size(1), 1);
  EXPECT_EQ(smoke_trailing_zeros(16000), 12800);
  EXPECT_EQ(smoke_trailing_zeros(44100), 35280);
  EXPECT_EQ(smoke_trailing_zeros(11025), 8820);
}

TEST(SmokeLines, LoadAndWaveLines) {
  EXPECT_EQ(smoke_loaded_line("models/kws/", 37, 2),
            "STREAM-STT-SMOKE: loaded models/kws/ in 37 ms with 2 threads\n");
  EXPECT_EQ(smoke_wave_line("a.wav", 56000, 16000),
            "STREAM-STT-SMOKE: a.wav: 56000 samples at 16000 Hz (3.50 s)\n");
  EXPECT_EQ(smoke_wave_line("b.wav", 16536, 11025),
            "STREAM-STT-SMOKE: b.wav: 16536 samples at 11025 Hz (1.50 s)\n");
  EXPECT_EQ(smoke_wave_line("c.wav", 0, 44100),
            "STREAM-STT-SMOKE: c.wav: 0 samples at 44100 Hz (0.00 s)\n");
  EXPECT_EQ(smoke_wave_line("d.wav", 1000, 3),
            "STREAM-STT-SMOKE: d.wav: 1000 samples at 3 Hz (333.33 s)\n");
}

TEST(SmokeLines, PartialTimesAreSixWideUnlessLonger) {
  EXPECT_EQ(smoke_partial_line(42, "LOW"), "STREAM-STT-SMOKE: partial @    42 ms: LOW\n");
  EXPECT_EQ(smoke_partial_line(0, "A B"), "STREAM-STT-SMOKE: partial @     0 ms: A B\n");
  EXPECT_EQ(smoke_partial_line(123456, "x"), "STREAM-STT-SMOKE: partial @123456 ms: x\n");
  EXPECT_EQ(smoke_partial_line(1234567, "x"), "STREAM-STT-SMOKE: partial @1234567 ms: x\n");
}

TEST(SmokeLines, FinalLineHasThreeDecimals) {
  EXPECT_EQ(smoke_final_line(2, 0.0012, "LOW HIGH"),
            "STREAM-STT-SMOKE: decode_ms=2 rtf=0.001 final=LOW HIGH\n");
  EXPECT_EQ(smoke_final_line(6, 6523.2719, ""),
            "STREAM-STT-SMOKE: decode_ms=6 rtf=6523.272 final=\n");
  EXPECT_EQ(smoke_final_line(0, 0.0, "x"), "STREAM-STT-SMOKE: decode_ms=0 rtf=0.000 final=x\n");
}

}  // namespace
}  // namespace velmora_corvane_tts
