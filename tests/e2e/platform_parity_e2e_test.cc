// What every build of the helper must do alike: serve models from
// directories whose names are not ASCII, and (with VCT_WINE_HELPER) answer
// exactly as the Linux helper does.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/stream_test_util.h"
#include "support/child_process.h"
#include "support/tts_model_suite.h"

namespace velmora_corvane_tts::testing {
namespace {

namespace fs = std::filesystem;

// "models", accented, and "voice" in Japanese.
const std::string kNonAscii = "mod\xC3\xA8les-\xE9\x9F\xB3\xE5\xA3\xB0";

class PlatformParity : public TtsModelSuite {
 protected:
  static std::string synthesis_session(const std::string& kokoro, const std::string& supertonic) {
    std::string input;
    for (int sid = 0; sid < 3; ++sid) input += tts_frame(tts_request(kKokoro, kokoro, sid, "."));
    for (double speed : {0.5, 1.0, 2.0}) {
      input += tts_frame(tts_request(kSupertonic, supertonic, 4, "Hello world.", speed));
    }
    input += tts_frame(tts_request(kKokoro, kokoro, 1, "Hello there, how are you today?"));
    input += tts_frame(tts_request(kSupertonic, supertonic, 0, ""));  // an error reply
    return input;
  }

  // The lines of a smoke run without the measured times: the WAV line, each
  // partial transcript, the final one.
  static std::vector<std::string> untimed_smoke_lines(const std::string& out) {
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
      std::string line = out.substr(at, end - at);
      if (line.find(" loaded ") != std::string::npos) continue;
      for (const char* after : {" ms: ", " final="}) {
        size_t text_at = line.find(after);
        if (text_at != std::string::npos) line = after + line.substr(text_at + std::strlen(after));
      }
      lines.push_back(line);
    }
    return lines;
  }
};

TEST_F(PlatformParity, ModelDirectoriesNeedNotBeAscii) {
  // On Windows the runtime opens Kokoro's espeak-ng data through the ANSI
  // functions, which the helper's manifest makes UTF-8.
  const std::string dir = root() + "/" + kNonAscii;
  fs::create_directories(dir);
  fs::copy(kokoro_dir(), dir + "/k", fs::copy_options::recursive);
  fs::copy(supertonic_dir(), dir + "/s", fs::copy_options::recursive);
  ChildResult ascii = run_child({helper_path()}, synthesis_session(kokoro_dir(), supertonic_dir()));
  ChildResult other = run_child({helper_path()}, synthesis_session(dir + "/k", dir + "/s"));
  EXPECT_EQ(other.exit_code, 0) << other.err;
  EXPECT_EQ(other.err, "");
  ASSERT_EQ(parse_tts_replies(other.out).size(), 8u);
  EXPECT_EQ(parse_tts_replies(other.out)[0].status, 0) << parse_tts_replies(other.out)[0].payload;
  EXPECT_TRUE(other.out == ascii.out) << "the replies differ from those for ASCII directories";

  // Streaming recognition, and the smoke test with both of its paths on the
  // command line.
  make_stream_model(dir + "/stream");
  make_stream_audio(dir + "/low.f32", "--raw-f32 --preset low");
  make_stream_audio(dir + "/\xC3\xA9t\xC3\xA9.wav", "--preset low-high");
  ChildResult served =
      run_child({helper_path(), "--stream-stt"}, open_frame(1, dir + "/stream") +
                                                     audio_frames(1, read_file(dir + "/low.f32")) +
                                                     finish_frame(1));
  EXPECT_EQ(parse_replies(served.out),
            (std::vector<Reply>{opened(1), partial(1, "LOW"), final_reply(1, "LOW")}));
  ChildResult smoked =
      run_child({helper_path(), "--stream-stt-smoke", dir + "/stream", dir + "/\xC3\xA9t\xC3\xA9.wav"}, "");
  EXPECT_EQ(smoked.exit_code, 0) << smoked.err;
  EXPECT_NE(smoked.out.find(dir + "/\xC3\xA9t\xC3\xA9.wav: 24000 samples"), std::string::npos)
      << smoked.out;
  EXPECT_TRUE(smoked.out.ends_with(" final=LOW HIGH\n")) << smoked.out;
}

TEST_F(PlatformParity, TheWindowsHelperAnswersWithTheLinuxHelpersBytes) {
  if (!helper_under_wine()) GTEST_SKIP() << "compares the Windows helper (VCT_WINE_HELPER) with this one";
  const std::string input = synthesis_session(kokoro_dir(), supertonic_dir());
  ChildResult linux_run = run_child({native_helper_path()}, input);
  ChildResult windows_run = run_child({helper_path()}, input);
  ASSERT_EQ(linux_run.exit_code, 0) << linux_run.err;
  EXPECT_EQ(windows_run.exit_code, 0) << windows_run.err;
  EXPECT_EQ(parse_tts_replies(windows_run.out).size(), 8u);
  EXPECT_TRUE(windows_run.out == linux_run.out)
      << windows_run.out.size() << " bytes from Windows, " << linux_run.out.size() << " from Linux";

  // The same recording through the real streaming model.
  const fs::path model = real_model_dir();
  if (!fs::exists(model / "encoder.int8.onnx")) {
    GTEST_SKIP() << "the real streaming model is not beside the source tree";
  }
  if (!can_speak()) GTEST_SKIP() << "espeak-ng and sox are needed to synthesise the test speech";
  const std::string wav = root() + "/recording.wav";
  speak("please turn on the lights in the kitchen", wav);
  std::vector<std::string> lines[2];
  int i = 0;
  for (const std::string& helper : {native_helper_path(), helper_path()}) {
    ChildResult r = run_child({helper, "--stream-stt-smoke", model.string(), wav}, "");
    EXPECT_EQ(r.exit_code, 0) << helper << ": " << r.err;
    lines[i++] = untimed_smoke_lines(r.out);
  }
  ASSERT_FALSE(lines[0].empty());
  EXPECT_TRUE(lines[0].back().size() > 6) << "an empty transcript";
  EXPECT_EQ(lines[1], lines[0]);
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
