// The client library against the built helper, with generated models: what
// an application sees through Synthesizer and Recognizer.
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "common/coding.h"
#include "support/stream_test_util.h"
#include "support/child_process.h"
#include "support/tts_model_suite.h"
#include "velmora_corvane/recognizer.h"
#include "velmora_corvane/synthesizer.h"

namespace velmora_corvane {
namespace {

namespace t = velmora_corvane_tts::testing;
using std::chrono::milliseconds;

HelperOptions options(milliseconds timeout = milliseconds(0)) {
  HelperOptions o;
  o.helper_path = t::helper_path();
  o.timeout = timeout;
  return o;
}

std::string kinds(const Error& e) { return std::string(error_kind_name(e.kind())) + ": " + e.message(); }

class ClientSynthesis : public t::TtsModelSuite {
 protected:
  SynthesisRequest request(std::string text) {
    return SynthesisRequest{t::kKokoro, kokoro_dir(), 0, "en", 1.0f, std::move(text)};
  }
};

TEST_F(ClientSynthesis, TwoThreadsPipelineAndEachGetsItsOwnReply) {
  Synthesizer synth(options());
  // Different lengths give different sample counts: a swapped reply shows.
  std::vector<size_t> lengths[2];
  auto speak = [&](int who) {
    for (int i = 0; i < 6; ++i) {
      auto r = synth.synthesize(request(std::string(size_t(who * 6 + i + 1), 'a') + "."));
      ASSERT_TRUE(r.ok()) << kinds(r.error());
      EXPECT_EQ(r.value().sample_rate(), 24000u);
      EXPECT_EQ(r.value().wav().size(), 44 + 2 * r.value().samples().size());
      lengths[who].push_back(r.value().samples().size());
    }
  };
  std::thread a(speak, 0), b(speak, 1);
  a.join();
  b.join();
  Synthesizer alone(options());
  for (int who = 0; who < 2; ++who) {
    for (int i = 0; i < 6; ++i) {
      auto r = alone.synthesize(request(std::string(size_t(who * 6 + i + 1), 'a') + "."));
      ASSERT_TRUE(r.ok());
      EXPECT_EQ(lengths[who][size_t(i)], r.value().samples().size()) << who << " " << i;
    }
  }
}

TEST_F(ClientSynthesis, EachErrorKindFromARealReply) {
  std::string zero_rate = root() + "/zero-rate";
  t::make_tts_model("kokoro", zero_rate, "--sample-rate 0");
  Synthesizer synth(options());
  auto with = [&](auto change) {
    SynthesisRequest r = request("Hello.");
    change(r);
    return r;
  };
  const struct {
    SynthesisRequest request;
    ErrorKind kind;
  } cases[] = {
      {with([](auto& r) { r.model_id = "\xff"; }), ErrorKind::kInvalidRequest},
      {with([](auto& r) { r.text = " "; }), ErrorKind::kEmptyText},
      {with([](auto& r) { r.text = std::string(10001, 'a'); }), ErrorKind::kTextTooLong},
      {with([](auto& r) { r.model_id = "nope"; }), ErrorKind::kUnsupportedModel},
      {with([](auto& r) { r.voice = 999; }), ErrorKind::kInvalidVoice},
      {with([](auto& r) { r.model_dir = "/nonexistent"; }), ErrorKind::kModelLoadFailed},
      {with([&](auto& r) { r.model_dir = zero_rate; }), ErrorKind::kSynthesisFailed},
      {with([](auto& r) { r.speed = std::numeric_limits<float>::infinity(); }),
       ErrorKind::kRefusedLocally},
  };
  for (const auto& c : cases) {
    auto r = synth.synthesize(c.request);
    ASSERT_FALSE(r.ok()) << c.request.model_id;
    EXPECT_EQ(error_kind_name(r.error().kind()), error_kind_name(c.kind)) << r.error().message();
  }
  HelperOptions absent = options();
  absent.helper_path = root() + "/no-helper";
  Synthesizer missing(absent);
  auto r = missing.synthesize(request("Hi."));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), ErrorKind::kHelperUnavailable) << r.error().message();
}

TEST_F(ClientSynthesis, AnOversizedRequestIsRefusedLocallyAndTheNextIsServed) {
  Synthesizer synth(options());
  auto big = synth.synthesize(request(std::string(300000, 'a')));
  ASSERT_FALSE(big.ok());
  EXPECT_EQ(big.error().kind(), ErrorKind::kRefusedLocally);
  auto next = synth.synthesize(request("Hello."));
  EXPECT_TRUE(next.ok()) << kinds(next.error());
}

TEST_F(ClientSynthesis, AKillingRequestFailsAloneAndAFreshHelperServesTheNext) {
  std::vector<std::string> seen;
  std::mutex seen_mutex;
  HelperOptions o = options();
  o.on_stderr_line = [&](std::string_view line) {
    std::lock_guard lock(seen_mutex);
    seen.emplace_back(line);
  };
  Synthesizer synth(o);
  // The runtime ends the process on this text (docs/robustness.md).
  std::string killer;
  for (int i = 0; i < 510; ++i) killer += "中.";
  auto died = synth.synthesize(request(killer));
  ASSERT_FALSE(died.ok());
  EXPECT_EQ(died.error().kind(), ErrorKind::kHelperExited);
  EXPECT_EQ(died.error().message(), "The helper exited with status 255");
  bool told = false;
  for (const auto& line : died.error().helper_stderr()) told |= line.find("510 vs 510") != std::string::npos;
  EXPECT_TRUE(told);
  auto next = synth.synthesize(request("Hello."));
  EXPECT_TRUE(next.ok()) << kinds(next.error());
  std::lock_guard lock(seen_mutex);
  EXPECT_FALSE(seen.empty());
}

TEST_F(ClientSynthesis, TheRequestsQueuedBehindOneThatDiedGoToTheNextHelper) {
  // A stand-in whose first run ends (status 3) a second after it starts,
  // reading nothing; later runs are the helper.
  std::string script = root() + "/dies-once.sh";
  std::ofstream(script) << "#!/bin/sh\nif [ ! -e '" << root() << "/ran' ]; then touch '" << root()
                        << "/ran'; sleep 1; exit 3; fi\nexec '" << t::helper_path() << "' \"$@\"\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  HelperOptions o = options();
  o.helper_path = script;
  Synthesizer synth(o);
  std::optional<Result<Speech>> first, second;
  std::thread a([&] { first = synth.synthesize(request("First.")); });
  std::this_thread::sleep_for(milliseconds(100));
  std::thread b([&] { second = synth.synthesize(request("Second.")); });
  a.join();
  b.join();
  ASSERT_FALSE(first->ok());
  EXPECT_EQ(first->error().kind(), ErrorKind::kHelperExited);
  EXPECT_EQ(first->error().message(), "The helper exited with status 3");
  EXPECT_TRUE(second->ok()) << kinds(second->error());
}

TEST_F(ClientSynthesis, AFloodOnStandardErrorDoesNotStall) {
  // A stand-in that writes 20 MB of lines to standard error before it
  // becomes the helper: unread, the pipe would fill and it would stop.
  std::string script = root() + "/flood.sh";
  std::ofstream(script) << "#!/bin/sh\nyes 'runtime diagnostic line' | head -c 20000000 >&2\nexec '"
                        << t::helper_path() << "' \"$@\"\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  std::atomic<size_t> lines{0};
  HelperOptions o = options(milliseconds(20000));
  o.helper_path = script;
  o.on_stderr_line = [&](std::string_view) { ++lines; };
  Synthesizer synth(o);
  auto r = synth.synthesize(request("Hello."));
  EXPECT_TRUE(r.ok()) << kinds(r.error());
  EXPECT_GE(lines.load(), 20000000u / 26);
}

// ---------------------------------------------------------------------------
// Recognition.

class ClientRecognition : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new t::TempDir();
    t::make_stream_model(model());
    t::make_stream_audio(root() + "/lh.f32", "--preset low-high --raw-f32");
    t::make_stream_audio(root() + "/lh48.wav", "--preset low-high --rate 48000");
    t::make_stream_audio(root() + "/lh16.wav", "--preset low-high");
  }
  static void TearDownTestSuite() { delete root_; }
  static std::string root() { return root_->path(); }
  static std::string model() { return root() + "/model"; }

  static std::vector<float> floats(const std::string& path) {
    std::string raw = t::read_file(path);
    std::vector<float> out(raw.size() / 4);
    std::memcpy(out.data(), raw.data(), out.size() * 4);
    return out;
  }
  static std::vector<int16_t> wav_samples(const std::string& path) {
    std::string wav = t::read_file(path);
    size_t at = 12;
    while (at + 8 <= wav.size() && wav.compare(at, 4, "data") != 0) {
      at += 8 + velmora_corvane_tts::decode_fixed32(wav.data() + at + 4);
    }
    std::vector<int16_t> out((wav.size() - at - 8) / 2);
    std::memcpy(out.data(), wav.data() + at + 8, out.size() * 2);
    return out;
  }

 private:
  static inline t::TempDir* root_ = nullptr;
};

TEST_F(ClientRecognition, PartialsArriveAndTheFinalMatchesTheSmokeTest) {
  Recognizer recognizer(options());
  std::vector<std::string> partials;
  auto rec = recognizer.open("stream-model", model(), std::nullopt,
                             [&](std::string_view p) { partials.emplace_back(p); });
  ASSERT_TRUE(rec.ok()) << kinds(rec.error());
  std::vector<float> audio = floats(root() + "/lh.f32");
  for (size_t at = 0; at < audio.size(); at += 1600) {
    ASSERT_TRUE(rec.value()->feed(std::span(audio).subspan(at, std::min<size_t>(1600, audio.size() - at))).ok());
  }
  auto final_text = rec.value()->finish();
  ASSERT_TRUE(final_text.ok()) << kinds(final_text.error());
  EXPECT_EQ(final_text.value(), "LOW HIGH");
  EXPECT_EQ(partials, (std::vector<std::string>{"LOW", "LOW HIGH"}));

  t::ChildResult smoke =
      t::run_child({t::helper_path(), "--stream-stt-smoke", model(), root() + "/lh16.wav"}, "");
  EXPECT_NE(smoke.out.find(" final=" + final_text.value() + "\n"), std::string::npos) << smoke.out;
  // Closed now.
  EXPECT_EQ(rec.value()->finish().error().kind(), ErrorKind::kRefusedLocally);
}

TEST_F(ClientRecognition, FortyEightKilohertzPcmGivesTheFinalOfSixteenKilohertzFloats) {
  Recognizer recognizer(options());
  auto by_float = recognizer.open("m", model());
  ASSERT_TRUE(by_float.ok());
  ASSERT_TRUE(by_float.value()->feed(floats(root() + "/lh.f32")).ok());
  auto expected = by_float.value()->finish();
  ASSERT_TRUE(expected.ok());

  auto by_pcm = recognizer.open("m", model());
  ASSERT_TRUE(by_pcm.ok());
  std::vector<int16_t> pcm = wav_samples(root() + "/lh48.wav");
  for (size_t at = 0; at < pcm.size(); at += 4801) {
    auto piece = std::span(pcm).subspan(at, std::min<size_t>(4801, pcm.size() - at));
    ASSERT_TRUE(by_pcm.value()->feed(piece, 48000).ok());
  }
  EXPECT_EQ(by_pcm.value()->feed(std::span(pcm).first(10), 44100).error().kind(),
            ErrorKind::kRefusedLocally);
  auto got = by_pcm.value()->finish();
  ASSERT_TRUE(got.ok()) << kinds(got.error());
  EXPECT_EQ(got.value(), expected.value());
}

TEST_F(ClientRecognition, ANewerRecordingSupersedesAnOlderAndErrorsKeepTheirKinds) {
  Recognizer recognizer(options());
  auto older = recognizer.open("m", model());
  auto newer = recognizer.open("m", model());
  ASSERT_TRUE(older.ok() && newer.ok());
  EXPECT_EQ(older.value()->feed(floats(root() + "/lh.f32")).error().kind(),
            ErrorKind::kNoOpenRecording);
  EXPECT_TRUE(newer.value()->finish().ok());
  auto missing = recognizer.open("m", root() + "/none");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind(), ErrorKind::kModelLoadFailed) << missing.error().message();
  auto bad = recognizer.open("m", "\xff");
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().kind(), ErrorKind::kInvalidRequest) << bad.error().message();
}

TEST_F(ClientRecognition, AHangIsCutByTheTimeoutAndADeathByTheNextOpen) {
  std::string hang = root() + "/hang";
  t::make_stream_model(hang, "--set-meta decode_chunk_len=0");
  Recognizer recognizer(options(milliseconds(2000)));
  auto rec = recognizer.open("m", hang);
  ASSERT_TRUE(rec.ok()) << kinds(rec.error());
  auto fed = rec.value()->feed(floats(root() + "/lh.f32"));
  Result<std::string> done = fed.ok() ? rec.value()->finish() : Result<std::string>(fed.error());
  ASSERT_FALSE(done.ok());
  EXPECT_EQ(done.error().kind(), ErrorKind::kTimedOut) << done.error().message();

  std::string dies = root() + "/dies";
  t::make_stream_model(dies, "--omit-meta T");
  auto died = recognizer.open("m", dies);
  ASSERT_FALSE(died.ok());
  EXPECT_EQ(died.error().kind(), ErrorKind::kHelperExited) << died.error().message();
  // That helper died before it answered anything: the next start waits.
  auto held = recognizer.open("m", model());
  ASSERT_FALSE(held.ok());
  EXPECT_EQ(held.error().kind(), ErrorKind::kHelperUnavailable) << held.error().message();
  std::this_thread::sleep_for(milliseconds(300));
  auto again = recognizer.open("m", model());
  ASSERT_TRUE(again.ok()) << kinds(again.error());
  EXPECT_TRUE(again.value()->finish().ok());
}

}  // namespace
}  // namespace velmora_corvane
