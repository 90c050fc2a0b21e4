// Every handle the real runtime hands out is released exactly once, in the
// order the services promise: a synthesis engine's replacement exists before
// it is destroyed, an audio record is released before the next request, a
// stream goes before its recogniser, and a recogniser before its successor
// is built. The services run in this process over memory channels, with the
// synthetic models; the runtime's create and destroy functions are traced
// through the linker's --wrap. In the sanitizer build LeakSanitizer checks
// this process at exit as well: a session that loads, swaps and fails
// models leaves nothing of ours behind.
#include <cmath>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "common/io.h"
#include "runtime/runtime_trace.h"
#include "stream/voice_stream_helper.h"
#include "support/stream_test_util.h"
#include "support/child_process.h"
#include "support/memory_channel.h"
#include "tts/tts_service.h"

namespace velmora_corvane_tts::testing {
namespace {

namespace fs = std::filesystem;
using Trace = std::vector<std::string>;

// Checks that every result JSON is released right after it is fetched, and
// returns the trace without those pairs.
Trace without_results(const Trace& trace) {
  Trace rest;
  for (size_t i = 0; i < trace.size(); ++i) {
    if (trace[i].rfind("result+ ", 0) == 0) {
      EXPECT_TRUE(i + 1 < trace.size() && trace[i + 1] == "result- " + trace[i].substr(8))
          << "result " << trace[i].substr(8) << " not released at once";
      ++i;
      continue;
    }
    rest.push_back(trace[i]);
  }
  return rest;
}

TEST(RuntimeLifetime, SynthesisLoadsSwapsAndFailsWithEveryHandleReleasedOnce) {
  TempDir root;
  const std::string k = root.path() + "/k", s = root.path() + "/s", bad = root.path() + "/bad";
  make_tts_model("kokoro", k);
  make_tts_model("supertonic", s);
  fs::copy(k, bad, fs::copy_options::recursive);
  std::ofstream(bad + "/model.int8.onnx", std::ios::trunc) << "not a model";
  // Once a Kokoro engine has loaded, espeak-ng's data is the runtime's to
  // check: it refuses a directory without all of it.
  const std::string no_data = root.path() + "/no-data";
  fs::copy(k, no_data, fs::copy_options::recursive);
  fs::remove(no_data + "/espeak-ng-data/intonations");
  const char* kokoro = "kokoro-82m-v1.1-int8";
  const char* supertonic = "supertonic-3-int8";
  std::string input = tts_frame(tts_request(kokoro, k, 0, ".")) +
                      tts_frame(tts_request(supertonic, s, 0, "Hello world.")) +
                      tts_frame(tts_request(kokoro, no_data, 0, ".")) +
                      tts_frame(tts_request(supertonic, s + "/", 0, ".")) +
                      tts_frame(tts_request(kokoro, bad, 0, ".")) +
                      tts_frame(tts_request(supertonic, s, 0, std::string(1, '\0'))) +
                      tts_frame(tts_request(kokoro, k, 0, "\xE4\xB8\xAD\xE6\x96\x87"));
  clear_runtime_trace();
  {
    MemoryChannel in(input), out;
    InputStream input_stream(in.fd());
    OutputStream output_stream(out.fd());
    ASSERT_TRUE(run_tts_service(input_stream, output_stream).ok());
    std::vector<TtsReply> replies = parse_tts_replies(out.contents());
    ASSERT_EQ(replies.size(), 7u);
    for (size_t i : {0u, 1u, 3u}) EXPECT_EQ(replies[i].status, 0) << i << replies[i].payload;
    for (size_t i : {2u, 4u, 5u, 6u}) EXPECT_EQ(replies[i].status, 1) << i;
  }
  EXPECT_EQ(runtime_trace(), (Trace{
                                 "engine+ 1", "audio+ 1 on engine 1", "audio- 1",
                                 "engine+ 2", "engine- 1",  // the new engine first
                                 "audio+ 2 on engine 2", "audio- 2",
                                 "engine null",  // espeak-ng data missing; engine 2 stays
                                 "audio+ 3 on engine 2", "audio- 3",
                                 "engine throws",  // a corrupt model file; engine 2 stays
                                 "audio null",     // nothing left to speak
                                 "engine+ 3", "engine- 2", "audio null",  // out of vocabulary
                                 "engine- 3",  // the service released its engine
                             }));
}

std::string tone_frames(uint64_t id) {
  std::string raw;
  for (int i = 0; i < 6400; ++i) {
    float v = i < 3200 ? 0.5f * std::sin(2.0f * 3.14159265f * 440.0f * static_cast<float>(i) / 16000.0f)
                       : 0.0f;
    raw.append(reinterpret_cast<const char*>(&v), 4);
  }
  return audio_frames(id, raw);
}

TEST(RuntimeLifetime, StreamingReusesSwapsAndFailsWithStreamsBeforeRecognisers) {
  TempDir root;
  const std::string m = root.path() + "/m", n = root.path() + "/n", bad = root.path() + "/bad";
  make_stream_model(m);
  make_stream_model(n);
  make_stream_model(bad, "--corrupt encoder");
  std::string input = open_frame(1, m) + tone_frames(1) + finish_frame(1) + open_frame(2, m + "/") +
                      open_frame(3, n) + tone_frames(3) + open_frame(4, bad) + finish_frame(4) +
                      open_frame(5, m) + tone_frames(5);
  clear_runtime_trace();
  {
    MemoryChannel in(input), out;
    InputStream input_stream(in.fd());
    OutputStream output_stream(out.fd());
    ASSERT_TRUE(run(input_stream, output_stream).ok());
    std::vector<Reply> replies = parse_replies(out.contents());
    ASSERT_GE(replies.size(), 6u);
    EXPECT_EQ(replies[2], final_reply(1, "LOW"));
  }
  EXPECT_EQ(without_results(runtime_trace()),
            (Trace{
                "recognizer+ 1", "stream+ 1 on recognizer 1",
                "stream- 1",                    // Final
                "stream+ 2 on recognizer 1",    // the same model, reused
                "stream- 2", "recognizer- 1",   // another model: the old one goes first
                "recognizer+ 2", "stream+ 3 on recognizer 2",
                "stream- 3", "recognizer- 2",   // a model that cannot be loaded
                "recognizer throws",
                "recognizer+ 3", "stream+ 4 on recognizer 3",
                "stream- 4", "recognizer- 3",   // the end of input
            }));
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
