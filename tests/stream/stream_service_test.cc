// The stream state machine against the fake runtime, in this process: a
// runtime that throws on a recording's stream, wherever in the decode step,
// which the real runtime does only with a broken model.
#include "stream/stream_service.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/fake_sherpa.h"
#include "support/stream_test_util.h"
#include "support/memory_channel.h"

namespace velmora_corvane_tts {
namespace {

using testing::error_reply;
using testing::fake;
using testing::final_reply;
using testing::frame;
using testing::opened;
using testing::partial;
using testing::Reply;

class StreamServiceTest : public testing::FakeRuntimeTest {
 protected:
  StreamServiceTest() { testing::write_placeholder_models(dir_.path()); }

  std::string open(uint64_t id, const std::string& language = "") const {
    return frame(0, id,
                 R"({"model_id":"m","model_dir":)" + testing::json_string(dir_.path()) +
                     R"(,"language":)" + testing::json_string(language) + "}");
  }
  // One block the fake hears as loud.
  static std::string loud(uint64_t id) {
    std::string bytes(4 * 1600, '\0');
    for (size_t i = 0; i < bytes.size(); i += 4) {
      const float half = 0.5f;
      std::memcpy(&bytes[i], &half, 4);
    }
    return frame(1, id, bytes);
  }

  // Hands every frame of `input` to one service, as stream mode does.
  std::vector<Reply> serve(const std::string& input) {
    testing::MemoryChannel in(input);
    testing::MemoryChannel out;
    InputStream input_stream(in.fd());
    OutputStream output_stream(out.fd());
    StreamService service(output_stream);
    for (;;) {
      auto frame = read_frame(input_stream, kMaxStreamFrameBytes);
      if (!frame.ok() || !frame.value().has_value()) break;
      EXPECT_TRUE(service.handle(*frame.value()).ok());
    }
    service.release();
    return testing::parse_replies(out.contents());
  }

  testing::TempDir dir_;
};

TEST_F(StreamServiceTest, ARuntimeFailureOnTheStreamClosesTheRecordingOnly) {
  const std::string failed = "The streaming voice runtime could not decode this recording";
  const std::string closed = "The streaming voice runtime has no open stream for this recording";
  // Where the runtime throws, scripted through the stream's language: the
  // first decode step (after the second block), the readiness test or the
  // result (at the first block), taking the samples (at once).
  for (const char* script : {"decode-throws", "ready-throws", "result-throws", "accept-throws"}) {
    SCOPED_TRACE(script);
    testing::reset_fake();
    std::string first = std::string(script) == "decode-throws" ? loud(1) : "";
    EXPECT_EQ(serve(open(1, script) + first + loud(1) + loud(1) + frame(2, 1) + open(2) + loud(2) +
                    loud(2) + frame(2, 2) + open(3, script) + frame(2, 3)),
              (std::vector<Reply>{opened(1), error_reply(1, failed), error_reply(1, closed),
                                  opened(2), partial(2, "LOUD"), final_reply(2, "LOUD"), opened(3),
                                  error_reply(3, failed)}));
    // The recogniser stayed loaded for the next recording.
    EXPECT_EQ(fake().recognizers_created, 1);
    // The input may end right after the failing request: its reply is out.
    EXPECT_EQ(serve(open(1, script) + first + loud(1)),
              (std::vector<Reply>{opened(1), error_reply(1, failed)}));
  }
}

}  // namespace
}  // namespace velmora_corvane_tts
