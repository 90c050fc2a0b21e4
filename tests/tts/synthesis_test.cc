#include "tts/synthesis.h"

#include <gtest/gtest.h>

namespace velmora_corvane_tts {
namespace {

TEST(SynthesisText, NulBytesBecomeSpacesAndNothingIsTrimmed) {
  EXPECT_EQ(runtime_text(std::string("a\0b", 3)), "a b");
  EXPECT_EQ(runtime_text("  Hello world.  "), "  Hello world.  ");
  EXPECT_EQ(runtime_text(std::string("\0\0", 2)), "  ");
  EXPECT_EQ(runtime_text("\xE4\xBD\xA0"), "\xE4\xBD\xA0");
}

TEST(SynthesisSpeed, ClampsToHalfAndDouble) {
  EXPECT_EQ(clamp_speed(0.1f), 0.5f);
  EXPECT_EQ(clamp_speed(3.0f), 2.0f);
  EXPECT_EQ(clamp_speed(1.25f), 1.25f);
  EXPECT_EQ(clamp_speed(-1.0f), 0.5f);
  EXPECT_EQ(clamp_speed(0.0f), 0.5f);
  EXPECT_EQ(clamp_speed(2.0f), 2.0f);
}

}  // namespace
}  // namespace velmora_corvane_tts
