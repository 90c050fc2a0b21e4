// The client library and corvane-say against the raw pipe drivers of this
// benchmark, each pair timed against its own helper process, interleaved
// repetition by repetition:
//   synthesis     Synthesizer::synthesize() vs one request frame written and
//                 its reply read (the Kokoro fixture with extra work, 1,000
//                 characters, so that synthesis dominates a round trip)
//   recognition   Recognizer::open() + feed() in 100 ms blocks + finish() vs
//                 StreamHelper::session() on the same audio
//   corvane-say   on 10,000 characters: its first audio byte against the
//                 first sentence alone through the raw driver; the whole run
//                 against one 10,000-character request; its own peak
//                 resident set (over its peak on one sentence) against the
//                 WAV of that one request.
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <string>
#include <vector>

#include "bench_config.h"
#include "helper_driver.h"
#include "velmora_corvane/recognizer.h"
#include "velmora_corvane/synthesizer.h"

namespace vct_bench {
namespace {

constexpr const char* kKokoroId = "kokoro-82m-v1.1-int8";

velmora_corvane::HelperOptions options(const Config& config) {
  velmora_corvane::HelperOptions o;
  o.helper_path = config.helper;
  return o;
}

// corvane-say run once on `text`: seconds to its first byte of audio on
// standard output, seconds to its end, and its peak resident set in bytes.
struct SayRun {
  double first = 0, whole = 0;
  double peak_bytes = 0;
};

SayRun run_say(const Config& config, const std::string& model_dir, const std::string& text) {
  const std::string say = config.helper.substr(0, config.helper.rfind('/') + 1) + "corvane-say";
  Clock::time_point start = Clock::now();
  Child child({say, "--model-dir", model_dir, "--helper", config.helper});
  child.write_all(text);
  child.close_input();
  SayRun run;
  char buffer[65536];
  bool first = true;
  long peak_kib = 0;
  for (ssize_t n; (n = read(child.output_fd(), buffer, sizeof buffer)) > 0;) {
    if (first) run.first = seconds_since(start);
    first = false;
    // The tool's own peak (its helper's is apart): the high-water mark only
    // grows, so the last reading before its output ends is the peak.
    peak_kib = std::max(peak_kib, proc_status_kib(child.pid(), "VmHWM"));
  }
  if (child.wait().status != 0) die("corvane-say failed");
  run.whole = seconds_since(start);
  run.peak_bytes = static_cast<double>(peak_kib) * 1024.0;
  return run;
}

}  // namespace

void run_client_bench(const Config& config, Table& table) {
  const std::string slow = config.data_dir + "/kokoro-slow";
  {
    const std::string text = english_text(1000);
    const std::string frame = synthesis_request_frame(kKokoroId, slow, text);
    Child raw({config.helper}, config.log_path);
    velmora_corvane::Synthesizer library(options(config));
    const velmora_corvane::SynthesisRequest request{kKokoroId, slow, 0, "en", 1.0f, text};
    std::string wav;
    synthesis_round_trip(raw, frame, wav);
    auto warm = library.synthesize(request);
    if (!warm.ok()) die("the library failed: " + warm.error().message());
    if (std::string(warm.value().wav().begin(), warm.value().wav().end()) != wav) {
      die("the library's WAV differs from the raw driver's");
    }
    std::string reply;
    std::vector<double> through_library, through_pipe, ratios;
    for (int r = 0; r < config.reps(30); ++r) {
      settle({raw.pid()});
      Clock::time_point start = Clock::now();
      auto speech = library.synthesize(request);
      through_library.push_back(seconds_since(start));
      if (!speech.ok()) die("the library failed: " + speech.error().message());
      settle({raw.pid()});
      through_pipe.push_back(synthesis_round_trip(raw, frame, reply));
      ratios.push_back(through_library.back() / through_pipe.back());
    }
    table.add({"6 Client library", "synthesis, 1000 chars (slow Kokoro): library / raw pipes",
               median(ratios), 1.01, true,
               format("library %s, raw %s (medians); %zu runs",
                      human_seconds(median(through_library)).c_str(),
                      human_seconds(median(through_pipe)).c_str(), ratios.size()),
               ""});
  }
  // The synthetic model decodes in next to no time, so its row is mostly
  // transport; the real model's (when it is beside the source tree) is what
  // an application sees.
  const std::string real =
      config.source_dir + "/../shared/realmodels/kws-zipformer-gigaspeech-3.3M-en";
  for (const auto& [label, model] :
       {std::pair<std::string, std::string>{"synthetic model", config.data_dir + "/stream-synthetic"},
        {"real model", real}}) {
    const std::string name = "recording (" + label + "): library / raw pipes";
    if (!file_exists(model + "/encoder.int8.onnx")) {
      table.add({"6 Client library", name, 0, 1.01, true, "",
                 "the real model is not beside the source tree (../shared/realmodels)"});
      continue;
    }
    std::vector<float> audio = load_f32(config.data_dir + "/speech.f32");
    StreamHelper raw(config, model);
    velmora_corvane::Recognizer library(options(config));
    auto record = [&] {
      Clock::time_point start = Clock::now();
      auto rec = library.open("stream", model);
      if (!rec.ok()) die("the library failed: " + rec.error().message());
      for (size_t at = 0; at < audio.size(); at += kBlock) {
        auto fed = rec.value()->feed(std::span<const float>(audio).subspan(
            at, std::min(kBlock, audio.size() - at)));
        if (!fed.ok()) die("the library failed: " + fed.error().message());
      }
      auto final_text = rec.value()->finish();
      if (!final_text.ok()) die("the library failed: " + final_text.error().message());
      return seconds_since(start);
    };
    std::string final_text;
    raw.session(audio, &final_text);
    record();
    std::vector<double> through_library, through_pipe, ratios;
    for (int r = 0; r < config.reps(20); ++r) {
      settle({raw.child().pid()});
      through_library.push_back(record());
      settle({raw.child().pid()});
      through_pipe.push_back(raw.session(audio, &final_text));
      ratios.push_back(through_library.back() / through_pipe.back());
    }
    table.add({"6 Client library", name, median(ratios), 1.01, true,
               format("library %s, raw %s (medians); %zu runs; the library waits for Opened "
                      "before it sends audio, the raw driver does not",
                      human_seconds(median(through_library)).c_str(),
                      human_seconds(median(through_pipe)).c_str(), ratios.size()),
               ""});
  }
  {
    // The slow fixture: as with a real model, synthesis, not the transport,
    // is what a sentence costs. The tool always starts a helper of its own,
    // so the raw figures include starting one too (a new process, the model
    // loaded, then the request).
    const std::string dir = slow;
    const std::string text = english_text(10000);
    const std::string first_sentence = text.substr(0, text.find(". ") + 1);
    auto fresh_round_trip = [&](const std::string& what, std::string& payload) {
      Clock::time_point start = Clock::now();
      Child raw({config.helper}, config.log_path);
      synthesis_round_trip(raw, synthesis_request_frame(kKokoroId, dir, what), payload);
      double s = seconds_since(start);
      raw.wait();
      return s;
    };
    std::string wav, sentence_wav;
    const double resting = run_say(config, dir, first_sentence).peak_bytes;
    std::vector<double> first_alone, whole_alone, say_first, say_whole, peaks;
    for (int r = 0; r < config.reps(5); ++r) {
      settle();
      first_alone.push_back(fresh_round_trip(first_sentence, sentence_wav));
      settle();
      whole_alone.push_back(fresh_round_trip(text, wav));
      settle();
      SayRun say = run_say(config, dir, text);
      say_first.push_back(say.first);
      say_whole.push_back(say.whole);
      peaks.push_back(say.peak_bytes);
    }
    table.add({"6 Client library",
               "corvane-say, 10000 chars (slow Kokoro): first audio / first sentence alone",
               median(say_first) / median(first_alone), 1.5, true,
               format("first audio %s, first sentence alone %s (both with a new helper)",
                      human_seconds(median(say_first)).c_str(),
                      human_seconds(median(first_alone)).c_str()),
               ""});
    table.add({"6 Client library", "corvane-say, 10000 chars (slow Kokoro): whole run / one request",
               median(say_whole) / median(whole_alone), 1.05, true,
               format("run %s, one request %s (both with a new helper); %zu runs",
                      human_seconds(median(say_whole)).c_str(),
                      human_seconds(median(whole_alone)).c_str(), say_whole.size()),
               ""});
    table.add({"6 Client library",
               "corvane-say, 10000 chars: (peak RSS - one-sentence peak) / one-request WAV",
               (median(peaks) - resting) / static_cast<double>(wav.size()), 0, false,
               format("tool peak %s, on one sentence %s, WAV of one request %s",
                      human_bytes(median(peaks)).c_str(), human_bytes(resting).c_str(),
                      human_bytes(static_cast<double>(wav.size())).c_str()),
               ""});
  }
}

}  // namespace vct_bench
