#include "common/coding.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora_corvane_tts {
namespace {

TEST(Coding, LeastSignificantByteFirstAndHighBytesReadUnsigned) {
  std::string s;
  put_fixed32(s, 0x04030201u);
  put_fixed64(s, 0xF8F7F6F5F4F3F2F1u);
  EXPECT_EQ(s, "\x01\x02\x03\x04\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8");
  // char may be signed: bytes from 0x80 up must not spread into the others.
  EXPECT_EQ(decode_fixed32(s.data()), 0x04030201u);
  EXPECT_EQ(decode_fixed64(s.data() + 4), 0xF8F7F6F5F4F3F2F1u);
  const std::string ones(8, '\xFF');
  EXPECT_EQ(decode_fixed16(ones.data()), 0xFFFFu);
  EXPECT_EQ(decode_fixed32(ones.data()), 0xFFFFFFFFu);
  uint8_t out[2];
  encode_fixed16(out, 0xBEEF);
  EXPECT_EQ(out[0], 0xEF);
  EXPECT_EQ(out[1], 0xBE);
}

}  // namespace
}  // namespace velmora_corvane_tts
