#include "stream/recognizer.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "support/stream_test_util.h"
#include "support/child_process.h"

namespace velmora_corvane_tts {
namespace {

namespace fs = std::filesystem;
using testing::make_stream_audio;
using testing::make_stream_model;
using testing::read_file;
using testing::TempDir;

// ---- thread rule ------------------------------------------------------------

TEST(RecognizerThreads, HalfTheProcessorsBetweenTwoAndFour) {
  EXPECT_EQ(recognizer_threads(0u), 2);  // unknown
  EXPECT_EQ(recognizer_threads(1u), 2);
  EXPECT_EQ(recognizer_threads(5u), 2);
  EXPECT_EQ(recognizer_threads(6u), 3);
  EXPECT_EQ(recognizer_threads(7u), 3);
  EXPECT_EQ(recognizer_threads(8u), 4);
  EXPECT_EQ(recognizer_threads(12u), 4);
  EXPECT_EQ(recognizer_threads(4096u), 4);
}

// ---- result JSON ------------------------------------------------------------

TEST(TranscriptFromResult, TakesTheTrimmedTextOfWhatTheRuntimeWrites) {
  // As the runtime writes it, with a key added by newer versions.
  EXPECT_EQ(transcript_from_result(
                R"({ "text": "LOW ", "tokens": ["LOW", " "], "timestamps": [0.00, 1.00], )"
                R"("ys_probs": [-0.020012, -0.020012], "lm_probs": [], "context_scores": [], )"
                R"("segment": 0, "words": [], "start_time": 0.00, "is_final": false, )"
                R"("is_eof": false, "num_trailing_blanks": 3})"),
            "LOW");
  EXPECT_EQ(transcript_from_result(
                R"({"text":"  two words \n","tokens":[],"is_final":true})"),
            "two words");
  EXPECT_EQ(transcript_from_result(R"({"text":" \t\r\n ","tokens":[],"is_final":false})"), "");
  // Unicode white space (no-break space, ideographic space) goes too; inner
  // spaces stay.
  EXPECT_EQ(transcript_from_result(
                "{\"text\":\"\xC2\xA0Gr\xC3\xBC\xC3\x9F" "e  \xE4\xBD\xA0\xE5\xA5\xBD\xE3\x80\x80\","
                "\"tokens\":[],\"is_final\":false}"),
            "Gr\xC3\xBC\xC3\x9F" "e  \xE4\xBD\xA0\xE5\xA5\xBD");
  // Escapes are decoded.
  EXPECT_EQ(transcript_from_result(R"({"text":"say\"hi\\ ","tokens":[],"is_final":false})"),
            "say\"hi\\");
}

TEST(TranscriptFromResult, OptionalFieldsMayBeNullOrAbsent) {
  EXPECT_EQ(transcript_from_result(R"({"text":"a","tokens":["a"],"timestamps":null,)"
                                   R"("segment":null,"start_time":null,"is_final":false})"),
            "a");
  EXPECT_EQ(transcript_from_result(R"({"is_final":false,"tokens":[],"text":"b"})"), "b");
  EXPECT_EQ(transcript_from_result(R"(["c", ["c"], [0.5], 2, 1.5, true])"), "c");
}

TEST(TranscriptFromResult, AnyFaultGivesTheEmptyText) {
  const char* faulty[] = {
      R"({"text":"a","tokens":[]})",                                     // is_final missing
      R"({"text":"a","tokens":[],"is_final":false,"segment":"0"})",      // segment a string
      R"({"text":"a","is_final":false})",                                // tokens missing
      R"({"text":"a","tokens":[1],"is_final":false})",                   // a token not a string
      R"({"text":"a","tokens":[],"timestamps":["x"],"is_final":false})", // timestamp not a number
      R"({"text":"a","tokens":[],"segment":1.5,"is_final":false})",      // segment not an integer
      R"({"text":"a","tokens":[],"segment":2147483648,"is_final":false})",  // beyond i32
      R"({"text":"a","tokens":[],"start_time":"0","is_final":false})",
      R"({"text":"a","tokens":[],"is_final":0})",
      R"({"text":5,"tokens":[],"is_final":false})",
      R"({"text":"a","text":"b","tokens":[],"is_final":false})",  // a key twice
      R"({"text":"a","tokens":[],"is_final":false} {})",            // a second value
      R"({"text":"a","tokens":[],"is_final":false,"x":nan})",       // not JSON
      "{\"text\":\"A\x01" "B\",\"tokens\":[],\"is_final\":false}",  // raw control character
      "{\"text\":\"\xFF\",\"tokens\":[],\"is_final\":false}",       // invalid UTF-8
      "",
      "null",
  };
  for (const char* json : faulty) EXPECT_EQ(transcript_from_result(json), "") << json;
}

// ---- create_recognizer and decode_available on the runtime --------------------

// The models and audio come from the generators under tests/fixtures, Linux
// programs that the Windows build of this test cannot start. The Windows
// helper's end-to-end runs under Wine reach the same runtime calls.
#if !defined(_WIN32)

class RecognizerRuntime : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    make_stream_model(model());
    make_stream_audio(dir_->path() + "/low.f32", "--preset low --raw-f32");
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string model() { return dir_->path() + "/model"; }
  static std::vector<float> low_samples() {
    std::string raw = read_file(dir_->path() + "/low.f32");
    std::vector<float> samples(raw.size() / 4);
    std::memcpy(samples.data(), raw.data(), samples.size() * 4);
    return samples;
  }

  static TempDir* dir_;
};
TempDir* RecognizerRuntime::dir_ = nullptr;

// Feeds `samples` in 1600-sample blocks, then the trailing zeros, and returns
// every distinct transcript seen followed by the final one; at the first
// failure, "failed" and then the samples fed so far.
std::vector<std::string> recognise(const runtime::OnlineRecognizer& recognizer,
                                   runtime::OnlineStream& stream, std::span<const float> samples) {
  std::vector<std::string> seen;
  std::string last;
  for (size_t at = 0; at < samples.size(); at += 1600) {
    size_t count = std::min<size_t>(1600, samples.size() - at);
    EXPECT_TRUE(stream.accept_waveform(16000, samples.subspan(at, count)).ok());
    Result<std::string> text = decode_available(recognizer, stream);
    if (!text.ok()) return {"failed", std::to_string(at + count)};
    if (text.value() != last) seen.push_back(text.value());
    last = text.value();
  }
  std::vector<float> zeros(12800, 0.0f);
  EXPECT_TRUE(stream.accept_waveform(16000, zeros).ok());
  EXPECT_TRUE(stream.input_finished().ok());
  Result<std::string> text = decode_available(recognizer, stream);
  seen.push_back(text.ok() ? text.value() : "failed at the end");
  return seen;
}

TEST_F(RecognizerRuntime, MissingFilesAreNamedInOrder) {
  TempDir scratch;
  const std::string missing = scratch.path() + "/does-not-exist";
  auto r = create_recognizer(missing);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message(), "encoder.int8.onnx is missing from " + missing);

  // Three files present, and a directory where tokens.txt should be.
  const std::string partial = scratch.path() + "/partial";
  fs::create_directories(partial + "/tokens.txt");
  for (const char* f : {"encoder.int8.onnx", "decoder.int8.onnx", "joiner.int8.onnx"}) {
    fs::copy_file(model() + "/" + f, partial + "/" + f);
  }
  r = create_recognizer(partial);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message(), "tokens.txt is missing from " + partial);

  // The first missing file decides, and the directory is quoted as passed.
  fs::remove(partial + "/decoder.int8.onnx");
  r = create_recognizer(partial + "//");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message(), "decoder.int8.onnx is missing from " + partial + "//");
}

TEST_F(RecognizerRuntime, APathHoldingNulNamesNoFile) {
  // Seen only up to the NUL, the encoder path would name a real file.
  const std::string dir = model() + "/encoder.int8.onnx" + std::string(1, '\0');
  auto r = create_recognizer(dir);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message(), "encoder.int8.onnx is missing from " + dir);
}

TEST_F(RecognizerRuntime, AModelThatThrowsWhileLoadingCannotBeLoaded) {
  TempDir scratch;
  make_stream_model(scratch.path(), "--corrupt encoder");
  auto r = create_recognizer(scratch.path());
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message(), "Could not load the streaming speech model from " + scratch.path());
  // Loading goes on working afterwards.
  auto good = create_recognizer(model() + "/");
  EXPECT_TRUE(good.ok());
}

TEST_F(RecognizerRuntime, DecodesATrimmedTranscriptOnReusedRecogniser) {
  auto recognizer = create_recognizer(model());
  ASSERT_TRUE(recognizer.ok()) << recognizer.error().message();
  for (int round = 0; round < 2; ++round) {
    auto created = recognizer.value().create_stream();
    ASSERT_TRUE(created.ok());
    runtime::OnlineStream stream = std::move(created).value();
    EXPECT_EQ(recognise(recognizer.value(), stream, low_samples()),
              (std::vector<std::string>{"LOW", "LOW"}));
    EXPECT_FALSE(stream.failed());
  }
}

TEST_F(RecognizerRuntime, ADecodeThatThrowsIsAFailureAndTheStreamIsDoneWith) {
  TempDir scratch;
  if (!testing::link_unpatched_real_model(scratch.path())) {
    GTEST_SKIP() << "the real model with its unpatched encoder is not beside the source tree";
  }
  auto recognizer = create_recognizer(scratch.path());
  ASSERT_TRUE(recognizer.ok()) << recognizer.error().message();
  for (int round = 0; round < 2; ++round) {
    auto created = recognizer.value().create_stream();
    ASSERT_TRUE(created.ok());
    runtime::OnlineStream stream = std::move(created).value();
    // The first decode step needs 0.45 s of audio; it throws.
    EXPECT_EQ(recognise(recognizer.value(), stream, low_samples()),
              (std::vector<std::string>{"failed", "8000"}));
    EXPECT_TRUE(stream.failed());
    // Decoding this stream again would crash the process: nothing reaches
    // the runtime now.
    EXPECT_FALSE(decode_available(recognizer.value(), stream).ok());
    EXPECT_FALSE(stream.accept_waveform(16000, low_samples()).ok());
  }
}

#endif  // !_WIN32

}  // namespace
}  // namespace velmora_corvane_tts
