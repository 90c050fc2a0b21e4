// Streaming: a stream-mode session through the helper's pipes against the
// same work done in-process, with the runtime's C API directly and with its
// Node binding.
//
// A session is one recording: Open (recogniser already loaded), the audio
// in 100 ms Audio frames sent as fast as the helper takes them, Finish, and
// the Final reply read back. The bare session (the plain program, timed inside
// that process) makes the calls the helper makes on the same model, audio
// and blocks. Sessions of the three kinds are interleaved.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bare_runner.h"
#include "bench_config.h"
#include "helper_driver.h"
#include "stream/recognizer.h"

namespace vct_bench {
namespace {

// The Node binding in its own process, one session per request line.
class NodeRecognizer {
 public:
  NodeRecognizer(const Config& config, const std::string& model_dir, const std::string& audio,
                 int32_t threads)
      : child_({config.node, config.source_dir + "/bench/node/recognize.js", model_dir, audio,
                std::to_string(threads)},
               config.log_path) {
    std::string first = read_line();
    if (first != "ready") unavailable_ = first.empty() ? "node ended without a word" : first;
  }

  const std::string& unavailable() const { return unavailable_; }
  pid_t pid() const { return child_.pid(); }

  double session(std::string* final_text) {
    child_.write_all("\n");
    std::string line = read_line();
    size_t space = line.find(' ');
    if (space == std::string::npos) die("unexpected answer from node: " + line);
    if (final_text != nullptr) *final_text = line.substr(space + 1);
    return std::strtod(line.c_str(), nullptr);
  }

 private:
  std::string read_line() {
    std::string line;
    char c;
    for (;;) {
      ssize_t n = ::read(child_.output_fd(), &c, 1);
      if (n <= 0 || c == '\n') return line;
      line += c;
    }
  }

  Child child_;
  std::string unavailable_;
};

struct StreamModel {
  std::string label;
  std::string dir;
  std::string audio;  // raw float32 at 16 kHz
  int full_reps;
};

void bench_model(const Config& config, const StreamModel& model, int32_t threads, Table& table) {
  const std::string section = "2 Streaming";
  const std::vector<float> audio = load_f32(model.audio);
  const double audio_seconds = static_cast<double>(audio.size()) / 16000.0;

  BareRecognition bare(config, model.dir, model.audio);
  StreamHelper helper(config, model.dir);
  std::unique_ptr<NodeRecognizer> node;
  std::string node_skip;
  if (config.node.empty()) {
    node_skip = "no node executable";
  } else if (!file_exists(config.source_dir + "/bench/node/node_modules/sherpa-onnx-node")) {
    node_skip = "sherpa-onnx-node is not installed in bench/node (npm ci there)";
  } else {
    node = std::make_unique<NodeRecognizer>(config, model.dir, model.audio, threads);
    if (!node->unavailable().empty()) {
      node_skip = node->unavailable();
      node.reset();
    }
  }

  // Warm-up: loads the helper's recogniser, and checks that all three agree.
  const BareRecognition::Session warm = bare.run(true);
  const std::string& bare_final = warm.final_text;
  const std::vector<std::string>& texts = warm.texts;
  std::string helper_final, node_final;
  helper.session(audio, &helper_final);
  if (helper_final != bare_final) {
    die(model.label + ": the helper's final transcript \"" + helper_final +
        "\" differs from the bare one \"" + bare_final + "\"");
  }
  if (node) {
    node->session(&node_final);
    if (node_final != bare_final) {
      die(model.label + ": the Node transcript \"" + node_final + "\" differs from \"" +
          bare_final + "\"");
    }
  }

  // The transport floor: the same frames in and, after each, the same reply
  // bytes out, recorded from the helper, with nothing done in between.
  std::string script_name = model.label;
  std::replace(script_name.begin(), script_name.end(), ' ', '-');
  const std::string script_path = config.data_dir + "/stream-floor-" + script_name + ".bin";
  write_file(script_path, helper.reply_script(audio));
  StreamHelper floor(config, {config.self, "--serve", "floor", "stream", script_path},
                     model.dir);
  floor.session(audio, nullptr);

  const std::initializer_list<pid_t> children = {helper.child().pid(), node ? node->pid() : 0,
                                                 bare.pid(), floor.child().pid()};
  std::vector<double> bare_times, helper_times, node_times, floor_times;
  std::vector<std::vector<double>> blocks;  // per repetition, per block
  const int reps = config.reps(model.full_reps);
  for (int r = 0; r < reps; ++r) {
    settle(children);
    BareRecognition::Session session = bare.run(true);
    bare_times.push_back(session.seconds);
    blocks.push_back(std::move(session.block_seconds));
    settle(children);
    helper_times.push_back(helper.session(audio, nullptr));
    settle(children);
    floor_times.push_back(floor.session(audio, nullptr));
    if (node) {
      settle(children);
      node_times.push_back(node->session(nullptr));
    }
  }

  // Sessions of one repetition run back to back: the figure is the median of
  // their paired ratios, minimums are shown beside it.
  auto paired = [&](const std::vector<double>& other) {
    std::vector<double> ratios;
    for (size_t r = 0; r < other.size(); ++r) ratios.push_back(helper_times[r] / other[r]);
    return median(ratios);
  };
  const double b = minimum(bare_times);
  const double h = minimum(helper_times);
  table.add({section, model.label + ": session / bare C API", paired(bare_times), 1.02, true,
             format("helper %s, bare %s (minimums; medians %s, %s); %.1f s of audio, %d runs",
                    human_seconds(h).c_str(), human_seconds(b).c_str(),
                    human_seconds(median(helper_times)).c_str(),
                    human_seconds(median(bare_times)).c_str(), audio_seconds, reps),
             ""});

  // What the helper adds beyond moving its frames and replies: each
  // repetition's (session - floor) / bare, their median.
  std::vector<double> net;
  for (size_t r = 0; r < bare_times.size(); ++r) {
    net.push_back((helper_times[r] - floor_times[r]) / bare_times[r]);
  }
  table.add({section, model.label + ": (session - floor) / bare C API", median(net), 1.02, false,
             format("floor %s (minimum; median %s): the same frames and reply bytes through a "
                    "process that only moves them",
                    human_seconds(minimum(floor_times)).c_str(),
                    human_seconds(median(floor_times)).c_str()),
             ""});

  // Partial latency: lock-step sessions, each Partial's time against the
  // same block's time in the bare sessions (their minimum).
  std::vector<bool> changes(texts.size());
  for (size_t k = 0; k < texts.size(); ++k) {
    changes[k] = texts[k] != (k == 0 ? std::string() : texts[k - 1]);
  }
  std::vector<double> block_min(texts.size(), 1e9);
  for (const auto& per_block : blocks) {
    for (size_t k = 0; k < per_block.size(); ++k) block_min[k] = std::min(block_min[k], per_block[k]);
  }
  std::vector<double> added, ratio;
  const int lock_reps = std::max(2, config.reps(3));
  for (int r = 0; r < lock_reps; ++r) {
    settle(children);
    std::vector<double> latencies = helper.partial_latencies(audio, changes);
    for (size_t k = 0; k < latencies.size(); ++k) {
      if (latencies[k] < 0) continue;
      added.push_back(latencies[k] - block_min[k]);
      ratio.push_back(latencies[k] / block_min[k]);
    }
  }
  if (!added.empty()) {
    std::string partials = format("%zu Partials", added.size());
    table.add({section, model.label + ": Partial latency / decode, median", median(ratio), 0,
               false,
               format("adds %s over the block's accept+decode+result (%s)",
                      human_seconds(median(added)).c_str(), partials.c_str()),
               ""});
    table.add({section, model.label + ": Partial latency / decode, p99", percentile(ratio, 99),
               0, false,
               format("adds %s (p99 of %s)", human_seconds(percentile(added, 99)).c_str(),
                      partials.c_str()),
               ""});
  }

  const std::string node_section = "3 Node binding";
  const std::string node_name = model.label + ": session / sherpa-onnx-node 1.13.8";
  if (node) {
    const double n = minimum(node_times);
    table.add({node_section, node_name, paired(node_times), 1.0, true,
               format("helper %s, node %s (minimums; medians %s, %s)", human_seconds(h).c_str(),
                      human_seconds(n).c_str(), human_seconds(median(helper_times)).c_str(),
                      human_seconds(median(node_times)).c_str()),
               ""});
  } else {
    table.add({node_section, node_name, 0, 1.0, true, "", node_skip});
  }
}

}  // namespace

void run_stream_bench(const Config& config, Table& table) {
  const int32_t threads = velmora_corvane_tts::recognizer_threads();
  const std::string real = config.source_dir + "/../shared/realmodels/kws-zipformer-gigaspeech-3.3M-en";
  if (file_exists(real + "/encoder.int8.onnx")) {
    bench_model(config, {"Real model", real, config.data_dir + "/speech.f32", 11}, threads, table);
  } else {
    table.add({"2 Streaming", "Real model: session / bare C API", 0, 1.02, true, "",
               "the real model is not beside the source tree (../shared/realmodels)"});
  }
  bench_model(config,
              {"Synthetic model", config.data_dir + "/stream-synthetic",
               config.data_dir + "/speech.f32", 15},
              threads, table);
}

}  // namespace vct_bench
