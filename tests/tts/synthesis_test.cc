// Synthesis against the fake runtime: the parameters each model receives,
// the checks on what the runtime returns, and the audio record's release.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "runtime/fake_sherpa.h"
#include "tts/engine_catalogue.h"
#include "tts/synthesis.h"

namespace velmora_corvane_tts {
namespace {

using testing::fake;

LocalTtsRequest request(std::string model, float speed = 1.0f, std::string text = "Hi") {
  LocalTtsRequest r;
  r.model_id = std::move(model);
  r.model_dir = "m";
  r.sid = 2;
  r.language = "en";
  r.speed = speed;
  r.text = std::move(text);
  return r;
}

class SynthesisTest : public testing::FakeModelsTest {
 protected:

  Result<WavBytes> run(const LocalTtsRequest& r) {
    auto engine = create_engine(r.model_id, r.model_dir);
    EXPECT_TRUE(engine.ok());
    return synthesize(engine.value(), r);
  }
};

TEST_F(SynthesisTest, KokoroAndSupertonicReceiveTheirGenerationParameters) {
  ASSERT_TRUE(run(request("kokoro-82m-v1.1-int8")).ok());
  ASSERT_TRUE(run(request("supertonic-3-int8")).ok());
  const auto& k = fake().generations.at(0);
  EXPECT_EQ(k.raw.num_steps, 5);
  EXPECT_EQ(k.extra, "{}");
  const auto& s = fake().generations.at(1);
  EXPECT_EQ(s.raw.num_steps, 8);
  EXPECT_EQ(s.extra, R"({"lang":"en"})");
  for (const auto& g : fake().generations) {
    EXPECT_EQ(g.raw.silence_scale, 0.2f);
    EXPECT_EQ(g.raw.sid, 2);
    EXPECT_EQ(g.raw.reference_audio, nullptr);
    EXPECT_EQ(g.raw.reference_audio_len, 0);
    EXPECT_EQ(g.raw.reference_sample_rate, 0);
    EXPECT_EQ(g.raw.reference_text, nullptr);
    EXPECT_TRUE(g.callback_null);
    EXPECT_TRUE(g.arg_null);
  }
}

TEST_F(SynthesisTest, SpeedIsClampedAndTextKeepsItsSpacesWithNulAsSpace) {
  for (float speed : {0.1f, 3.0f, 1.25f, -1.0f, 0.0f, 2.0f}) {
    ASSERT_TRUE(run(request("kokoro-82m-v1.1-int8", speed, std::string(" a\0b ", 5))).ok());
  }
  std::vector<float> sent;
  for (const auto& g : fake().generations) {
    sent.push_back(g.raw.speed);
    EXPECT_EQ(g.text, " a b ");
  }
  EXPECT_EQ(sent, (std::vector<float>{0.5f, 2.0f, 1.25f, 0.5f, 0.5f, 2.0f}));
  for (std::string text : {std::string("\0\0", 2), std::string("\xE4\xBD\xA0")}) {
    ASSERT_TRUE(run(request("kokoro-82m-v1.1-int8", 1.0f, text)).ok());
    std::replace(text.begin(), text.end(), '\0', ' ');
    EXPECT_EQ(fake().generations.back().text, text);
  }
}

TEST_F(SynthesisTest, RuntimeResultsAreCheckedInOrder) {
  struct Case {
    const char* name;
    void (*script)();
    const char* message;
    int records;  // audio records the runtime hands out
  };
  const Case cases[] = {
      {"no record", [] { fake().generate_returns_null = true; },
       "The local model could not synthesize this response", 0},
      {"throws", [] { fake().generate_throws = true; },
       "The local model could not synthesize this response", 0},
      {"rate 0", [] { fake().sample_rate = 0; }, "The local model reported an invalid sample rate",
       1},
      {"rate before samples",
       [] {
         fake().sample_rate = -1;
         fake().samples_null = true;
       },
       "The local model reported an invalid sample rate", 1},
      {"no samples", [] { fake().samples_null = true; }, "The local model returned no audio", 1},
      {"zero count", [] { fake().sample_count = 0; }, "The local model returned no audio", 1},
      {"negative count", [] { fake().sample_count = -5; }, "The local model returned no audio", 1},
      {"too many", [] { fake().sample_count = 2147483630; },
       "Generated speech is too large to buffer", 1},
  };
  for (const Case& c : cases) {
    testing::reset_fake();
    c.script();
    auto wav = run(request("supertonic-3-int8"));
    ASSERT_FALSE(wav.ok()) << c.name;
    EXPECT_EQ(wav.error().message(), c.message) << c.name;
    // Every record the runtime returned is released, after every outcome.
    EXPECT_EQ(fake().live_audios, 0) << c.name;
    EXPECT_EQ(fake().audios_created, c.records) << c.name;
  }
}

TEST_F(SynthesisTest, SuccessBuildsTheWavBeforeReleasingTheAudio) {
  fake().samples = {0.5f, -1.0f, NAN};
  fake().sample_rate = 22050;
  auto wav = run(request("kokoro-82m-v1.1-int8"));
  ASSERT_TRUE(wav.ok());
  ASSERT_EQ(wav.value().size(), 50u);
  uint32_t rate;
  std::memcpy(&rate, wav.value().data() + 24, 4);
  EXPECT_EQ(rate, 22050u);
  int16_t s[3];
  std::memcpy(s, wav.value().data() + 44, 6);
  EXPECT_EQ(s[0], 16384);
  EXPECT_EQ(s[1], -32767);
  EXPECT_EQ(s[2], 0);
  EXPECT_EQ(fake().events, (std::vector<std::string>{"create 1", "generate 1", "audio+ 1",
                                                     "audio- 1", "destroy 1"}));
}

}  // namespace
}  // namespace velmora_corvane_tts
