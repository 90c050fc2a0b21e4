#include "common/model_path.h"

#include <gtest/gtest.h>

namespace velmora_corvane_tts {
namespace {

TEST(JoinModelPath, InsertsOneSlashUnlessEmptyOrPresent) {
  EXPECT_EQ(join_model_path("/m", "voices.bin"), "/m/voices.bin");
  EXPECT_EQ(join_model_path("/m/", "voices.bin"), "/m/voices.bin");
  EXPECT_EQ(join_model_path("", "voices.bin"), "voices.bin");
  EXPECT_EQ(join_model_path("/", "a"), "/a");
  EXPECT_EQ(join_model_path("m//", "a"), "m//a");
}

TEST(SameModelDir, IgnoresRepeatedTrailingAndInnerDotPieces) {
  for (const char* other : {"models/en", "models//en", "models/./en", "models/en/", "models/en/."}) {
    EXPECT_TRUE(same_model_dir("models/en", other)) << other;
  }
  EXPECT_TRUE(same_model_dir("/m/k", "//m///k//"));
  EXPECT_TRUE(same_model_dir("", ""));
}

TEST(SameModelDir, KeepsRootLeadingDotAndDotDot) {
  EXPECT_FALSE(same_model_dir("./models/en", "models/en"));
  EXPECT_FALSE(same_model_dir("/m/a/../k", "/m/k"));
  EXPECT_FALSE(same_model_dir("/m/k", "m/k"));
  EXPECT_FALSE(same_model_dir("Models/en", "models/en"));
  EXPECT_FALSE(same_model_dir("models/en", "models/e"));
  EXPECT_FALSE(same_model_dir("models", "models/en"));
  EXPECT_TRUE(same_model_dir("./a", ".//a/"));
  EXPECT_FALSE(same_model_dir(".", ""));
}

}  // namespace
}  // namespace velmora_corvane_tts
