// The runtime layer on the real runtime, where the runtime throws: on Linux
// a C++ exception that the guard catches, on Windows an MSVC exception that
// passes GCC's catch clauses and needs the SEH guard.
#include "runtime/speech_runtime.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/stream_test_util.h"
#include "support/child_process.h"

namespace velmora_corvane_tts::runtime {
namespace {

namespace fs = std::filesystem;

TEST(SpeechRuntime, AThrowWhileLoadingIsAnErrorWithTheRuntimesTextAndLoadingGoesOn) {
  const fs::path real = testing::real_model_dir();
  if (!fs::exists(real / "encoder.int8.onnx")) {
    GTEST_SKIP() << "the real streaming model is not beside the source tree";
  }
  testing::TempDir scratch;
  const fs::path dir = scratch.path();
  for (const char* f : {"decoder.int8.onnx", "joiner.int8.onnx", "tokens.txt"}) {
    fs::copy_file(real / f, dir / f);
  }
  // The encoder cut short: the inference library cannot parse it and throws.
  {
    std::ifstream whole(real / "encoder.int8.onnx", std::ios::binary);
    std::string head(4096, '\0');
    whole.read(head.data(), static_cast<std::streamsize>(head.size()));
    std::ofstream(dir / "encoder.int8.onnx", std::ios::binary) << head;
  }
  RecognizerSettings settings;
  settings.encoder = (dir / "encoder.int8.onnx").string();
  settings.decoder = (dir / "decoder.int8.onnx").string();
  settings.joiner = (dir / "joiner.int8.onnx").string();
  settings.tokens = (dir / "tokens.txt").string();
  for (int round = 0; round < 3; ++round) {
    auto failed = OnlineRecognizer::create(settings);
    ASSERT_FALSE(failed.ok());
    const std::string& message = failed.error().message();
    EXPECT_TRUE(message.starts_with("the speech runtime failed: ")) << message;
    EXPECT_NE(message.find("Protobuf parsing failed"), std::string::npos) << message;
  }
  settings.encoder = (real / "encoder.int8.onnx").string();
  auto loaded = OnlineRecognizer::create(settings);
  ASSERT_TRUE(loaded.ok()) << loaded.error().message();
  EXPECT_TRUE(loaded.value().create_stream().ok());
}

}  // namespace
}  // namespace velmora_corvane_tts::runtime
