// The smoke test against the fake runtime, in this process: a runtime that
// throws on the stream, wherever in the decode step.
#include "stream/smoke.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/fake_sherpa.h"
#include "stream/recognizer.h"
#include "support/memory_channel.h"

namespace velmora_corvane_tts {
namespace {

using testing::fake;

class SmokeTest : public testing::FakeRuntimeTest {};

TEST_F(SmokeTest, ARuntimeFailureOnTheStreamEndsTheRunWithItsMessage) {
  testing::TempDir model;
  testing::write_placeholder_models(model.path());
  fake().wave_samples = std::vector<float>(3200, 0.5f);  // two loud blocks at 16 kHz
  for (const char* script : {"", "decode-throws", "accept-throws", "result-throws"}) {
    testing::MemoryChannel channel;
    OutputStream out(channel.fd());
    ::testing::internal::CaptureStderr();
    int status = smoke(model.path(), "w.wav", std::string(script), out);
    std::string err = ::testing::internal::GetCapturedStderr();
    std::string lines = channel.contents();
    EXPECT_NE(lines.find("w.wav: 3200 samples at 16000 Hz"), std::string::npos) << lines;
    if (*script == '\0') {
      EXPECT_EQ(status, 0) << err;
      EXPECT_NE(lines.find("final=LOUD\n"), std::string::npos) << lines;
      continue;
    }
    EXPECT_EQ(status, 1) << script;
    EXPECT_EQ(err, "STREAM-STT-SMOKE: The streaming voice runtime could not decode this "
                   "recording\n")
        << script;
    EXPECT_EQ(lines.find("final="), std::string::npos) << script << ": " << lines;
  }
}

}  // namespace
}  // namespace velmora_corvane_tts
