// Stream mode of the built helper over pipes, on the real runtime with
// synthetic models generated into temporary directories.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/stream_model_suite.h"
#include "support/stream_test_util.h"
#include "support/child_process.h"

namespace velmora_corvane_tts::testing {
namespace {

namespace fs = std::filesystem;
using Replies = std::vector<Reply>;

const std::string kNoStream = "The streaming voice runtime has no open stream for this recording";
const std::string kNoModel = "No speech model is loaded";

class StreamMode : public StreamModelSuite {
 protected:
  static void SetUpTestSuite() {
    StreamModelSuite::SetUpTestSuite();
    for (const char* preset : {"low", "low-high", "silence"}) {
      make_stream_audio(root() + "/" + preset + ".f32",
                        std::string("--raw-f32 --preset ") + preset);
    }
  }

  static std::string audio(const std::string& preset) {
    return read_file(root() + "/" + preset + ".f32");
  }
  // A run that ends normally has nothing on standard error.
  static Replies replies_of(const std::string& input) {
    ChildResult r = serve(input);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "");
    return parse_replies(r.out);
  }
};

TEST_F(StreamMode, OpenAudioFinishGiveOpenedPartialsAndFinalWithTheirIds) {
  const uint64_t id = 0x1122334455667788u;
  ChildResult r = serve(open_frame(id, model()) + audio_frames(id, audio("low-high")) +
                        finish_frame(id));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(parse_replies(r.out), (Replies{opened(id), partial(id, "LOW"),
                                           partial(id, "LOW HIGH"), final_reply(id, "LOW HIGH")}));
  // The exact bytes of the first two replies.
  const std::string id_bytes("\x88\x77\x66\x55\x44\x33\x22\x11", 8);
  EXPECT_EQ(r.out.substr(0, 13 + 16),
            std::string("\x00", 1) + id_bytes + std::string(4, '\0') + "\x01" + id_bytes +
                std::string("\x03\x00\x00\x00", 4) + "LOW");
}

TEST_F(StreamMode, UnchangedTranscriptsAreNotRepeatedButFinalAlwaysComes) {
  // The raw text turns from "LOW" into "LOW " while the audio goes on; trimmed
  // it is unchanged, so one Partial. The Final repeats it.
  EXPECT_EQ(replies_of(open_frame(1, model()) + audio_frames(1, audio("low")) + finish_frame(1)),
            (Replies{opened(1), partial(1, "LOW"), final_reply(1, "LOW")}));
  // Silence: no Partial, an empty Final.
  EXPECT_EQ(replies_of(open_frame(2, model()) + audio_frames(2, audio("silence")) + finish_frame(2)),
            (Replies{opened(2), final_reply(2, "")}));
  // Recording id 0 is an id like any other; an empty Audio payload feeds
  // nothing; odd trailing bytes are dropped.
  EXPECT_EQ(replies_of(open_frame(0, model()) + frame(1, 0) + frame(1, 0, "abc") +
                       audio_frames(0, audio("low") + "xyz", 3200) + finish_frame(0)),
            (Replies{opened(0), partial(0, "LOW"), final_reply(0, "LOW")}));
}

TEST_F(StreamMode, RequestsWithoutAMatchingStream) {
  // Before any Open: Audio and Cancel are ignored, Finish has no model.
  EXPECT_EQ(replies_of(audio_frames(4, audio("low")) + cancel_frame(4) + finish_frame(4)),
            (Replies{error_reply(4, kNoModel)}));
  // Audio for another recording is ignored and a Finish for it closes the
  // open stream without a result; the recogniser stays for the next Open.
  EXPECT_EQ(replies_of(open_frame(5, model()) + audio_frames(6, audio("low")) + finish_frame(6) +
                       audio_frames(5, audio("low")) + finish_frame(5) + open_frame(7, model()) +
                       audio_frames(7, audio("low")) + finish_frame(7)),
            (Replies{opened(5), error_reply(6, kNoStream), error_reply(5, kNoStream), opened(7),
                     partial(7, "LOW"), final_reply(7, "LOW")}));
}

TEST_F(StreamMode, CancelClosesOnlyTheOpenRecording) {
  const std::string low = audio("low");
  EXPECT_EQ(replies_of(open_frame(1, model()) + audio_frames(1, low.substr(0, 4 * 8000)) +
                       cancel_frame(2) + audio_frames(1, low.substr(4 * 8000)) + finish_frame(1)),
            (Replies{opened(1), partial(1, "LOW"), final_reply(1, "LOW")}));
  EXPECT_EQ(replies_of(open_frame(1, model()) + audio_frames(1, low) + cancel_frame(1) +
                       audio_frames(1, low) + finish_frame(1)),
            (Replies{opened(1), partial(1, "LOW"), error_reply(1, kNoStream)}));
}

TEST_F(StreamMode, ASecondOpenStartsAFreshStream) {
  // Same id again: the first stream's audio is forgotten.
  EXPECT_EQ(replies_of(open_frame(3, model()) + audio_frames(3, audio("low")) +
                       open_frame(3, model()) + audio_frames(3, audio("silence")) +
                       finish_frame(3)),
            (Replies{opened(3), partial(3, "LOW"), opened(3), final_reply(3, "")}));
}

TEST_F(StreamMode, UnknownTagsAreAnsweredAndChangeNothing) {
  EXPECT_EQ(replies_of(frame(9, 77, "payload") + open_frame(1, model()) + frame(4, 1) +
                       audio_frames(1, audio("low")) + frame(255, 1) + finish_frame(1)),
            (Replies{error_reply(77, "Unknown request tag 9"), opened(1),
                     error_reply(1, "Unknown request tag 4"), partial(1, "LOW"),
                     error_reply(1, "Unknown request tag 255"), final_reply(1, "LOW")}));
}

TEST_F(StreamMode, OpenPayloadLimitAndInvalidOpens) {
  const std::string head = "{\"model_id\":\"m\",\"model_dir\":\"" + model() + "\",\"pad\":\"";
  std::string at_limit = head + std::string(65536 - head.size() - 2, 'p') + "\"}";
  ASSERT_EQ(at_limit.size(), 65536u);
  std::string over = head + std::string(65537 - head.size() - 2, 'p') + "\"}";
  // An over-long or invalid Open still closes the open stream.
  EXPECT_EQ(replies_of(frame(0, 1, at_limit) + frame(0, 2, over) + finish_frame(1) +
                       open_frame(3, model()) + frame(0, 4, "{\"model_id\":\"m\"}") +
                       finish_frame(3)),
            (Replies{opened(1), error_reply(2, "The open request is too large"),
                     error_reply(1, kNoStream), opened(3),
                     error_reply(4, "Invalid open request: missing field `model_dir` at line 1 "
                                    "column 16"),
                     error_reply(3, kNoStream)}));
  // The array form, and languages: null, empty and set all open; a NUL in
  // the language is refused (and closes the stream opened before it).
  const std::string dir = model();
  EXPECT_EQ(
      replies_of(frame(0, 1, "[\"m\",\"" + dir + "\",null]") +
                 frame(0, 2, "{\"model_id\":\"m\",\"model_dir\":\"" + dir + "\",\"language\":\"\"}") +
                 frame(0, 3, "{\"model_id\":\"m\",\"model_dir\":\"" + dir + "\",\"language\":\"en\"}") +
                 audio_frames(3, audio("low")) +
                 frame(0, 4, "{\"model_id\":\"m\",\"model_dir\":\"" + dir +
                                 "\",\"language\":\"e\\u0000n\"}") +
                 finish_frame(3) + frame(0, 5, "{\"model_id\":\"m\",\"model_dir\":5}") +
                 frame(0, 6, "[\"m\",\"d\",null] x")),
      (Replies{opened(1), opened(2), opened(3), partial(3, "LOW"),
               error_reply(4, "Invalid open request: language contains a NUL character"),
               error_reply(3, kNoStream),
               error_reply(5, "Invalid open request: invalid type: integer `5`, expected path "
                              "string at line 1 column 29"),
               error_reply(6, "Invalid open request: trailing characters at line 1 column 16")}));
}

TEST_F(StreamMode, MissingModelFiles) {
  TempDir scratch;
  const std::string partial_dir = scratch.path() + "/partial";
  fs::create_directories(partial_dir + "/tokens.txt");
  for (const char* f : {"encoder.int8.onnx", "decoder.int8.onnx", "joiner.int8.onnx"}) {
    fs::copy_file(model() + "/" + f, partial_dir + "/" + f);
  }
  const std::string absent = scratch.path() + "/absent";
  // A failed load leaves no recogniser: the next Finish has no model.
  EXPECT_EQ(replies_of(open_frame(1, model()) + open_frame(2, absent) + finish_frame(1) +
                       open_frame(3, partial_dir) + open_frame(4, partial_dir + "/")),
            (Replies{opened(1), error_reply(2, "encoder.int8.onnx is missing from " + absent),
                     error_reply(1, kNoModel),
                     error_reply(3, "tokens.txt is missing from " + partial_dir),
                     error_reply(4, "tokens.txt is missing from " + partial_dir + "/")}));
  // The empty directory is the working directory.
  ChildOptions in_scratch;
  in_scratch.working_dir = scratch.path();
  ChildResult r = serve(open_frame(5, ""), in_scratch);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(parse_replies(r.out), (Replies{error_reply(5, "encoder.int8.onnx is missing from ")}));
  // Relative to the working directory.
  r = serve(open_frame(6, "partial/") + open_frame(7, "model"), in_scratch);
  EXPECT_EQ(parse_replies(r.out),
            (Replies{error_reply(6, "tokens.txt is missing from partial/"),
                     error_reply(7, "encoder.int8.onnx is missing from model")}));
}

TEST_F(StreamMode, ErrorTextsAreCleanedAndCut) {
  // The directory comes back in the message: line breaks and other control
  // characters are dropped, and the text is cut at 4,000 characters.
  std::string dir = "/no\\nwhere\\u0007/" + std::string(2000, 'x') + "\\u00e9" +
                    std::string(3000, 'y');
  ChildResult r = serve(frame(0, 8, "{\"model_id\":\"m\",\"model_dir\":\"" + dir + "\"}"));
  Replies replies = parse_replies(r.out);
  ASSERT_EQ(replies.size(), 1u);
  std::string expected = "encoder.int8.onnx is missing from /nowhere/" + std::string(2000, 'x') +
                         "\xC3\xA9" + std::string(3000, 'y');
  // 4,000 characters, one of them two bytes long.
  expected = expected.substr(0, 4001);
  EXPECT_EQ(replies[0], error_reply(8, expected));
}

TEST_F(StreamMode, ALoadedRecogniserIsReusedForEqualDirectoriesOnly) {
  TempDir scratch;
  const std::string dir = scratch.path() + "/m";
  make_stream_model(dir);
  fs::create_directories(dir + "/sub");
  InteractiveChild child({helper_path(), "--stream-stt"});
  uint64_t id = 0;
  // Opens with `model_dir` and `model_id`, sends the "low" audio and returns
  // the replies up to the Final.
  auto recording = [&](const std::string& model_dir, const std::string& model_id) {
    ++id;
    child.send(open_frame(id, model_dir, model_id) + audio_frames(id, audio("low")) +
               finish_frame(id));
    Replies got;
    while (got.empty() || got.back().tag == 0 || got.back().tag == 1) {
      auto reply = child.receive_stream_reply();
      if (!reply) break;
      got.push_back(*reply);
    }
    return got;
  };
  EXPECT_EQ(recording(dir, "a"), (Replies{opened(1), partial(1, "LOW"), final_reply(1, "LOW")}));
  // The files now say ALPHA, but equal spellings keep the loaded recogniser.
  make_stream_model(dir, "--low-word ALPHA");
  EXPECT_EQ(recording(dir + "/", "a"), (Replies{opened(2), partial(2, "LOW"), final_reply(2, "LOW")}));
  EXPECT_EQ(recording(scratch.path() + "//./m/.", "a"),
            (Replies{opened(3), partial(3, "LOW"), final_reply(3, "LOW")}));
  // ".." is not resolved: another directory, so the recogniser is rebuilt.
  EXPECT_EQ(recording(dir + "/sub/..", "a"),
            (Replies{opened(4), partial(4, "ALPHA"), final_reply(4, "ALPHA")}));
  // Another model id rebuilds it too.
  make_stream_model(dir, "--low-word BRAVO");
  EXPECT_EQ(recording(dir + "/sub/..", "b"),
            (Replies{opened(5), partial(5, "BRAVO"), final_reply(5, "BRAVO")}));
  ChildResult end = child.finish_with_output();
  EXPECT_EQ(end.exit_code, 0);
  EXPECT_EQ(end.out, "");
  EXPECT_EQ(end.err, "");
}

TEST_F(StreamMode, ARelativeSpellingIsAnotherDirectory) {
  TempDir scratch;
  make_stream_model(scratch.path() + "/dir");
  InteractiveChild child({helper_path(), "--stream-stt"});
  // The child's working directory is the test's; use paths relative to it.
  const std::string rel = fs::relative(scratch.path() + "/dir").string();
  child.send(open_frame(1, rel) + audio_frames(1, audio("low")) + finish_frame(1));
  EXPECT_EQ(child.receive_stream_reply(), opened(1));
  EXPECT_EQ(child.receive_stream_reply(), partial(1, "LOW"));
  EXPECT_EQ(child.receive_stream_reply(), final_reply(1, "LOW"));
  make_stream_model(scratch.path() + "/dir", "--low-word ALPHA");
  child.send(open_frame(2, "./" + rel) + audio_frames(2, audio("low")) + finish_frame(2));
  EXPECT_EQ(child.receive_stream_reply(), opened(2));
  EXPECT_EQ(child.receive_stream_reply(), partial(2, "ALPHA"));
  EXPECT_EQ(child.receive_stream_reply(), final_reply(2, "ALPHA"));
  EXPECT_EQ(child.finish(), 0);
}

TEST_F(StreamMode, TransportFailuresEndTheServiceWithStatusOne) {
  const std::string open = open_frame(1, model());
  // One byte over the frame limit: refused on the header alone.
  std::string oversized = std::string(1, '\x01') + std::string(8, '\x01') + le32(2048001);
  ChildResult r = serve(open + oversized + std::string(100, '\0'));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(parse_replies(r.out), (Replies{opened(1)}));
  EXPECT_EQ(r.err,
            "Corvane voice helper: Could not read a request frame: frame payload of 2048001 "
            "bytes exceeds the 2048000 byte limit\n");
  // A frame cut short, in the header or in the payload.
  for (const std::string& torn : {std::string(1, '\x02'), frame(1, 1, "abcdefgh").substr(0, 17)}) {
    r = serve(open + torn);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(parse_replies(r.out), (Replies{opened(1)}));
    EXPECT_EQ(r.err,
              "Corvane voice helper: Could not read a request frame: failed to fill whole buffer\n");
  }
  // Nobody reads the replies.
  ChildOptions closed;
  closed.close_stdout_early = true;
  r = serve(frame(9, 1), closed);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Corvane voice helper: Could not write a reply frame: " + broken_pipe_description() + "\n");
}

TEST_F(StreamMode, AFrameAtTheLimitIsServed) {
  // 2,048,000 bytes of zeros: 32 s of silence in one Audio request.
  EXPECT_EQ(replies_of(open_frame(1, model()) + frame(1, 1, std::string(2048000, '\0')) +
                       audio_frames(1, audio("low")) + finish_frame(1)),
            (Replies{opened(1), partial(1, "LOW"), final_reply(1, "LOW")}));
}

TEST_F(StreamMode, RuntimeExceptionsAreAnsweredAndTheServiceGoesOn) {
  TempDir scratch;
  const std::string corrupt = scratch.path() + "/corrupt";
  make_stream_model(corrupt, "--corrupt encoder");
  ChildResult r = serve(open_frame(1, corrupt) + finish_frame(1) + open_frame(2, model()) +
                        audio_frames(2, audio("low")) + finish_frame(2));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(parse_replies(r.out),
            (Replies{error_reply(1, "Could not load the streaming speech model from " + corrupt),
                     error_reply(1, kNoModel), opened(2), partial(2, "LOW"),
                     final_reply(2, "LOW")}));
}

TEST_F(StreamMode, ADecodeThatThrowsIsAnsweredAndClosesTheRecording) {
  TempDir scratch;
  if (!link_unpatched_real_model(scratch.path())) {
    GTEST_SKIP() << "the real model with its unpatched encoder is not beside the source tree";
  }
  // Every recording's first decode step throws (at 0.5 s): that request
  // gets the Error, and the recording is closed, so the rest of its audio is
  // ignored and its Finish finds no stream. The service outlives them all.
  const std::string failed = "The streaming voice runtime could not decode this recording";
  const std::string closed = "The streaming voice runtime has no open stream for this recording";
  std::string input;
  for (uint64_t id = 1; id <= 2; ++id) {
    input += open_frame(id, scratch.path()) + audio_frames(id, audio("low-high")) + finish_frame(id);
  }
  // A Finish that comes before the first decode step makes that step.
  input += open_frame(3, scratch.path()) + frame(1, 3, audio("low-high").substr(0, 16000)) +
           finish_frame(3);
  ChildResult r = serve(input + open_frame(4, model()) + audio_frames(4, audio("low")) +
                        finish_frame(4));
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.signal, 0);
  std::vector<Reply> replies = parse_replies(r.out);
  EXPECT_EQ(replies, (Replies{opened(1), error_reply(1, failed), error_reply(1, closed), opened(2),
                              error_reply(2, failed), error_reply(2, closed), opened(3),
                              error_reply(3, failed), opened(4), partial(4, "LOW"),
                              final_reply(4, "LOW")}));
}

TEST_F(StreamMode, ModeSelection) {
  // In the synthesis service these bytes are a 9-byte body that is not JSON.
  const std::string input = frame(9, 0);
  const Replies unknown{error_reply(0, "Unknown request tag 9")};
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"foo", "--stream-stt"},
        std::vector<std::string>{"--stream-stt", "--stream-stt-smoke", "x", "y"},
        std::vector<std::string>{"--help", "--stream-stt", "--stream-stt=1"}}) {
    std::vector<std::string> argv{helper_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildResult r = run_child(argv, input);
    EXPECT_EQ(r.exit_code, 0) << args[0];
    EXPECT_EQ(parse_replies(r.out), unknown) << args[0];
  }
  // Near misses select the synthesis service, whose reply starts with a
  // status byte and a 4-byte length.
  for (const char* arg : {"--stream-stt=1", "--STREAM-STT", "--stream", " --stream-stt"}) {
    ChildResult r = run_child({helper_path(), arg}, input);
    EXPECT_EQ(r.exit_code, 0) << arg;
    ASSERT_GE(r.out.size(), 5u) << arg;
    EXPECT_EQ(r.out[0], '\x01') << arg;
    EXPECT_EQ(decode_fixed32(r.out.data() + 1) + 5, r.out.size()) << arg;
  }
  // Stream mode with nothing to do.
  ChildResult empty = serve("");
  EXPECT_EQ(empty.exit_code, 0);
  EXPECT_EQ(empty.out, "");
  EXPECT_EQ(empty.err, "");
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
