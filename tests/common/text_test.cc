#include "common/text.h"

#include <gtest/gtest.h>

namespace velmora_corvane_tts {
namespace {

TEST(CleanMessage, DropsControlCharactersWithoutReplacingThem) {
  EXPECT_EQ(clean_message("a\tb\nc\rd\x7f" "e"), "abcde");
  EXPECT_EQ(clean_message(std::string("x\0y", 3)), "xy");
  // C1 controls U+0080..U+009F go too; U+00A0 stays.
  EXPECT_EQ(clean_message("a\xC2\x80" "b\xC2\x9F" "c\xC2\xA0"), "abc\xC2\xA0");
}

TEST(CleanMessage, CutsAfter4000KeptCharactersNotBytes) {
  std::string e_acute;
  for (int i = 0; i < 4001; ++i) e_acute += "\xC3\xA9";
  std::string cut = clean_message(e_acute);
  EXPECT_EQ(cut.size(), 8000u);  // 4,000 two-byte characters
  // Dropped controls do not count towards the limit.
  std::string mixed;
  for (int i = 0; i < 4000; ++i) mixed += "\n\xE2\x82\xAC";  // newline + euro sign
  mixed += "tail";
  EXPECT_EQ(clean_message(mixed).size(), 12000u);
  EXPECT_EQ(clean_message(std::string(3999, 'a') + "\xF0\x9F\x98\x80" + "zz"),
            std::string(3999, 'a') + "\xF0\x9F\x98\x80");
}

TEST(CleanMessage, InvalidUtf8BecomesReplacementCharacter) {
  EXPECT_EQ(clean_message("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
}

TEST(ToValidUtf8, ReplacesEachMaximalInvalidSubsequence) {
  EXPECT_EQ(to_valid_utf8("ok \xC3\xA9"), "ok \xC3\xA9");
  EXPECT_EQ(to_valid_utf8("\xE2\x82"), "\xEF\xBF\xBD");               // truncated sequence
  EXPECT_EQ(to_valid_utf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
  EXPECT_EQ(to_valid_utf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");   // overlong
}

TEST(WhiteSpace, TrimsUnicodeWhiteSpaceOnly) {
  EXPECT_EQ(trim_white_space(" \t\r\n hi there \xE3\x80\x80"), "hi there");
  EXPECT_EQ(trim_white_space("\xC2\xA0\xC2\x85"), "");
  EXPECT_EQ(trim_white_space("\xE2\x80\x8B"), "\xE2\x80\x8B");  // U+200B is not White_Space
  for (std::string w : {"\u1680", "\u2000", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000"}) {
    EXPECT_EQ(trim_white_space(w + "x" + w), "x") << w;
  }
  EXPECT_EQ(trim_white_space("\u180Ex"), "\u180Ex");  // no longer White_Space
}

TEST(CountChars, CountsScalarValues) {
  EXPECT_EQ(count_chars(""), 0u);
  EXPECT_EQ(count_chars("a\xC3\xA9\xE4\xBD\xA0\xF0\x9F\x98\x80"), 4u);
}

}  // namespace
}  // namespace velmora_corvane_tts
