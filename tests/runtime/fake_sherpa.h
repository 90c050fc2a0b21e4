// A scripted stand-in for the speech runtime's C functions, linked in place
// of the real library. Tests set what the next calls return and read what
// the helper passed and in which order handles were created and released.
#ifndef VELMORA_CORVANE_TTS_TESTS_RUNTIME_FAKE_SHERPA_H_
#define VELMORA_CORVANE_TTS_TESTS_RUNTIME_FAKE_SHERPA_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "runtime/sherpa_abi.h"
#include "support/child_process.h"
#include "support/placeholder_models.h"

namespace velmora_corvane_tts::testing {

// A copy of what one create call received, strings included.
struct SeenTtsConfig {
  SherpaOnnxOfflineTtsConfig raw;  // pointers are not valid after the call
  std::string provider;
  std::optional<std::string> kokoro_model, kokoro_voices, kokoro_tokens, kokoro_data_dir,
      kokoro_dict_dir, kokoro_lexicon, kokoro_lang;
  std::vector<std::optional<std::string>> supertonic;  // the seven paths in record order
  bool other_kinds_have_no_paths = true;
};

struct SeenGeneration {
  SherpaOnnxGenerationConfig raw;
  std::string text;
  std::optional<std::string> extra;
  bool callback_null = true;
  bool arg_null = true;
};

struct FakeRuntime {
  // Script for the next calls. Requests can script the fake as well: an
  // engine whose model file or tts.json path holds "null-model" is not
  // created, one holding "throw-model" throws; a text holding "null-audio"
  // gives no audio, "throw-audio" throws, "rate-zero" gives a rate of 0.
  bool create_returns_null = false;
  bool create_throws = false;
  bool generate_returns_null = false;
  bool generate_throws = false;
  std::vector<float> samples = {0.5f, -0.5f};
  bool samples_null = false;
  std::optional<int32_t> sample_count;  // default: samples.size()
  int32_t sample_rate = 24000;

  // What happened, in order: "create N", "destroy N", "generate N",
  // "audio+ K", "audio- K" (N = engine number, K = audio number).
  std::vector<std::string> events;
  std::vector<SeenTtsConfig> creates;
  std::vector<SeenGeneration> generations;
  int engines_created = 0;
  int audios_created = 0;
  int live_engines = 0;
  int live_audios = 0;

  // ---- Recognition ----------------------------------------------------------
  // A fake recogniser hears "words": every block of chunk_samples samples whose
  // mean magnitude is above 0.1 is loud; a run of loud blocks is one word
  // ("LOUD"), and the raw text gets a trailing space once the run ends, as the
  // real runtime's does. A block is decoded once the next block is whole
  // too, or, after the input is finished, at once (a short last block
  // included).
  //
  // Script for the next calls. A recogniser whose encoder path holds
  // "null-model" is not created, one holding "throw-model" throws. A stream
  // can be scripted through its "language" option: "decode-throws",
  // "ready-throws", "result-throws", "result-null", "accept-throws", or
  // "raw", which makes the result JSON the bytes of the last accepted
  // samples.
  bool recognizer_create_returns_null = false;
  bool recognizer_create_throws = false;
  bool decode_throws = false;
  bool result_null = false;
  size_t chunk_samples = 1600;  // samples per block

  // What happened, in order: "recognizer+ N", "recognizer- N",
  // "stream+ S on N", "stream- S", "option S key=value".
  std::vector<std::string> recognition_events;
  // Misuse the fake saw: a call on a destroyed or unknown handle, a stream
  // used with another recogniser than its own, a recogniser destroyed while
  // one of its streams lives, a result JSON released twice or never.
  std::vector<std::string> faults;
  std::vector<std::string> recognizer_dirs;  // encoder paths of the creates
  int recognizers_created = 0;
  int streams_created = 0;
  int live_recognizers = 0;
  int live_streams = 0;
  int live_results = 0;
  size_t samples_accepted = 0;

  // ---- WAV files --------------------------------------------------------------
  // Every path reads as this wave; none when absent.
  std::optional<std::vector<float>> wave_samples;
  int32_t wave_rate = 16000;
  int live_waves = 0;
};

// The fake's state; reset_fake() restores the defaults.
FakeRuntime& fake();
void reset_fake();

// A test on the fake runtime: each starts from a fresh fake, and fails when
// a runtime handle outlives it.
class FakeRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override { reset_fake(); }
  void TearDown() override {
    EXPECT_EQ(fake().live_engines, 0) << "an engine leaked";
    EXPECT_EQ(fake().live_audios, 0) << "an audio record leaked";
    EXPECT_EQ(fake().live_recognizers, 0) << "a recogniser leaked";
    EXPECT_EQ(fake().live_streams, 0) << "a stream leaked";
    EXPECT_EQ(fake().live_results, 0) << "a result leaked";
    EXPECT_EQ(fake().live_waves, 0) << "a wave leaked";
    EXPECT_EQ(fake().faults, std::vector<std::string>()) << "the runtime was misused";
  }
};

// A FakeRuntimeTest whose working directory is a scratch directory holding
// placeholder synthesis models (support/placeholder_models.h) in itself and
// in "m", "m/k", "m/a", "a" and "b", so that engines can be created from
// short relative directories, the empty one included.
class FakeModelsTest : public FakeRuntimeTest {
 protected:
  void SetUp() override {
    FakeRuntimeTest::SetUp();
    for (const char* dir : {"", "/m", "/m/k", "/m/a", "/a", "/b"}) {
      write_placeholder_models(scratch_.path() + dir);
    }
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(scratch_.path());
  }
  void TearDown() override {
    std::filesystem::current_path(previous_);
    FakeRuntimeTest::TearDown();
  }

 private:
  TempDir scratch_;
  std::filesystem::path previous_;
};

}  // namespace velmora_corvane_tts::testing

#endif  // VELMORA_CORVANE_TTS_TESTS_RUNTIME_FAKE_SHERPA_H_
