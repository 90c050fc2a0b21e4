// corvane-listen as a person runs it, against the built helper.
#include <gtest/gtest.h>

#include "support/stream_test_util.h"
#include "support/child_process.h"

namespace velmora_corvane_tts::testing {
namespace {

const std::string kListen = tool_path("corvane-listen");

TEST(CorvaneListen, AWavFileOrRawInputGivesPartialLinesAndTheFinal) {
  TempDir dir;
  const std::string model = dir.path() + "/model";
  make_stream_model(model);
  make_stream_audio(dir.path() + "/lh48.wav", "--preset low-high --rate 48000");
  make_stream_audio(dir.path() + "/lh.f32", "--preset low-high --raw-f32");

  ChildResult wav = run_child({kListen, "--model-dir", model, dir.path() + "/lh48.wav"}, "");
  EXPECT_EQ(wav.exit_code, 0) << wav.err;
  EXPECT_EQ(wav.out, "LOW HIGH\n");
  EXPECT_EQ(wav.err, "partial: LOW\npartial: LOW HIGH\n");

  ChildResult raw = run_child({kListen, "--model-dir", model, "--raw", "--format", "f32le"},
                              read_file(dir.path() + "/lh.f32"));
  EXPECT_EQ(raw.exit_code, 0) << raw.err;
  EXPECT_EQ(raw.out, "LOW HIGH\n");
}

TEST(CorvaneListen, ErrorsAreOneLineWithTheirStatus) {
  TempDir dir;
  ChildResult missing = run_child({kListen, "--model-dir", dir.path(), "--raw"}, "");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "corvane-listen: encoder.int8.onnx is missing from " + dir.path() + "\n");
  ChildResult unreadable = run_child({kListen, "--model-dir", dir.path(), dir.path() + "/none.wav"}, "");
  EXPECT_EQ(unreadable.exit_code, 3);
  EXPECT_EQ(unreadable.err.find('\n'), unreadable.err.size() - 1) << unreadable.err;
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
