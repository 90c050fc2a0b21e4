// The synthesis service when its input is cut short, written one byte at a
// time, or interrupted by signals, and when its reader goes away: on the
// real runtime with the synthetic models.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/fault_injection.h"
#include "support/tts_model_suite.h"

namespace velmora_corvane_tts::testing {
namespace {

const std::string kHeaderCut =
    "Corvane voice helper: Could not read request header: failed to fill whole buffer\n";
const std::string kBodyCut =
    "Corvane voice helper: Could not read request: failed to fill whole buffer\n";

class TtsFaults : public TtsModelSuite {
 protected:
  // A session of mixed requests on paths where the runtime writes nothing
  // to standard error: a Kokoro load, a zero length, malformed JSON, a
  // validation failure, a switch to Supertonic, the array form back on
  // Kokoro. Returns the input and the offset where each request starts.
  static std::string session(std::vector<size_t>& boundaries) {
    const std::string k = kokoro_dir();
    const std::string s = supertonic_dir();
    std::vector<std::string> frames = {
        tts_frame(tts_request(kKokoro, k, 0, ".")),
        le32(0),
        tts_frame("{\"model_id\":"),
        tts_frame(tts_request(kKokoro, k, 7, "Hi")),
        tts_frame(tts_request(kSupertonic, s + "/", 3, "Hi.")),
        tts_frame("[\"" + std::string(kKokoro) + "\",\"" + k + "//\",1,\"en\",2.0,\".\"]"),
    };
    return join_frames(frames, boundaries);
  }

};

TEST_F(TtsFaults, EveryCutOfASessionEndsExactlyAsItShould) {
  CutPlan plan;
  plan.input = session(plan.boundaries);
  ASSERT_LT(plan.input.size(), 1000u);
  // The whole session first: six replies, whole frames.
  ChildResult full = run_child({helper_path()}, plan.input);
  ASSERT_EQ(full.exit_code, 0) << full.err;
  std::vector<TtsReply> replies = parse_tts_replies(full.out);
  ASSERT_EQ(replies.size(), 6u);
  EXPECT_EQ(wav_info(replies[0].payload).samples, 1800u);
  EXPECT_EQ(replies[1].payload, "Invalid request frame length: 0");
  EXPECT_EQ(replies[2].payload.rfind("Invalid request JSON: ", 0), 0u);
  EXPECT_EQ(replies[3].payload, "The selected local voice is invalid");
  EXPECT_EQ(wav_info(replies[4].payload).sample_rate, 44100u);
  EXPECT_EQ(wav_info(replies[5].payload).samples, 900u);

  const std::vector<size_t>& b = plan.boundaries;
  plan.fatal_for = [&b](size_t request, size_t at) {
    return at - b[request] < 4 ? kHeaderCut : kBodyCut;
  };
  if (slow_helper_starts()) {
    // Every header byte, every 9th body byte.
    plan.sample = [&b](size_t request, size_t at) {
      return at - b[request] <= 5 || b[request + 1] - at <= 1 || at % 9 == 0;
    };
  }
  CutReport report = check_cuts({helper_path()}, plan);
  EXPECT_EQ(report.failures, 0u);
  std::printf("[ cuts     ] %zu offsets of a %zu-byte session, %zu failures\n", report.offsets,
              plan.input.size(), report.failures);
}

TEST_F(TtsFaults, OneByteAtATimeGivesTheSameReplies) {
  std::vector<size_t> boundaries;
  std::string input = session(boundaries);
  ChildResult whole = run_child({helper_path()}, input);
  ChildOptions trickle;
  trickle.write_chunk = 1;
  ChildResult slow = run_child({helper_path()}, input, trickle);
  EXPECT_EQ(slow.exit_code, 0) << slow.err;
  EXPECT_EQ(slow.err, "");
  EXPECT_EQ(slow.out, whole.out);
}

TEST_F(TtsFaults, AReaderThatGoesAwayMidSessionEndsTheServiceWithBrokenPipe) {
  // After the first reply the application closes its end of standard
  // output; the next reply cannot be written.
  signal(SIGPIPE, SIG_IGN);
  const std::string request = tts_frame(tts_request("nope", "/m", 0, "Hi"));
  InteractiveChild helper({helper_path()});
  helper.send(request);
  EXPECT_EQ(helper.receive(5 + 42).substr(5), "The requested local model is not supported");
  helper.stop_reading();
  helper.send(request);
  ChildResult end = helper.finish_with_output();
  EXPECT_EQ(end.exit_code, 1);
  EXPECT_EQ(end.err, "Corvane voice helper: Could not write response: " + broken_pipe_description() + "\n");
}

// Signals whose default action is to ignore them (SIGWINCH, SIGURG, SIGCHLD)
// are discarded by the kernel without waking a blocked read, and a stop and
// continue restarts it; the helper installs no handler, so none of these may
// end or disturb it, neither between frames nor inside one.
TEST_F(TtsFaults, HarmlessSignalsWhileReadingChangeNothing) {
  std::vector<size_t> boundaries;
  std::string input = session(boundaries);
  ChildResult whole = run_child({helper_path()}, input);
  InteractiveChild helper({helper_path()});
  // kill() with a pid of 0 or -1 would reach far more than the helper.
  ASSERT_GT(helper.pid(), 0);
  auto poke = [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    for (int sig : {SIGWINCH, SIGURG, SIGCHLD, SIGSTOP, SIGCONT, SIGWINCH}) {
      kill(helper.pid(), sig);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  };
  std::string out;
  for (size_t i = 0; i + 1 < boundaries.size(); ++i) {
    std::string request = input.substr(boundaries[i], boundaries[i + 1] - boundaries[i]);
    poke();  // blocked at a frame boundary
    size_t half = request.size() / 2;
    helper.send(request.substr(0, half));
    poke();  // blocked inside a frame
    helper.send(request.substr(half));
    TtsReply r = helper.receive_tts_reply();
    out += std::string(1, static_cast<char>(r.status)) + le32(static_cast<uint32_t>(r.payload.size())) +
           r.payload;
  }
  poke();
  EXPECT_EQ(helper.finish(), 0);
  EXPECT_EQ(out, whole.out);
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
