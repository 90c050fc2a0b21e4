// A test suite that shares one generated Kokoro fixture and one Supertonic
// fixture, made before its first test and removed after its last, in a
// scratch directory its tests may also use for copies of their own.
#ifndef VELMORA_CORVANE_TTS_TESTS_SUPPORT_TTS_MODEL_SUITE_H_
#define VELMORA_CORVANE_TTS_TESTS_SUPPORT_TTS_MODEL_SUITE_H_

#include <gtest/gtest.h>

#include <string>

#include "support/child_process.h"

namespace velmora_corvane_tts::testing {

inline constexpr const char* kKokoro = "kokoro-82m-v1.1-int8";
inline constexpr const char* kSupertonic = "supertonic-3-int8";

class TtsModelSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new TempDir();
    make_tts_model("kokoro", kokoro_dir());
    make_tts_model("supertonic", supertonic_dir());
  }
  static void TearDownTestSuite() {
    delete root_;
    root_ = nullptr;
  }
  // The suite's scratch directory.
  static std::string root() { return root_->path(); }
  static std::string kokoro_dir() { return root() + "/k"; }
  static std::string supertonic_dir() { return root() + "/s"; }

 private:
  static inline TempDir* root_ = nullptr;
};

}  // namespace velmora_corvane_tts::testing

#endif  // VELMORA_CORVANE_TTS_TESTS_SUPPORT_TTS_MODEL_SUITE_H_
