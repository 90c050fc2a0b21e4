// Stream mode when its input is cut short, written one byte at a time or
// interrupted by signals, and when its reader goes away mid-session: on the
// real runtime with the synthetic streaming model.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>

#include <gtest/gtest.h>

#include "support/stream_model_suite.h"
#include "support/stream_test_util.h"
#include "support/child_process.h"
#include "support/fault_injection.h"

namespace velmora_corvane_tts::testing {
namespace {

using Replies = std::vector<Reply>;
const std::string kCut =
    "Corvane voice helper: Could not read a request frame: failed to fill whole buffer\n";

class StreamFaults : public StreamModelSuite {
 protected:

  // 0.3 s of a 440 Hz tone, then 0.3 s of silence: "LOW" once the tone has
  // been decoded. Raw little-endian floats.
  static std::string tone() {
    std::string raw;
    for (int i = 0; i < 9600; ++i) {
      float v = i < 4800 ? 0.5f * std::sin(2.0f * 3.14159265f * 440.0f * static_cast<float>(i) /
                                           16000.0f)
                         : 0.0f;
      raw.append(reinterpret_cast<const char*>(&v), 4);
    }
    return raw;
  }

  // A session of mixed requests: open, audio in six frames, an unknown tag,
  // a Cancel for another recording, Finish; a second recording on the same
  // model that is cancelled; a Finish without a stream; a reopen that ends
  // with the input. Returns the input and the offset of each frame.
  static std::string session(std::vector<size_t>& boundaries) {
    const std::string m = model();
    std::vector<std::string> frames = {open_frame(1, m)};
    std::string raw = tone();
    for (size_t at = 0; at < raw.size(); at += 6400) frames.push_back(frame(1, 1, raw.substr(at, 6400)));
    frames.push_back(frame(200, 1, "?"));
    frames.push_back(cancel_frame(2));
    frames.push_back(finish_frame(1));
    frames.push_back(open_frame(2, m + "/", "stream-model"));
    frames.push_back(frame(1, 2, raw.substr(0, 64)));
    frames.push_back(cancel_frame(2));
    frames.push_back(finish_frame(2));
    frames.push_back(open_frame(3, m));
    return join_frames(frames, boundaries);
  }
};

TEST_F(StreamFaults, EveryCutOfASessionEndsExactlyAsItShould) {
  CutPlan plan;
  plan.input = session(plan.boundaries);
  ChildResult full = run_child({helper_path(), "--stream-stt"}, plan.input);
  ASSERT_EQ(full.exit_code, 0) << full.err;
  EXPECT_EQ(parse_replies(full.out),
            (Replies{opened(1), partial(1, "LOW"), error_reply(1, "Unknown request tag 200"),
                     final_reply(1, "LOW"), opened(2),
                     error_reply(2, "The streaming voice runtime has no open stream for this "
                                    "recording"),
                     opened(3)}));

  plan.fatal_for = [](size_t, size_t) { return kCut; };
  // Every byte of the header and of the first Open; inside other payloads
  // the first and last bytes and every 149th byte. Where each start is slower,
  // headers at 1, 2, 8, 9, 12 and 13 bytes and payloads every 997th byte.
  const std::vector<size_t>& b = plan.boundaries;
  plan.sample = [&b](size_t request, size_t at) {
    size_t into = at - b[request];
    bool last = b[request + 1] - at == 1;
    if (slow_helper_starts()) {
      return into == 1 || into == 2 || into == 8 || into == 9 || into == 12 || into == 13 ||
             last || into % 997 == 0;
    }
    return into <= 14 || last || into % 149 == 0 || request == 0;
  };
  CutReport report = check_cuts({helper_path(), "--stream-stt"}, plan);
  EXPECT_EQ(report.failures, 0u);
  std::printf("[ cuts     ] %zu offsets of a %zu-byte session, %zu failures\n", report.offsets,
              plan.input.size(), report.failures);
}

TEST_F(StreamFaults, OneByteAtATimeGivesTheSameReplies) {
  std::vector<size_t> boundaries;
  std::string input = session(boundaries);
  ChildResult whole = run_child({helper_path(), "--stream-stt"}, input);
  ChildOptions trickle;
  trickle.write_chunk = 1;
  ChildResult slow = run_child({helper_path(), "--stream-stt"}, input, trickle);
  EXPECT_EQ(slow.exit_code, 0) << slow.err;
  EXPECT_EQ(slow.err, "");
  EXPECT_EQ(slow.out, whole.out);
}

TEST_F(StreamFaults, AReaderThatGoesAwayMidSessionEndsTheServiceWithBrokenPipe) {
  signal(SIGPIPE, SIG_IGN);
  InteractiveChild helper({helper_path(), "--stream-stt"});
  helper.send(open_frame(5, model()));
  std::string opened_reply = helper.receive(13);
  ASSERT_EQ(opened_reply.size(), 13u);
  EXPECT_EQ(opened_reply[0], 0);
  helper.stop_reading();
  helper.send(finish_frame(5));
  ChildResult end = helper.finish_with_output();
  EXPECT_EQ(end.exit_code, 1);
  EXPECT_EQ(end.err,
            "Corvane voice helper: Could not write a reply frame: " + broken_pipe_description() + "\n");
}

// See the synthesis service's test of the same name: signals that are ignored
// by default do not wake a blocked read, and a stop and continue restarts it.
TEST_F(StreamFaults, HarmlessSignalsWhileReadingChangeNothing) {
  std::vector<size_t> boundaries;
  std::string input = session(boundaries);
  ChildResult whole = run_child({helper_path(), "--stream-stt"}, input);
  // The replies stay in the pipe (they are few) and are read at the end.
  InteractiveChild probe({helper_path(), "--stream-stt"});
  // kill() with a pid of 0 or -1 would reach far more than the helper.
  ASSERT_GT(probe.pid(), 0);
  auto poke = [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (int sig : {SIGWINCH, SIGURG, SIGCHLD, SIGSTOP, SIGCONT}) {
      kill(probe.pid(), sig);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  };
  std::string out;
  for (size_t i = 0; i + 1 < boundaries.size(); ++i) {
    std::string request = input.substr(boundaries[i], boundaries[i + 1] - boundaries[i]);
    poke();
    size_t half = request.size() / 2;
    probe.send(request.substr(0, half));
    poke();
    probe.send(request.substr(half));
  }
  poke();
  ChildResult end = probe.finish_with_output();
  EXPECT_EQ(end.exit_code, 0) << end.err;
  EXPECT_EQ(end.out, whole.out);
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
