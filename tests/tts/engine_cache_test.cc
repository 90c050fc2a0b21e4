// The engine catalogue and cache against the fake runtime: the configuration
// handed over, when engines are created and destroyed, and in which order.
#include <gtest/gtest.h>

#include "runtime/fake_sherpa.h"
#include "tts/engine_catalogue.h"

namespace velmora_corvane_tts {
namespace {

using testing::fake;

constexpr const char* kKokoro = "kokoro-82m-v1.1-int8";
constexpr const char* kSupertonic = "supertonic-3-int8";

class EngineCacheTest : public testing::FakeModelsTest {};

TEST_F(EngineCacheTest, KokoroConfigurationJoinsEveryFileOntoTheDirectory) {
  ASSERT_TRUE(create_engine(kKokoro, "m").ok());
  const auto& c = fake().creates.at(0);
  EXPECT_EQ(c.kokoro_model, "m/model.int8.onnx");
  EXPECT_EQ(c.kokoro_voices, "m/voices.bin");
  EXPECT_EQ(c.kokoro_tokens, "m/tokens.txt");
  EXPECT_EQ(c.kokoro_data_dir, "m/espeak-ng-data");
  EXPECT_EQ(c.kokoro_dict_dir, "m/dict");
  EXPECT_EQ(c.kokoro_lexicon, "m/lexicon-us-en.txt,m/lexicon-zh.txt");
  EXPECT_EQ(c.kokoro_lang, std::nullopt);
  EXPECT_EQ(c.raw.model.kokoro.length_scale, 1.0f);
  EXPECT_EQ(c.raw.model.num_threads, 2);
  EXPECT_EQ(c.raw.model.debug, 0);
  EXPECT_EQ(c.provider, "cpu");
  EXPECT_EQ(c.raw.max_num_sentences, 1);
  EXPECT_EQ(c.raw.silence_scale, 0.0f);
  EXPECT_TRUE(c.other_kinds_have_no_paths);
  for (const auto& p : c.supertonic) EXPECT_EQ(p, std::nullopt);
  // The records of the other kinds keep the runtime's numeric defaults.
  EXPECT_EQ(c.raw.model.vits.noise_scale, 0.667f);
  EXPECT_EQ(c.raw.model.vits.noise_scale_w, 0.8f);
  EXPECT_EQ(c.raw.model.vits.length_scale, 1.0f);
  EXPECT_EQ(c.raw.model.matcha.noise_scale, 0.667f);
  EXPECT_EQ(c.raw.model.matcha.length_scale, 1.0f);
  EXPECT_EQ(c.raw.model.kitten.length_scale, 1.0f);
  EXPECT_EQ(c.raw.model.zipvoice.feat_scale, 0.0f);
}

TEST_F(EngineCacheTest, SupertonicConfigurationFillsItsSevenFilesInRecordOrder) {
  ASSERT_TRUE(create_engine(kSupertonic, "m/").ok());
  const auto& c = fake().creates.at(0);
  std::vector<std::optional<std::string>> want = {
      "m/duration_predictor.int8.onnx", "m/text_encoder.int8.onnx",
      "m/vector_estimator.int8.onnx",   "m/vocoder.int8.onnx",
      "m/tts.json",                     "m/unicode_indexer.bin",
      "m/voice.bin"};
  EXPECT_EQ(c.supertonic, want);
  EXPECT_EQ(c.kokoro_model, std::nullopt);
  EXPECT_EQ(c.kokoro_lexicon, std::nullopt);
  EXPECT_TRUE(c.other_kinds_have_no_paths);
}

TEST_F(EngineCacheTest, EmptyDirectoryPassesBareFileNamesAndNamesNothingOnFailure) {
  fake().create_returns_null = true;
  auto engine = create_engine(kKokoro, "");
  ASSERT_FALSE(engine.ok());
  EXPECT_EQ(engine.error().message(), "Could not load the local speech model from ");
  EXPECT_EQ(fake().creates.at(0).kokoro_model, "model.int8.onnx");
  EXPECT_EQ(fake().creates.at(0).kokoro_lexicon, "lexicon-us-en.txt,lexicon-zh.txt");
}

TEST_F(EngineCacheTest, LoadFailuresAnswerWithTheDirectoryAsReceived) {
  EXPECT_EQ(create_engine("other", "m").error().message(), "Unsupported local speech model");
  EXPECT_TRUE(fake().creates.empty());

  fake().create_throws = true;
  EXPECT_EQ(create_engine(kKokoro, "m//k").error().message(),
            "Could not load the local speech model from m//k");

  // A directory with a NUL cannot be handed over; the runtime is not called.
  fake().create_throws = false;
  size_t calls = fake().creates.size();
  EXPECT_EQ(create_engine(kSupertonic, std::string("/a\0b", 4)).error().message(),
            std::string("Could not load the local speech model from /a\0b", 47));
  EXPECT_EQ(fake().creates.size(), calls);
}

TEST_F(EngineCacheTest, EqualDirectorySpellingsReuseTheEngine) {
  EngineCache cache;
  for (const char* dir : {"m/k", "m/k/", "m//k", "m/./k"}) {
    ASSERT_TRUE(cache.acquire(kKokoro, dir).ok()) << dir;
  }
  EXPECT_EQ(fake().engines_created, 1);
  cache.clear();
  EXPECT_EQ(fake().events, (std::vector<std::string>{"create 1", "destroy 1"}));
}

TEST_F(EngineCacheTest, UnequalSpellingsAndOtherModelsReloadNewBeforeOld) {
  EngineCache cache;
  ASSERT_TRUE(cache.acquire(kKokoro, "m/k").ok());
  ASSERT_TRUE(cache.acquire(kKokoro, "./m/k").ok());
  ASSERT_TRUE(cache.acquire(kSupertonic, "./m/k").ok());
  ASSERT_TRUE(cache.acquire(kSupertonic, "m/a/../k").ok());
  ASSERT_TRUE(cache.acquire(kSupertonic, "m/k").ok());
  cache.clear();
  EXPECT_EQ(fake().events,
            (std::vector<std::string>{"create 1", "create 2", "destroy 1", "create 3", "destroy 2",
                                      "create 4", "destroy 3", "create 5", "destroy 4",
                                      "destroy 5"}));
}

TEST_F(EngineCacheTest, FailedLoadKeepsTheCachedEngine) {
  EngineCache cache;
  auto a = cache.acquire(kKokoro, "a");
  ASSERT_TRUE(a.ok());
  const runtime::OfflineTts* engine_a = a.value();

  fake().create_returns_null = true;
  auto b = cache.acquire(kSupertonic, "b");
  ASSERT_FALSE(b.ok());
  EXPECT_EQ(b.error().message(), "Could not load the local speech model from b");
  fake().create_throws = true;
  EXPECT_FALSE(cache.acquire(kSupertonic, "b").ok());

  auto again = cache.acquire(kKokoro, "a/");
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again.value(), engine_a);
  EXPECT_EQ(fake().engines_created, 1);
  EXPECT_EQ(fake().live_engines, 1);
}

TEST_F(EngineCacheTest, FailedLoadOnAnEmptyCacheTriesAgainNextTime) {
  EngineCache cache;
  fake().create_returns_null = true;
  EXPECT_FALSE(cache.acquire(kKokoro, "a").ok());
  EXPECT_TRUE(cache.empty());
  fake().create_returns_null = false;
  EXPECT_TRUE(cache.acquire(kKokoro, "a").ok());
  EXPECT_EQ(fake().creates.size(), 2u);
}

}  // namespace
}  // namespace velmora_corvane_tts
