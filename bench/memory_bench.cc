// Memory:
//   - peak resident set of the helper for one 10,000-character synthesis
//     request (engine load included) against the runtime's own peak for the
//     same load and generate call in a bare program, plus the one WAV file
//     the helper has to hold;
//   - resident set of the helper across one long stream-mode recording, at
//     its start, middle and end.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_config.h"
#include "helper_driver.h"
#include "tts/corvane_tts_protocol.h"

namespace vct_bench {
namespace vct = velmora_corvane_tts;
namespace {

void synthesis_peak(const Config& config, Table& table, const std::string& label,
                    const std::string& model_id, const std::string& dir) {
  const std::string text = english_text(10000);
  const std::string text_path = config.data_dir + "/text-10000.txt";
  write_file(text_path, text);
  const std::string frame = synthesis_request_frame(model_id, dir, text);

  std::vector<double> helper_peaks, bare_peaks;
  uint32_t wav_bytes = 0;
  const int reps = std::max(2, config.reps(3));
  for (int r = 0; r < reps; ++r) {
    {
      Child helper({config.helper}, config.log_path);
      std::string wav;
      synthesis_round_trip(helper, frame, wav);
      wav_bytes = static_cast<uint32_t>(wav.size());
      // Read while the helper waits for its next request. The exit status's
      // figure would also count the benchmark's own memory, which the child
      // held between fork and exec.
      helper_peaks.push_back(static_cast<double>(helper.peak_rss_kib()) * 1024.0);
      helper.wait();
    }
    {
      Child bare({config.self, "--serve", "bare", "generate", model_id, dir, text_path},
                 config.log_path);
      std::string line;
      char c;
      while (::read(bare.output_fd(), &c, 1) == 1 && c != '\n') line += c;
      if (bare.wait().status != 0 || line.empty()) die("the plain generate failed for " + label);
      bare_peaks.push_back(std::strtod(line.c_str(), nullptr) * 1024.0);
    }
  }
  const double helper_peak = minimum(helper_peaks);
  const double bare_peak = minimum(bare_peaks);
  const double budget = bare_peak + wav_bytes;
  table.add({"5 Memory", label + ", 10,000 chars: helper peak / (runtime peak + WAV)",
             helper_peak / budget, 1.0, true,
             format("helper %s, runtime alone %s, WAV %s (%s over the runtime)",
                    human_bytes(helper_peak).c_str(), human_bytes(bare_peak).c_str(),
                    human_bytes(wav_bytes).c_str(),
                    human_bytes(helper_peak - bare_peak).c_str()),
             ""});
}

// Keeps reading replies while the frames of a long recording go in, and
// wakes the writer when the helper answers a barrier.
void long_stream(const Config& config, Table& table, const std::string& label,
                 const std::string& model_dir, const std::vector<float>& clip, int minutes) {
  StreamHelper helper(config, model_dir);
  const uint64_t id = helper.next_id();
  const size_t total_blocks = static_cast<size_t>(minutes) * 600;
  const std::vector<size_t> marks = {total_blocks / 10, total_blocks / 2, total_blocks};

  helper.child().write_all(stream_frame(kOpen, id, helper.open_payload()));
  if (read_reply(helper.child()).tag != kOpened) die("the helper did not open a stream");

  // A barrier is sent at each mark; the reader counts their answers.
  std::mutex mutex;
  std::condition_variable answered;
  size_t barriers_answered = 0;
  bool final_seen = false;
  std::thread reader([&] {
    for (;;) {
      Reply r = read_reply(helper.child());
      std::lock_guard<std::mutex> lock(mutex);
      if (r.tag == kError) ++barriers_answered;
      if (r.tag == kFinal) final_seen = true;
      if (r.tag == kError || r.tag == kFinal) answered.notify_all();
      if (final_seen) return;
    }
  });

  std::vector<long> rss;
  size_t sent = 0;
  size_t at = 0;
  Clock::time_point start = Clock::now();
  for (size_t mark : marks) {
    std::string frames;
    for (; sent < mark; ++sent) {
      frames += audio_frame(id, clip, at);
      at += kBlock;
      if (at >= clip.size()) at = 0;
      if (frames.size() > (1u << 20)) {
        helper.child().write_all(frames);
        frames.clear();
      }
    }
    frames += stream_frame(kBarrier, id, "");
    helper.child().write_all(frames);
    std::unique_lock<std::mutex> lock(mutex);
    answered.wait(lock, [&] { return barriers_answered == rss.size() + 1; });
    rss.push_back(helper.child().rss_kib());
  }
  helper.child().write_all(stream_frame(kFinish, id, ""));
  {
    std::unique_lock<std::mutex> lock(mutex);
    answered.wait(lock, [&] { return final_seen; });
  }
  reader.join();
  const double seconds = seconds_since(start);

  auto mib = [](long kib) { return static_cast<double>(kib) / 1024.0; };
  table.add({"5 Memory",
             format("%s, %d min recording: RSS end / start", label.c_str(), minutes),
             static_cast<double>(rss[2]) / static_cast<double>(rss[0]), 1.02, true,
             format("RSS at %d s %.1f MiB, at %d s %.1f MiB, at %d s %.1f MiB; session took %s",
                    static_cast<int>(marks[0] / 10), mib(rss[0]), static_cast<int>(marks[1] / 10),
                    mib(rss[1]), static_cast<int>(marks[2] / 10), mib(rss[2]),
                    human_seconds(seconds).c_str()),
             ""});
}

}  // namespace

void run_memory_bench(const Config& config, Table& table) {
  synthesis_peak(config, table, "Kokoro", std::string(vct::kKokoroModelId),
                 config.data_dir + "/kokoro");
  synthesis_peak(config, table, "Supertonic", std::string(vct::kSupertonicModelId),
                 config.data_dir + "/supertonic");
  const std::vector<float> clip = load_f32(config.data_dir + "/speech.f32");
  long_stream(config, table, "Synthetic model", config.data_dir + "/stream-synthetic", clip, 4);
}

}  // namespace vct_bench
