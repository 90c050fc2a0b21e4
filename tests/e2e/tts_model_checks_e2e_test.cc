// Broken model files on the real runtime. Some make the runtime end the whole
// process while it loads them; where the file's size alone shows that it
// would, the helper answers with the load failure instead and goes on. The
// rest still end the process, as do a few valid Kokoro texts, and these tests
// pin that down too, so that the list of hard exits in the README stays true
// for the pinned runtime.
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "support/stream_test_util.h"
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

// Files the runtime reads must be readable, checked before it is called: an
// unreadable voices.bin, tts.json, voice.bin or unicode_indexer.bin ended
// the process inside it (status 255), espeak-ng's data files with status 1,
// and an unreadable tokens.txt or lexicon gave a model that speaks nothing.
// Mode 000 stops only a user who is not root.
TEST_F(ModelChecks, UnreadableFilesAreLoadFailuresInBothModes) {
  std::string why;
  std::vector<std::string> tts = unprivileged({helper_path()}, &why);
  if (tts.empty()) GTEST_SKIP() << why;
  std::vector<std::string> stream = unprivileged({helper_path(), "--stream-stt"}, &why);
  auto locked = [](const std::string& from, const std::string& name, const std::string& file) {
    std::string dir = broken(from, name, file, fs::file_size(root() + "/" + from + "/" + file));
    fs::permissions(dir + "/" + file, fs::perms::none);
    return dir;
  };
  const std::vector<std::pair<const char*, std::string>> cases = {
      {kKokoro, locked("k", "locked-k-voices", "voices.bin")},
      {kKokoro, locked("k", "locked-k-tokens", "tokens.txt")},
      {kKokoro, locked("k", "locked-k-lexicon", "lexicon-zh.txt")},
      {kKokoro, locked("k", "locked-k-phondata", "espeak-ng-data/phondata")},
      {kSupertonic, locked("s", "locked-s-voice", "voice.bin")},
      {kSupertonic, locked("s", "locked-s-json", "tts.json")},
      {kSupertonic, locked("s", "locked-s-indexer", "unicode_indexer.bin")},
  };
  const std::string tokens = root() + "/stream-tokens";
  make_stream_model(tokens);
  fs::permissions(tokens + "/tokens.txt", fs::perms::none);
  const std::string good_stream = root() + "/stream";
  make_stream_model(good_stream);
  // The tests' scratch directory is private; the other user must get in.
  fs::permissions(root(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);

  // A Supertonic engine is loaded first and stays through every failure.
  std::string input = tts_frame(tts_request(kSupertonic, supertonic_dir(), 0, "Hi."));
  for (const auto& [model, dir] : cases) input += tts_frame(tts_request(model, dir, 0, "Hi."));
  input += tts_frame(tts_request(kSupertonic, supertonic_dir(), 0, "Hi.")) +
           tts_frame(tts_request(kKokoro, kokoro_dir(), 0, "."));
  ChildResult r = run_child(tts, input);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<TtsReply> replies = parse_tts_replies(r.out);
  ASSERT_EQ(replies.size(), cases.size() + 3) << r.err;
  EXPECT_EQ(replies.front().status, 0);
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(replies[i + 1].payload, "Could not load the local speech model from " + cases[i].second);
  }
  EXPECT_EQ(replies[cases.size() + 1].payload, replies.front().payload);
  EXPECT_EQ(wav_info(replies.back().payload).samples, 1800u);

  // Stream mode: a file that is there but cannot be read is not "missing".
  r = run_child(stream, open_frame(1, tokens) + open_frame(2, good_stream) + finish_frame(2));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(parse_replies(r.out),
            (std::vector<Reply>{
                error_reply(1, "Could not load the streaming speech model from " + tokens),
                opened(2), final_reply(2, "")}));
}

// espeak-ng's data is checked before the first Kokoro engine loads: data it
// would not start with ended the process with status 1 (another version),
// 255 (another sample rate) or SIGSEGV (an empty phontab or phonindex).
// After that espeak-ng never reads another directory's data, so a Kokoro
// model with broken data loads and speaks with the first one's.
TEST_F(ModelChecks, EspeakDataIsCheckedBeforeTheFirstKokoroLoadOnly) {
  std::string phondata;
  {
    std::ifstream in(kokoro_dir() + "/espeak-ng-data/phondata", std::ios::binary);
    phondata.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_GT(phondata.size(), 8u);
  const std::vector<std::string> dirs = {
      broken("k", "k-empty-phontab", "espeak-ng-data/phontab", 0),
      broken("k", "k-empty-phonindex", "espeak-ng-data/phonindex", 0),
      broken("k", "k-empty-phondata", "espeak-ng-data/phondata", 0),
      broken("k", "k-empty-intonations", "espeak-ng-data/intonations", 0),
      with_content("k", "k-version", "espeak-ng-data/phondata",
                   phondata.substr(0, 1) + "\x49" + phondata.substr(2)),
      with_content("k", "k-rate", "espeak-ng-data/phondata",
                   phondata.substr(0, 4) + std::string("\x80\x3E\0\0", 4) + phondata.substr(8)),
  };
  std::string input;
  for (const std::string& dir : dirs) input += tts_frame(tts_request(kKokoro, dir, 0, "Hello world."));
  input += tts_frame(tts_request(kKokoro, kokoro_dir(), 0, "Hello world.")) +
           tts_frame(tts_request(kKokoro, dirs[0], 0, "Hello world."));
  ChildResult r = run_child({helper_path()}, input);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.signal, 0);
  std::vector<TtsReply> replies = parse_tts_replies(r.out);
  ASSERT_EQ(replies.size(), dirs.size() + 2);
  for (size_t i = 0; i < dirs.size(); ++i) {
    EXPECT_EQ(replies[i].payload, "Could not load the local speech model from " + dirs[i]);
  }
  EXPECT_EQ(replies[dirs.size()].status, 0);
  EXPECT_EQ(replies.back().status, 0);
  EXPECT_EQ(replies.back().payload, replies[dirs.size()].payload);
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
  } else if (helper_under_wine()) {
    // An access violation ends a Windows process with status 0xC0000005, of
    // which Wine passes on the low byte.
    EXPECT_EQ(r.exit_code, 5);
  } else {
    EXPECT_EQ(r.signal, SIGSEGV);
  }
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
