// The synthesis service over pipes, byte for byte: framing, bad lengths and
// what follows them, truncated input, a closed output, pipelined requests.
// These cases never reach a model.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/child_process.h"

namespace velmora_corvane_tts::testing {
namespace {

ChildResult serve(const std::string& input, const ChildOptions& options = {}) {
  return run_child({helper_path()}, input, options);
}

std::string error_reply(const std::string& message) {
  return std::string(1, '\x01') + le32(static_cast<uint32_t>(message.size())) + message;
}

// A request that passes parsing but fails validation, so no model is loaded.
std::string unsupported_model_request() {
  return tts_frame(tts_request("nope", "/m", 0, "Hi"));
}

TEST(TtsFraming, EmptyInputEndsNormallyWithoutOutput) {
  ChildResult r = serve("");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exit_code, 0);
}

TEST(TtsFraming, InputEndingInsideTheLengthIsFatal) {
  for (size_t n : {1u, 2u, 3u}) {
    ChildResult r = serve(std::string(n, '\x05'));
    EXPECT_EQ(r.out, "") << n;
    EXPECT_EQ(r.err, "Corvane voice helper: Could not read request header: failed to fill whole "
                     "buffer\n")
        << n;
    EXPECT_EQ(r.exit_code, 1) << n;
  }
}

TEST(TtsFraming, ZeroLengthIsAnsweredAndTheNextFourBytesAreTheNextLength) {
  ChildResult r = serve(le32(0) + unsupported_model_request());
  const char header[] = {'\x01', '\x1F', '\x00', '\x00', '\x00'};
  std::string want = std::string(header, 5) + "Invalid request frame length: 0" +
                     error_reply("The requested local model is not supported");
  EXPECT_EQ(r.out, want);
  EXPECT_EQ(r.exit_code, 0);
}

TEST(TtsFraming, OversizedLengthSkipsNothing) {
  // 262,145 is refused; the first four bytes meant as its body are read as
  // the next length (0 here), and then the input ends cleanly.
  ChildResult r = serve(std::string("\x01\x00\x04\x00", 4) + le32(0));
  EXPECT_EQ(r.out, error_reply("Invalid request frame length: 262145") +
                       error_reply("Invalid request frame length: 0"));
  EXPECT_EQ(r.out.substr(1, 4), std::string("\x24\x00\x00\x00", 4));
  EXPECT_EQ(r.exit_code, 0);

  ChildResult max = serve("\xFF\xFF\xFF\xFF");
  EXPECT_EQ(max.out, error_reply("Invalid request frame length: 4294967295"));
  EXPECT_EQ(max.exit_code, 0);
}

TEST(TtsFraming, LargestBodyIsRead) {
  std::string body = tts_request("nope", "/m", 0, "Hi");
  body.resize(262144, ' ');
  ChildResult r = serve(tts_frame(body) + unsupported_model_request());
  EXPECT_EQ(r.out, error_reply("The requested local model is not supported") +
                       error_reply("The requested local model is not supported"));
  EXPECT_EQ(r.exit_code, 0);
}

TEST(TtsFraming, BodyEndingEarlyIsFatalWithoutReply) {
  ChildResult r = serve(unsupported_model_request() + le32(10) + "{\"a\":");
  EXPECT_EQ(r.out, error_reply("The requested local model is not supported"));
  EXPECT_EQ(r.err, "Corvane voice helper: Could not read request: failed to fill whole buffer\n");
  EXPECT_EQ(r.exit_code, 1);
}

TEST(TtsFraming, PipelinedRequestsAreAnsweredInOrder) {
  std::string input = tts_frame("{") + unsupported_model_request() +
                      tts_frame(tts_request("kokoro-82m-v1.1-int8", "/m", 0, " \t"));
  for (size_t chunk : {0u, 1u}) {  // all at once, and one byte at a time
    ChildOptions options;
    options.write_chunk = chunk;
    ChildResult r = serve(input, options);
    EXPECT_EQ(r.out, error_reply("Invalid request JSON: EOF while parsing an object at line 1 "
                                 "column 1") +
                         error_reply("The requested local model is not supported") +
                         error_reply("Speech text is empty"));
    EXPECT_EQ(r.exit_code, 0);
  }
}

TEST(TtsFraming, MessagesAreCleanedAndCut) {
  // A tab and a line feed in the model directory reach the load-failure
  // message; they are dropped on the wire.
  ChildResult r = serve(
      tts_frame(tts_request("supertonic-3-int8", "/no/such\tdir\n", 0, "Hi")));
  EXPECT_EQ(r.out, error_reply("Could not load the local speech model from /no/suchdir"));

  // The parser quotes a long string: the message is cut at 4,000 characters,
  // which are more bytes than that.
  std::string e_acute;
  for (int i = 0; i < 5000; ++i) e_acute += "\xC3\xA9";
  ChildResult cut = serve(tts_frame("\"" + e_acute + "\""));
  auto replies = parse_tts_replies(cut.out);
  ASSERT_EQ(replies.size(), 1u);
  const std::string prefix = "Invalid request JSON: invalid type: string \"";
  EXPECT_EQ(replies[0].status, 1);
  EXPECT_EQ(replies[0].payload.substr(0, prefix.size()), prefix);
  EXPECT_EQ(replies[0].payload.size(), prefix.size() + 2 * (4000 - prefix.size()));
}

TEST(TtsFraming, ClosedOutputEndsWithBrokenPipe) {
  ChildOptions options;
  options.close_stdout_early = true;
  ChildResult r = serve(unsupported_model_request(), options);
  EXPECT_EQ(r.err, "Corvane voice helper: Could not write response: " + broken_pipe_description() + "\n");
  EXPECT_EQ(r.exit_code, 1);
}

TEST(TtsFraming, ProcessStandardOutputIsPointedAtStandardError) {
  // Replies travel on a private copy of the original standard output;
  // descriptor 1 leads to standard error, so nothing else in the process can
  // write into the reply stream.
  if (helper_under_wine()) {
    GTEST_SKIP() << "/proc shows the Unix descriptors of Wine's process, not the Windows helper's "
                    "standard handles (platform_windows_test checks those)";
  }
  InteractiveChild helper({helper_path()});
  helper.send(unsupported_model_request());
  helper.receive_tts_reply();  // the service is running
  std::string proc = "/proc/" + std::to_string(helper.pid()) + "/fd/";
  std::error_code ec;
  auto fd1 = std::filesystem::read_symlink(proc + "1", ec);
  auto fd2 = std::filesystem::read_symlink(proc + "2", ec);
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_EQ(fd1, fd2);
  EXPECT_EQ(helper.finish(), 0);
}

TEST(TtsFraming, UnknownOptionsKeepTheSynthesisMode) {
  for (const char* arg : {"--help", "--stream-stt=1", "--STREAM-STT", "--stream"}) {
    ChildResult r = run_child({helper_path(), arg}, le32(0));
    EXPECT_EQ(r.out, error_reply("Invalid request frame length: 0")) << arg;
    EXPECT_EQ(r.exit_code, 0) << arg;
  }
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
