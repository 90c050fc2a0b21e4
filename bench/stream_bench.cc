// Streaming: a stream-mode session through the helper's pipes against the
// same work done in-process, with the runtime's C API directly and with its
// Node binding.
//
// A session is one recording: Open (recogniser already loaded), the audio
// in 100 ms Audio frames sent as fast as the helper takes them, Finish, and
// the Final reply read back. The bare session makes the calls the helper
// makes on the same model, audio and blocks: create a stream, for every
// block accept it, decode while ready, fetch the result JSON and parse it,
// then 0.8 s of zeros, input finished, a last decode and result, and destroy
// the stream. Sessions of the three kinds are interleaved.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_config.h"
#include "bench_text.h"
#include "stream_driver.h"
#include "rapidjson/document.h"
#include "runtime/sherpa_abi.h"
#include "stream/recognizer.h"

namespace vct_bench {
namespace {

std::string trim_ascii(const char* text) {
  std::string s = text;
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// The runtime's C API used directly, in this process.
class BareRecognizer {
 public:
  BareRecognizer(const std::string& dir, int32_t threads) {
    encoder_ = dir + "/encoder.int8.onnx";
    decoder_ = dir + "/decoder.int8.onnx";
    joiner_ = dir + "/joiner.int8.onnx";
    tokens_ = dir + "/tokens.txt";
    SherpaOnnxOnlineRecognizerConfig config;
    std::memset(&config, 0, sizeof config);
    config.feat_config.sample_rate = 16000;
    config.feat_config.feature_dim = 80;
    config.model_config.transducer.encoder = encoder_.c_str();
    config.model_config.transducer.decoder = decoder_.c_str();
    config.model_config.transducer.joiner = joiner_.c_str();
    config.model_config.tokens = tokens_.c_str();
    config.model_config.num_threads = threads;
    config.model_config.provider = "cpu";
    config.decoding_method = "greedy_search";
    config.ctc_fst_decoder_config.max_active = 4;
    recognizer_ = SherpaOnnxCreateOnlineRecognizer(&config);
    if (recognizer_ == nullptr) die("the runtime could not load " + dir);
  }
  ~BareRecognizer() { SherpaOnnxDestroyOnlineRecognizer(recognizer_); }
  BareRecognizer(const BareRecognizer&) = delete;
  BareRecognizer& operator=(const BareRecognizer&) = delete;

  // One recording. `per_block` receives the time of every block (accept,
  // decode, result) and `texts` the transcript after it, when given.
  double session(const std::vector<float>& audio, std::vector<double>* per_block,
                 std::vector<std::string>* texts, std::string* final_text) {
    static const std::vector<float> zeros(kTrailingZeros, 0.0f);
    Clock::time_point start = Clock::now();
    const SherpaOnnxOnlineStream* stream = SherpaOnnxCreateOnlineStream(recognizer_);
    std::string last;
    for (size_t at = 0; at < audio.size(); at += kBlock) {
      Clock::time_point block_start = Clock::now();
      size_t n = std::min(kBlock, audio.size() - at);
      SherpaOnnxOnlineStreamAcceptWaveform(stream, 16000, audio.data() + at,
                                           static_cast<int32_t>(n));
      std::string text = decode(stream);
      if (text != last) last = std::move(text);
      if (per_block != nullptr) per_block->push_back(seconds_since(block_start));
      if (texts != nullptr) texts->push_back(last);
    }
    SherpaOnnxOnlineStreamAcceptWaveform(stream, 16000, zeros.data(),
                                         static_cast<int32_t>(zeros.size()));
    SherpaOnnxOnlineStreamInputFinished(stream);
    std::string text = decode(stream);
    SherpaOnnxDestroyOnlineStream(stream);
    double seconds = seconds_since(start);
    if (final_text != nullptr) *final_text = text;
    return seconds;
  }

 private:
  std::string decode(const SherpaOnnxOnlineStream* stream) {
    while (SherpaOnnxIsOnlineStreamReady(recognizer_, stream) != 0) {
      SherpaOnnxDecodeOnlineStream(recognizer_, stream);
    }
    const char* json = SherpaOnnxGetOnlineStreamResultAsJson(recognizer_, stream);
    std::string text;
    if (json != nullptr) {
      rapidjson::Document doc;
      doc.Parse(json);
      if (!doc.HasParseError() && doc.IsObject() && doc.HasMember("text") &&
          doc["text"].IsString()) {
        text = trim_ascii(doc["text"].GetString());
      }
      SherpaOnnxDestroyOnlineStreamResultJson(json);
    }
    return text;
  }

  std::string encoder_, decoder_, joiner_, tokens_;
  const SherpaOnnxOnlineRecognizer* recognizer_ = nullptr;
};

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

  BareRecognizer bare(model.dir, threads);
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
  std::vector<double> bare_blocks;
  std::vector<std::string> texts;
  std::string bare_final, helper_final, node_final;
  bare.session(audio, nullptr, &texts, &bare_final);
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

  const pid_t helper_pid = helper.child().pid();
  const pid_t node_pid = node ? node->pid() : 0;
  std::vector<double> bare_times, helper_times, node_times;
  std::vector<std::vector<double>> blocks;  // per repetition, per block
  const int reps = config.reps(model.full_reps);
  for (int r = 0; r < reps; ++r) {
    settle({helper_pid, node_pid});
    std::vector<double> per_block;
    bare_times.push_back(bare.session(audio, &per_block, nullptr, nullptr));
    blocks.push_back(std::move(per_block));
    settle({helper_pid, node_pid});
    helper_times.push_back(helper.session(audio, nullptr));
    if (node) {
      settle({helper_pid, node_pid});
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
    settle({helper_pid, node_pid});
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
    bench_model(config, {"Real model", real, config.data_dir + "/speech.f32", 7}, threads, table);
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
