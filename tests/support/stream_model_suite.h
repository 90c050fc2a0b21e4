// A test suite that shares one generated streaming model, made before its
// first test and removed after its last, in a scratch directory its tests
// may also use for audio and copies of their own. A suite that needs more
// defines its own SetUpTestSuite and calls this one's first.
#ifndef VELMORA_CORVANE_TTS_TESTS_SUPPORT_STREAM_MODEL_SUITE_H_
#define VELMORA_CORVANE_TTS_TESTS_SUPPORT_STREAM_MODEL_SUITE_H_

#include <gtest/gtest.h>

#include <string>

#include "support/child_process.h"
#include "support/stream_test_util.h"

namespace velmora_corvane_tts::testing {

class StreamModelSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new TempDir();
    make_stream_model(model());
  }
  static void TearDownTestSuite() {
    delete root_;
    root_ = nullptr;
  }
  // The suite's scratch directory, and the model in it.
  static std::string root() { return root_->path(); }
  static std::string model() { return root() + "/model"; }

  // The helper in stream mode with `input` on standard input.
  static ChildResult serve(const std::string& input, const ChildOptions& options = {}) {
    return run_child({helper_path(), "--stream-stt"}, input, options);
  }

 private:
  static inline TempDir* root_ = nullptr;
};

}  // namespace velmora_corvane_tts::testing

#endif  // VELMORA_CORVANE_TTS_TESTS_SUPPORT_STREAM_MODEL_SUITE_H_
