// Smoke mode of the built helper: its lines, their streams and its exit
// statuses, on synthetic models and generated WAV files.
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "stream/recognizer.h"
#include "support/stream_model_suite.h"
#include "support/stream_test_util.h"
#include "support/child_process.h"

namespace velmora_corvane_tts::testing {
namespace {

namespace fs = std::filesystem;

const std::string kPrefix = "STREAM-STT-SMOKE: ";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      ADD_FAILURE() << "unterminated line: " << text.substr(at);
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// True when `line` matches `pattern`, whose text is literal except for
// {ms} (whole milliseconds), {ms6} (milliseconds right-aligned in six
// characters, longer numbers in full) and {rtf} (three decimals).
bool matches(const std::string& line, const std::string& pattern) {
  static const std::regex placeholder(R"(\{(ms|ms6|rtf)\})");
  static const std::regex metachar(R"([.^$|()\[\]{}*+?\\])");
  std::string re;
  auto begin = std::sregex_iterator(pattern.begin(), pattern.end(), placeholder);
  size_t last = 0;
  for (auto it = begin; it != std::sregex_iterator(); ++it) {
    re += std::regex_replace(pattern.substr(last, static_cast<size_t>(it->position()) - last),
                             metachar, R"(\$&)");
    std::string kind = (*it)[1];
    if (kind == "ms") re += R"((0|[1-9][0-9]*))";
    if (kind == "ms6") re += R"(( {5}[0-9]| {4}[1-9][0-9]| {3}[1-9][0-9]{2}| {2}[1-9][0-9]{3}| [1-9][0-9]{4}|[1-9][0-9]{5,}))";
    if (kind == "rtf") re += R"((0|[1-9][0-9]*)\.[0-9]{3})";
    last = static_cast<size_t>(it->position() + it->length());
  }
  re += std::regex_replace(pattern.substr(last), metachar, R"(\$&)");
  return std::regex_match(line, std::regex(re));
}

void expect_lines(const std::string& text, const std::vector<std::string>& patterns) {
  std::vector<std::string> lines = lines_of(text);
  ASSERT_EQ(lines.size(), patterns.size()) << text;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_TRUE(matches(lines[i], patterns[i])) << "line " << i << ": " << lines[i]
                                                << "\npattern: " << patterns[i];
  }
}

// The smoke lines in a standard error that may also hold the runtime's own.
std::vector<std::string> smoke_lines(const std::string& err) {
  std::vector<std::string> out;
  for (const std::string& line : lines_of(err)) {
    if (line.rfind(kPrefix, 0) == 0) out.push_back(line);
  }
  return out;
}

class SmokeMode : public StreamModelSuite {
 protected:
  static void SetUpTestSuite() {
    StreamModelSuite::SetUpTestSuite();
    struct Wav {
      const char* name;
      const char* args;
    } wavs[] = {
        {"lh16k.wav", "--preset low-high"},
        {"lh44k.wav", "--preset low-high --rate 44100"},
        {"lh11k.wav", "--preset low-high --rate 11025"},
        {"long.wav", "--tone low 1 --silence 2.5"},
        {"silence.wav", "--preset silence"},
        {"empty.wav", "--silence 0"},
        {"rate0.wav", "--preset low --header-rate 0"},
        {"rate-neg.wav", "--preset low --header-rate -16000"},
        {"rate7999.wav", "--preset low --header-rate 7999"},
        {"rate8000.wav", "--preset low --header-rate 8000"},
        {"rate384000.wav", "--preset low --header-rate 384000"},
        {"rate384001.wav", "--preset low --header-rate 384001"},
        {"rate-max.wav", "--preset low --header-rate 2147483647"},
    };
    for (const Wav& w : wavs) make_stream_audio(wav(w.name), w.args);
  }
  static std::string wav(const std::string& name) { return root() + "/" + name; }
  static ChildResult smoke(const std::vector<std::string>& operands) {
    std::vector<std::string> argv{helper_path(), "--stream-stt-smoke"};
    argv.insert(argv.end(), operands.begin(), operands.end());
    return run_child(argv, "");
  }
  static std::string loaded_line(const std::string& model_dir) {
    return kPrefix + "loaded " + model_dir + " in {ms} ms with " +
           std::to_string(recognizer_threads()) + " threads";
  }
};

TEST_F(SmokeMode, ASixteenKilohertzFileShowsEveryLine) {
  ChildResult r = smoke({model(), wav("lh16k.wav")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  expect_lines(r.out, {loaded_line(model()),
                       kPrefix + wav("lh16k.wav") + ": 24000 samples at 16000 Hz (1.50 s)",
                       kPrefix + "partial @{ms6} ms: LOW", kPrefix + "partial @{ms6} ms: LOW HIGH",
                       kPrefix + "decode_ms={ms} rtf={rtf} final=LOW HIGH"});

  r = smoke({model(), wav("long.wav")});
  EXPECT_EQ(r.exit_code, 0);
  expect_lines(r.out, {loaded_line(model()),
                       kPrefix + wav("long.wav") + ": 56000 samples at 16000 Hz (3.50 s)",
                       kPrefix + "partial @{ms6} ms: LOW",
                       kPrefix + "decode_ms={ms} rtf={rtf} final=LOW"});
}

TEST_F(SmokeMode, OtherRatesAreFedInTenthsOfTheirRate) {
  // The runtime resamples and says so on standard error; the smoke lines
  // there are none.
  struct Case {
    const char* file;
    const char* line;
  } cases[] = {{"lh44k.wav", ": 66150 samples at 44100 Hz (1.50 s)"},
               {"lh11k.wav", ": 16536 samples at 11025 Hz (1.50 s)"}};
  for (const Case& c : cases) {
    ChildResult r = smoke({model(), wav(c.file)});
    EXPECT_EQ(r.exit_code, 0) << c.file;
    EXPECT_EQ(smoke_lines(r.err), std::vector<std::string>()) << c.file;
    expect_lines(r.out, {loaded_line(model()), kPrefix + wav(c.file) + c.line,
                         kPrefix + "partial @{ms6} ms: LOW",
                         kPrefix + "partial @{ms6} ms: LOW HIGH",
                         kPrefix + "decode_ms={ms} rtf={rtf} final=LOW HIGH"});
  }
}

TEST_F(SmokeMode, AnEmptyTranscriptFailsAfterTheReport) {
  ChildResult r = smoke({model(), wav("silence.wav")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, kPrefix + "the final transcript is empty\n");
  expect_lines(r.out, {loaded_line(model()),
                       kPrefix + wav("silence.wav") + ": 32000 samples at 16000 Hz (2.00 s)",
                       kPrefix + "decode_ms={ms} rtf={rtf} final="});

  // No samples: no partial line, and the time is divided by a microsecond.
  r = smoke({model(), wav("empty.wav")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, kPrefix + "the final transcript is empty\n");
  expect_lines(r.out, {loaded_line(model()),
                       kPrefix + wav("empty.wav") + ": 0 samples at 16000 Hz (0.00 s)",
                       kPrefix + "decode_ms={ms} rtf={rtf} final="});
  std::vector<std::string> lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), 3u);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(lines[2], m, std::regex(R"(decode_ms=(\d+) rtf=(\d+\.\d+))")));
  double ms = std::stod(m[1]);
  double rtf = std::stod(m[2]);
  EXPECT_LE(ms, rtf / 1000.0 + 0.001);
  EXPECT_LT(rtf / 1000.0, ms + 1.0);
}

TEST_F(SmokeMode, UnreadableFilesAndRatesOutOfBoundsStopAfterTheLoadLine) {
  // Header rates from 8,000 to 384,000 Hz are decoded (resampled by the
  // runtime, which says so on standard error).
  for (const char* file : {"rate8000.wav", "rate384000.wav"}) {
    ChildResult r = smoke({model(), wav(file)});
    std::vector<std::string> lines = lines_of(r.out);
    ASSERT_GE(lines.size(), 3u) << file << ": " << r.out << r.err;
    EXPECT_TRUE(lines[1].starts_with(kPrefix + wav(file) + ": 32000 samples")) << lines[1];
    EXPECT_TRUE(lines.back().starts_with(kPrefix + "decode_ms=")) << lines.back();
  }
  // Outside them the runtime's time (below) or memory (above) runs away;
  // such files are as good as unreadable, as are rates below 1.
  for (const std::string& file :
       {wav("rate0.wav"), wav("rate-neg.wav"), wav("rate7999.wav"), wav("rate384001.wav"),
        wav("rate-max.wav"), wav("absent.wav"), root()}) {
    ChildResult r = smoke({model(), file});
    EXPECT_EQ(r.exit_code, 1) << file;
    expect_lines(r.out, {loaded_line(model())});
    EXPECT_EQ(smoke_lines(r.err), std::vector<std::string>{kPrefix + "cannot read " + file})
        << r.err;
  }
}

TEST_F(SmokeMode, AModelThatCannotBeBuiltWritesOnlyItsMessage) {
  TempDir scratch;
  const std::string no_joiner = scratch.path() + "/no-joiner";
  make_stream_model(no_joiner);
  fs::remove(no_joiner + "/joiner.int8.onnx");
  ChildResult r = smoke({no_joiner, wav("lh16k.wav")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kPrefix + "joiner.int8.onnx is missing from " + no_joiner + "\n");

  const std::string corrupt = scratch.path() + "/corrupt";
  make_stream_model(corrupt, "--corrupt encoder");
  r = smoke({corrupt, wav("lh16k.wav")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(smoke_lines(r.err), std::vector<std::string>{
                                    kPrefix + "Could not load the streaming speech model from " +
                                    corrupt});
  EXPECT_TRUE(r.err.ends_with("\n"));
}

TEST_F(SmokeMode, ADecodeThatThrowsEndsTheRunWithItsMessage) {
  TempDir scratch;
  if (!link_unpatched_real_model(scratch.path())) {
    GTEST_SKIP() << "the real model with its unpatched encoder is not beside the source tree";
  }
  ChildResult r = smoke({scratch.path(), wav("lh16k.wav")});
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exit_code, 1);
  expect_lines(r.out, {loaded_line(scratch.path()),
                       kPrefix + wav("lh16k.wav") + ": 24000 samples at 16000 Hz (1.50 s)"});
  EXPECT_EQ(smoke_lines(r.err),
            std::vector<std::string>{
                kPrefix + "The streaming voice runtime could not decode this recording"});
}

TEST_F(SmokeMode, OperandsAndUsage) {
  const std::string usage = "usage: --stream-stt-smoke <model_dir> <wav> [language]\n";
  for (const std::vector<std::string>& operands :
       {std::vector<std::string>{}, std::vector<std::string>{model()}}) {
    ChildResult r = smoke(operands);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, usage);
  }
  // A language, even an empty one or the stream option, and anything after it.
  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{"en"}, std::vector<std::string>{""},
        std::vector<std::string>{"--stream-stt"},
        std::vector<std::string>{"en", "extra", "more"}}) {
    std::vector<std::string> operands{model(), wav("lh16k.wav")};
    operands.insert(operands.end(), extra.begin(), extra.end());
    ChildResult r = smoke(operands);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    std::vector<std::string> lines = lines_of(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(matches(lines.back(), kPrefix + "decode_ms={ms} rtf={rtf} final=LOW HIGH"));
  }
  // Only the first position selects the smoke test.
  ChildResult later = run_child({helper_path(), "x", "--stream-stt-smoke", model(), wav("lh16k.wav")}, "");
  EXPECT_EQ(later.exit_code, 0);
  EXPECT_EQ(later.out, "");
  EXPECT_EQ(later.err, "");
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
