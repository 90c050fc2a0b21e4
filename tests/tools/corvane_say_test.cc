// corvane-say as a person runs it, against the built helper.
#include <gtest/gtest.h>

#include "common/coding.h"
#include "support/stream_test_util.h"
#include "support/child_process.h"
#include "support/tts_model_suite.h"
#include "velmora_corvane/synthesizer.h"

namespace velmora_corvane_tts::testing {
namespace {

const std::string kSay = tool_path("corvane-say");

class CorvaneSay : public TtsModelSuite {};

TEST_F(CorvaneSay, SentencesBecomeOneWavFileAndTheSameRawPcm) {
  const std::vector<std::string> sentences = {"Hello there.", "Mr. Smith is here!", "Bye?"};
  // Each sentence alone, through the library: the tool's audio must be
  // these, in this order.
  velmora_corvane::HelperOptions options;
  options.helper_path = helper_path();
  velmora_corvane::Synthesizer synth(options);
  std::string expected;
  for (const std::string& s : sentences) {
    auto r = synth.synthesize({kKokoro, kokoro_dir(), 0, "en", 1.0f, s});
    ASSERT_TRUE(r.ok()) << r.error().message();
    auto samples = r.value().samples();
    expected.append(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
  }
  const std::string text = sentences[0] + "  " + sentences[1] + "\n" + sentences[2];
  const std::string wav = root() + "/say.wav";
  ChildResult to_file = run_child({kSay, "--model-dir", kokoro_dir(), "-o", wav}, text);
  EXPECT_EQ(to_file.exit_code, 0) << to_file.err;
  std::string file = read_file(wav);
  ASSERT_GT(file.size(), 44u);
  EXPECT_EQ(file.substr(44), expected);
  EXPECT_EQ(decode_fixed32(file.data() + 4), file.size() - 8);
  EXPECT_EQ(decode_fixed32(file.data() + 24), 24000u);
  EXPECT_EQ(decode_fixed32(file.data() + 40), file.size() - 44);

  std::vector<std::string> argv = {kSay, "--model-dir", kokoro_dir()};
  argv.insert(argv.end(), sentences.begin(), sentences.end());
  ChildResult raw = run_child(argv, "");
  EXPECT_EQ(raw.exit_code, 0) << raw.err;
  EXPECT_TRUE(raw.out == expected);
  EXPECT_EQ(raw.err, "corvane-say: 24000 Hz\n");
}

TEST_F(CorvaneSay, ErrorsAreOneLineWithTheirStatus) {
  ChildResult refused = run_child({kSay, "--model-dir", kokoro_dir(), "--voice", "999", "Hi."}, "");
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.err, "corvane-say: The selected local voice is invalid\n");
  EXPECT_EQ(refused.out, "");
  ChildResult usage = run_child({kSay, "Hi."}, "");
  EXPECT_EQ(usage.exit_code, 2);
  EXPECT_EQ(usage.err, "corvane-say: --model-dir is required (see --help)\n");
  ChildResult unwritable =
      run_child({kSay, "--model-dir", kokoro_dir(), "-o", root() + "/no/such/dir.wav", "Hi."}, "");
  EXPECT_EQ(unwritable.exit_code, 3);
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
