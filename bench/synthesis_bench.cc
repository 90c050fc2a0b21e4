// Synthesis: what a request through the helper's pipes costs on top of the
// runtime's own generate call plus WAV encoding in the caller's process.
//
// For each model and text length three things are timed, interleaved
// repetition by repetition so that drift hits all three alike:
//   bare        generate + f32_mono_wave in vct-bench-bare, on an engine made
//               with the helper's own configuration (same text, same values),
//               timed inside that process
//   round trip  request frame written to the helper's input until the last
//               reply byte is read back, its engine already loaded
//   floor       the same request bytes and a reply of the same size through
//               a process that does nothing but move them
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bare_client.h"
#include "bench_config.h"
#include "bench_text.h"
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

// One reply read off the helper's output into a reused buffer.
struct ReplyReader {
  std::vector<uint8_t> payload;
  uint8_t status = 0;
  uint32_t size = 0;

  void read(Child& child) {
    uint8_t header[5];
    child.read_exact(header, sizeof header);
    status = header[0];
    size = get_le32(header + 1);
    if (payload.size() < size) payload.resize(size);
    child.read_exact(payload.data(), size);
  }
};

double round_trip(Child& child, const std::string& frame, ReplyReader& reply) {
  Clock::time_point start = Clock::now();
  child.write_all(frame);
  reply.read(child);
  return seconds_since(start);
}

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
    BareSynthesis bare_runner(config, model.model_id, model.dir);
    Child helper({config.helper}, config.log_path);
    ReplyReader reply;

    for (auto [chars, full_reps] : lengths) {
      const std::string text = english_text(chars);
      const std::string frame = synthesis_request_frame(model.model_id, model.dir, text);

      // Warm-up: loads the helper's engine on the first length, and shows
      // that both sides produce the same file.
      round_trip(helper, frame, reply);
      if (reply.status != 0) {
        die("the helper refused a benchmark request: " +
            std::string(reply.payload.begin(), reply.payload.begin() + reply.size));
      }
      std::string expected;
      bare_runner.run(text, &expected);
      if (expected.size() != reply.size ||
          std::memcmp(expected.data(), reply.payload.data(), reply.size) != 0) {
        die("the helper's WAV differs from the bare one for " + model.label);
      }

      Child floor({config.floor, std::to_string(reply.size)}, config.log_path);
      round_trip(floor, frame, reply);

      std::vector<double> bare, trip, moved;
      const int reps = config.reps(model.slow && chars == 1000 ? full_reps / 5 : full_reps);
      const std::initializer_list<pid_t> children = {helper.pid(), floor.pid(),
                                                     bare_runner.pid()};
      for (int r = 0; r < reps; ++r) {
        settle(children);
        bare.push_back(bare_runner.run(text));
        settle(children);
        trip.push_back(round_trip(helper, frame, reply));
        settle(children);
        moved.push_back(round_trip(floor, frame, reply));
      }
      floor.wait();

      // Each repetition times the three back to back, so their ratios share
      // whatever else the machine was doing at that moment; the figure is
      // the median of those paired ratios. Minimums are shown beside it.
      std::vector<double> raw_ratios, net_ratios;
      for (size_t r = 0; r < bare.size(); ++r) {
        raw_ratios.push_back(trip[r] / bare[r]);
        net_ratios.push_back((trip[r] - moved[r]) / bare[r]);
      }
      const double b = minimum(bare);
      const double t = minimum(trip);
      const double f = minimum(moved);
      std::string figures =
          format("round trip %s, bare %s, floor %s (minimums; medians %s, %s, %s); WAV %s; "
                 "%d runs",
                 human_seconds(t).c_str(), human_seconds(b).c_str(), human_seconds(f).c_str(),
                 human_seconds(median(trip)).c_str(), human_seconds(median(bare)).c_str(),
                 human_seconds(median(moved)).c_str(), human_bytes(reply.size).c_str(), reps);
      if (model.slow && chars == 1000 && b < 0.050) figures += "; synthesis took under 50 ms on this run";
      const std::string at = format("%zu chars", chars);
      // The slow variant's target is on the whole round trip; the others'
      // on what the helper adds beyond moving the bytes.
      table.add({"1 Synthesis", model.label + ", " + at + ": round trip / bare",
                 median(raw_ratios), 1.02, model.slow && chars == 1000, figures, ""});
      table.add({"1 Synthesis", model.label + ", " + at + ": (round trip - floor) / bare",
                 median(net_ratios), 1.02, !model.slow && chars == 1000, "", ""});
    }
    helper.wait();
    bare_runner.wait();
  }
}

}  // namespace vct_bench
