// Broken model files on the real runtime. Some make the runtime end the whole
// process while it loads them; where the file's size alone shows that it
// would, the helper answers with the load failure instead and goes on. The
// rest still end the process, as do a few valid Kokoro texts, and these tests
// pin that down too, so that the list of hard exits in the README stays true
// for the pinned runtime.
#include <signal.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "stream/stream_test_util.h"
#include "support/child_process.h"
#include "support/fault_injection.h"
#include "support/tts_model_suite.h"

namespace velmora_corvane_tts::testing {
namespace {

namespace fs = std::filesystem;

class ModelChecks : public TtsModelSuite {
 protected:
  // A copy of fixture `from` ("k" or "s") named `name`, with `file` cut to
  // `size` bytes or replaced by `content`.
  static std::string broken(const std::string& from, const std::string& name,
                            const std::string& file, size_t size) {
    std::string dir = root() + "/" + name;
    fs::copy(root() + "/" + from, dir, fs::copy_options::recursive);
    fs::resize_file(dir + "/" + file, size);
    return dir;
  }
  static std::string with_content(const std::string& from, const std::string& name,
                                  const std::string& file, const std::string& content) {
    std::string dir = root() + "/" + name;
    fs::copy(root() + "/" + from, dir, fs::copy_options::recursive);
    std::ofstream(dir + "/" + file, std::ios::binary | std::ios::trunc) << content;
    return dir;
  }
};

TEST_F(ModelChecks, FilesTheRuntimeWouldDieOnAreAnsweredAsLoadFailures) {
  struct Case {
    const char* model;
    std::string dir;
  };
  std::string c0 = std::string(48, '\0');  // a voice.bin header of zeros: no dimension > 0
  // A header with 10 style voices and 9 duration voices, and the 164 bytes
  // it calls for.
  std::string counts;
  for (int64_t d : {10, 1, 2, 9, 1, 1}) {
    for (int i = 0; i < 8; ++i) counts += static_cast<char>((d >> (8 * i)) & 0xFF);
  }
  counts += std::string(116, '\0');
  std::vector<Case> cases = {
      {kKokoro, broken("k", "k-odd", "voices.bin", 12238)},
      {kKokoro, broken("k", "k-empty", "voices.bin", 0)},
      {kSupertonic, broken("s", "s-short", "voice.bin", 160)},
      {kSupertonic, broken("s", "s-header", "voice.bin", 40)},
      {kSupertonic, with_content("s", "s-zero-dims", "voice.bin", c0 + std::string(120, '\0'))},
      {kSupertonic, with_content("s", "s-two-counts", "voice.bin", counts)},
      {kSupertonic, broken("s", "s-indexer-odd", "unicode_indexer.bin", 514)},
      {kSupertonic, broken("s", "s-indexer-empty", "unicode_indexer.bin", 0)},
  };
  std::string input;
  for (const Case& c : cases) {
    input += tts_frame(tts_request(c.model, c.dir, 0, c.model == std::string(kKokoro) ? "." : "Hi."));
  }
  input += tts_frame(tts_request(kKokoro, kokoro_dir(), 0, "."));
  ChildResult r = run_child({helper_path()}, input);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "") << "the runtime was reached";
  std::vector<TtsReply> replies = parse_tts_replies(r.out);
  ASSERT_EQ(replies.size(), cases.size() + 1);
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(replies[i].status, 1) << cases[i].dir;
    EXPECT_EQ(replies[i].payload, "Could not load the local speech model from " + cases[i].dir);
  }
  EXPECT_EQ(wav_info(replies.back().payload).samples, 1800u);
}

// What still ends the process: a failure the runtime only finds by reading
// the file's content (or the model's metadata) and answers with _Exit(-1).
TEST_F(ModelChecks, FaultsFoundOnlyInsideTheRuntimeStillEndTheProcess) {
  std::vector<std::pair<const char*, std::string>> fatal = {
      // Whole floats, but one fewer than the model's metadata asks for.
      {kKokoro, broken("k", "k-one-short", "voices.bin", 12236)},
      // A token line with a symbol of two characters.
      {kKokoro, with_content("k", "k-tokens", "tokens.txt", "ab 7\n")},
      {kSupertonic, with_content("s", "s-json", "tts.json", "{")},
  };
  for (const auto& [model, dir] : fatal) {
    std::string input = tts_frame(tts_request(model, dir, 0, "Hi.")) +
                        tts_frame(tts_request(kKokoro, kokoro_dir(), 0, "."));
    ChildResult r = run_child({helper_path()}, input);
    EXPECT_EQ(r.exit_code, 255) << dir << ": " << r.err;
    EXPECT_EQ(r.out, "") << dir;
  }
}

// Valid texts that the runtime's Kokoro text front end ends the process on,
// one step below and at the threshold the README gives: espeak-ng's copy of
// a dotted abbreviation of 175 and 177 bytes, and a sentence of 509 and 510
// one-token pieces (a lone "." between Han characters outside the lexicon).
TEST_F(ModelChecks, TextsPastTheFrontEndsLimitsStillEndTheProcess) {
  auto repeat = [](const std::string& unit, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += unit;
    return s;
  };
  auto request = [&](const std::string& text) {
    return tts_frame(tts_request(kKokoro, kokoro_dir(), 0, text));
  };
  ChildResult below = run_child(
      {helper_path()}, request(repeat("a.", 88)) + request(repeat("中.", 509)) + request("."));
  EXPECT_EQ(below.exit_code, 0) << below.err;
  std::vector<TtsReply> replies = parse_tts_replies(below.out);
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0].status, 0) << replies[0].payload;
  EXPECT_EQ(wav_info(replies[1].payload).samples, 511u * 600u);  // one sentence: 0, 509 ids, 0
  EXPECT_EQ(wav_info(replies[2].payload).samples, 1800u);

  ChildResult dotted = run_child({helper_path()}, request(repeat("a.", 89)) + request("."));
  EXPECT_EQ(dotted.out, "");
  if (sanitized_build()) {
    EXPECT_NE(dotted.exit_code, 0);  // AddressSanitizer reports the crash and exits
  } else {
    EXPECT_TRUE(dotted.signal == SIGSEGV || dotted.signal == SIGBUS) << dotted.signal;
  }

  ChildResult tokens = run_child({helper_path()}, request(repeat("中.", 510)) + request("."));
  EXPECT_EQ(tokens.out, "");
  EXPECT_EQ(tokens.exit_code, 255);
  EXPECT_NE(tokens.err.find("510 vs 510"), std::string::npos) << tokens.err;
}

TEST_F(ModelChecks, BrokenStreamingModelMetadataStillEndsTheProcess) {
  std::string dir = root() + "/stream-no-t";
  make_stream_model(dir, "--omit-meta T");
  ChildResult r = run_child({helper_path(), "--stream-stt"}, open_frame(1, dir));
  EXPECT_EQ(r.exit_code, 255) << r.err;
  EXPECT_EQ(r.out, "");

  std::string segv = root() + "/stream-type-foo";
  make_stream_model(segv, "--model-type foo");
  r = run_child({helper_path(), "--stream-stt"}, open_frame(1, segv));
  EXPECT_EQ(r.out, "");
  if (sanitized_build()) {
    EXPECT_NE(r.exit_code, 0);  // AddressSanitizer reports the SEGV and exits
  } else {
    EXPECT_EQ(r.signal, SIGSEGV);
  }
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
