// Synthesis: what a request through the helper's pipes costs on top of the
// runtime's own generate call plus WAV encoding in a plain program, in time
// and in memory.
//
// For each model and text length four things are timed, interleaved
// repetition by repetition so that drift hits all of them alike:
//   plain, glibc defaults   generate + f32_mono_wave in the plain program with
//                           the allocator as the C library starts it
//   plain, reuse            the same with the setting a user tunes for
//                           repeated calls (mmap threshold 32 MiB, trim
//                           threshold 64 MiB)
//   round trip              request frame written to the helper's input
//                           until the last reply byte is read back, its
//                           engine already loaded
//   floor                   the same request bytes and a reply of the same
//                           size through a process that does nothing but
//                           move them
// The plain programs load the engine with the helper's configuration and
// time the calls inside themselves; they use nothing of the helper's own
// allocator handling.
//
// Memory is each process's peak resident set while it serves the length
// (its first request at that length included), less its resident set with
// the engine loaded after one short request.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bare_runner.h"
#include "bench_config.h"
#include "helper_driver.h"
#include "tts/corvane_tts_protocol.h"

namespace vct_bench {
namespace vct = velmora_corvane_tts;
namespace {

struct Model {
  std::string label;  // shown in the table
  std::string model_id;
  std::string dir;
  bool slow = false;  // the variant whose synthesis takes at least 50 ms
};

}  // namespace

void run_synthesis_bench(const Config& config, Table& table) {
  const std::vector<Model> models = {
      {"Kokoro", std::string(vct::kKokoroModelId), config.data_dir + "/kokoro", false},
      {"Supertonic", std::string(vct::kSupertonicModelId), config.data_dir + "/supertonic", false},
      {"Kokoro slow", std::string(vct::kKokoroModelId), config.data_dir + "/kokoro-slow", true},
  };
  // Repetitions per length; the slow fixture takes a fifth as many at 1,000
  // characters, where each of its calls is over ten times longer.
  const std::vector<std::pair<size_t, int>> lengths = {{10, 60}, {1000, 100}, {10000, 4}};

  for (const Model& model : models) {
    BareSynthesis plain(config, model.model_id, model.dir, "default");
    BareSynthesis tuned(config, model.model_id, model.dir, "reuse");
    Child helper({config.helper}, config.log_path);
    std::string reply;
    const std::string first = english_text(10);
    synthesis_round_trip(helper, synthesis_request_frame(model.model_id, model.dir, first), reply);
    plain.run(first);
    tuned.run(first);
    settle({helper.pid(), plain.pid(), tuned.pid()});
    // Resident sets with the engine loaded, what each peak is counted from.
    const long rest_helper = helper.rss_kib();
    const long rest_plain = proc_status_kib(plain.pid(), "VmRSS");
    const long rest_tuned = proc_status_kib(tuned.pid(), "VmRSS");

    for (auto [chars, full_reps] : lengths) {
      const std::string text = english_text(chars);
      const std::string frame = synthesis_request_frame(model.model_id, model.dir, text);
      for (pid_t pid : {helper.pid(), plain.pid(), tuned.pid()}) reset_peak_rss(pid);

      // Warm-up, twice, which shows that all three produce the same file.
      // Each side's first two requests at a new length settle how its
      // allocator lays the buffers out (the helper serves its first long
      // text from fresh mappings and keeps memory from the second on; glibc
      // raises its own thresholds as large blocks are freed); the timed
      // repetitions see each side as it serves a recurring text.
      for (int warm = 0; warm < 2; ++warm) {
        synthesis_round_trip(helper, frame, reply);
        for (BareSynthesis* bare : {&plain, &tuned}) {
          std::string expected;
          bare->run(text, &expected);
          if (expected != reply) {
            die("the helper's WAV differs from the plain program's for " + model.label);
          }
        }
      }

      Child floor({config.self, "--serve", "floor", "tts", std::to_string(reply.size())},
                  config.log_path);
      synthesis_round_trip(floor, frame, reply);

      std::vector<double> by_default, by_reuse, trip, moved;
      const int reps = config.reps(model.slow && chars == 1000 ? full_reps / 5 : full_reps);
      const std::initializer_list<pid_t> children = {helper.pid(), floor.pid(), plain.pid(),
                                                     tuned.pid()};
      for (int r = 0; r < reps; ++r) {
        settle(children);
        by_default.push_back(plain.run(text));
        settle(children);
        by_reuse.push_back(tuned.run(text));
        settle(children);
        trip.push_back(synthesis_round_trip(helper, frame, reply));
        settle(children);
        moved.push_back(synthesis_round_trip(floor, frame, reply));
      }
      floor.wait();

      // The faster plain program by its median is the one to beat. Each
      // repetition times all sides back to back, so their ratios share
      // whatever else the machine was doing at that moment; the figure is
      // the median of those paired ratios. Minimums are shown beside it.
      const bool reuse_faster = median(by_reuse) < median(by_default);
      const std::vector<double>& bare = reuse_faster ? by_reuse : by_default;
      std::vector<double> raw_ratios, net_ratios;
      for (size_t r = 0; r < bare.size(); ++r) {
        raw_ratios.push_back(trip[r] / bare[r]);
        net_ratios.push_back((trip[r] - moved[r]) / bare[r]);
      }
      const double b = minimum(bare);
      std::string figures = format(
          "round trip %s, plain defaults %s, plain reuse %s, floor %s (minimums; medians %s, "
          "%s, %s, %s); WAV %s; %d runs",
          human_seconds(minimum(trip)).c_str(), human_seconds(minimum(by_default)).c_str(),
          human_seconds(minimum(by_reuse)).c_str(), human_seconds(minimum(moved)).c_str(),
          human_seconds(median(trip)).c_str(), human_seconds(median(by_default)).c_str(),
          human_seconds(median(by_reuse)).c_str(), human_seconds(median(moved)).c_str(),
          human_bytes(static_cast<double>(reply.size())).c_str(), reps);
      if (model.slow && chars == 1000 && b < 0.050) figures += "; synthesis took under 50 ms on this run";
      const std::string at = format("%zu chars", chars);
      const char* faster = reuse_faster ? "plain reuse" : "plain defaults";
      // The slow variant's target is on the whole round trip; the others'
      // on what the helper adds beyond moving the bytes.
      if (model.slow) {
        table.add({"1 Synthesis", model.label + ", " + at + ": round trip / " + faster,
                   median(raw_ratios), 1.02, chars == 1000, figures, ""});
      }
      table.add({"1 Synthesis", model.label + ", " + at + ": (round trip - floor) / " + faster,
                 median(net_ratios), 1.02, !model.slow && chars != 10,
                 model.slow ? "" : figures, ""});

      // Peaks, in bytes over each process's resting set.
      const double kib = 1024.0;
      const double p_helper = static_cast<double>(helper.peak_rss_kib() - rest_helper) * kib;
      const double p_plain =
          static_cast<double>(proc_status_kib(plain.pid(), "VmHWM") - rest_plain) * kib;
      const double p_tuned =
          static_cast<double>(proc_status_kib(tuned.pid(), "VmHWM") - rest_tuned) * kib;
      const double leaner = std::min(p_plain, p_tuned);
      table.add({"1 Synthesis",
                 model.label + ", " + at + ": peak / (leaner plain peak + WAV)",
                 p_helper / (leaner + static_cast<double>(reply.size())), 1.0, !model.slow && chars == 10000,
                 format("peak over resting: helper %s, plain defaults %s, plain reuse %s",
                        human_bytes(p_helper).c_str(), human_bytes(p_plain).c_str(),
                        human_bytes(p_tuned).c_str()),
                 ""});
    }
    helper.wait();
    plain.wait();
    tuned.wait();
  }
}

}  // namespace vct_bench
