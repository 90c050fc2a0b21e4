// The engine catalogue against the fake runtime: the configuration handed
// over for each model, and the model-file checks.
//
// Model files that the real runtime would fail on, or end the whole process
// over, are answered as a load failure before the runtime is called: a file
// it reads that is not there (unreadable files and espeak-ng's data are
// tested end to end), and files whose size shows what the runtime would do.
// Every file the runtime might accept still reaches it. The fake runtime
// counts the create calls.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/fake_sherpa.h"
#include "support/child_process.h"
#include "tts/engine_catalogue.h"

namespace velmora_corvane_tts {
namespace {

using testing::fake;

constexpr const char* kKokoro = "kokoro-82m-v1.1-int8";
constexpr const char* kSupertonic = "supertonic-3-int8";

class ModelFileChecks : public testing::FakeRuntimeTest {
 protected:
  ModelFileChecks() { testing::write_placeholder_models(dir_.path()); }

  void write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_.path() + "/" + name, std::ios::binary | std::ios::trunc) << bytes;
  }
  // A voice.bin with the given header and `floats` float32 values after it.
  void write_voice(std::vector<int64_t> dims, size_t floats) {
    std::string bytes;
    for (int64_t d : dims) {
      for (int i = 0; i < 8; ++i) bytes += static_cast<char>((static_cast<uint64_t>(d) >> (8 * i)) & 0xFF);
    }
    bytes += std::string(4 * floats, '\0');
    write("voice.bin", bytes);
  }
  // True when the runtime was asked to create the engine.
  bool reaches_runtime(const char* model) {
    size_t before = fake().creates.size();
    auto engine = create_engine(model, dir_.path());
    if (!engine.ok()) {
      EXPECT_EQ(engine.error().message(), "Could not load the local speech model from " + dir_.path());
    }
    return fake().creates.size() > before;
  }

  testing::TempDir dir_;
};

TEST_F(ModelFileChecks, EveryFileTheRuntimeReadsMustBeThere) {
  const std::vector<std::pair<const char*, std::vector<std::string>>> needs = {
      {kKokoro,
       {"model.int8.onnx", "voices.bin", "tokens.txt", "lexicon-us-en.txt", "lexicon-zh.txt",
        "espeak-ng-data/phontab", "espeak-ng-data/phonindex", "espeak-ng-data/phondata",
        "espeak-ng-data/intonations"}},
      {kSupertonic,
       {"duration_predictor.int8.onnx", "text_encoder.int8.onnx", "vector_estimator.int8.onnx",
        "vocoder.int8.onnx", "tts.json", "unicode_indexer.bin", "voice.bin"}}};
  for (const auto& [model, files] : needs) {
    EXPECT_TRUE(reaches_runtime(model)) << "without dict/ and the rest of espeak-ng's data";
    for (const std::string& file : files) {
      std::filesystem::remove(dir_.path() + "/" + file);
      std::filesystem::create_directory(dir_.path() + "/" + file);  // no regular file there
      EXPECT_FALSE(reaches_runtime(model)) << file;
      std::filesystem::remove(dir_.path() + "/" + file);
      testing::write_placeholder_models(dir_.path());
    }
  }
}

TEST_F(ModelFileChecks, KokoroVoicesMustBeWholeFloats) {
  write("voices.bin", "");
  EXPECT_FALSE(reaches_runtime(kKokoro));
  for (size_t size : {1u, 2u, 3u, 12238u, 12241u}) {
    write("voices.bin", std::string(size, 'v'));
    EXPECT_FALSE(reaches_runtime(kKokoro)) << size;
  }
  // Whole floats go on: only the model's metadata says how many there must be.
  for (size_t size : {4u, 12236u, 12240u}) {
    write("voices.bin", std::string(size, 'v'));
    EXPECT_TRUE(reaches_runtime(kKokoro)) << size;
  }
}

TEST_F(ModelFileChecks, SupertonicIndexerMustBeWholeInt32s) {
  EXPECT_TRUE(reaches_runtime(kSupertonic));
  write("unicode_indexer.bin", "");
  EXPECT_FALSE(reaches_runtime(kSupertonic));
  write("unicode_indexer.bin", std::string(514, 'i'));
  EXPECT_FALSE(reaches_runtime(kSupertonic));
  write("unicode_indexer.bin", std::string(508, 'i'));
  EXPECT_TRUE(reaches_runtime(kSupertonic));
}

TEST_F(ModelFileChecks, SupertonicVoiceStyleMustMatchItsHeader) {
  write_voice({10, 1, 2, 10, 1, 1}, 30);  // 48 + 4 * (20 + 10) = 168 bytes
  EXPECT_TRUE(reaches_runtime(kSupertonic));
  write_voice({5, 1, 2, 5, 2, 2}, 30);  // other dimensions, same size: consistent
  EXPECT_TRUE(reaches_runtime(kSupertonic));
  write_voice({10, 1, 2, 10, 1, 1}, 28);  // 8 bytes short
  EXPECT_FALSE(reaches_runtime(kSupertonic));
  write_voice({10, 1, 2, 10, 1, 1}, 31);  // 4 bytes over
  EXPECT_FALSE(reaches_runtime(kSupertonic));
  write_voice({10, 1, 2, 10, 0, 1}, 30);  // a dimension of 0
  EXPECT_FALSE(reaches_runtime(kSupertonic));
  write_voice({10, -1, 2, 10, 1, 1}, 30);
  EXPECT_FALSE(reaches_runtime(kSupertonic));
  write_voice({10, 1, 2, 9, 1, 1}, 29);  // two voice counts, size as the header says
  EXPECT_FALSE(reaches_runtime(kSupertonic));
  write("voice.bin", std::string(47, '\0'));  // shorter than the header
  EXPECT_FALSE(reaches_runtime(kSupertonic));
  write("voice.bin", "");
  EXPECT_FALSE(reaches_runtime(kSupertonic));
  write_voice({int64_t{1} << 40, 1, 1, int64_t{1} << 40, 1, 1}, 30);  // too large to judge
  EXPECT_TRUE(reaches_runtime(kSupertonic));
}

class EngineSettingsTest : public testing::FakeModelsTest {};

TEST_F(EngineSettingsTest, KokoroConfigurationJoinsEveryFileOntoTheDirectory) {
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

TEST_F(EngineSettingsTest, SupertonicConfigurationFillsItsSevenFilesInRecordOrder) {
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

TEST_F(EngineSettingsTest, EmptyDirectoryPassesBareFileNamesAndNamesNothingOnFailure) {
  fake().create_returns_null = true;
  auto engine = create_engine(kKokoro, "");
  ASSERT_FALSE(engine.ok());
  EXPECT_EQ(engine.error().message(), "Could not load the local speech model from ");
  EXPECT_EQ(fake().creates.at(0).kokoro_model, "model.int8.onnx");
  EXPECT_EQ(fake().creates.at(0).kokoro_lexicon, "lexicon-us-en.txt,lexicon-zh.txt");
}

TEST_F(EngineSettingsTest, LoadFailuresAnswerWithTheDirectoryAsReceived) {
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

}  // namespace
}  // namespace velmora_corvane_tts
