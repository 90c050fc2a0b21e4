// Synthesis: what a request through the helper's pipes costs on top of the
// runtime's own generate call plus WAV encoding in the caller's process.
//
// For each model and text length three things are timed, interleaved
// repetition by repetition so that drift hits all three alike:
//   bare        generate + f32_mono_wave in this process, on an engine made
//               with the helper's own configuration (same text, same values)
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

#include "bench_config.h"
#include "bench_text.h"
#include "tts/engine_catalogue.h"
#include "tts/synthesis.h"
#include "tts/wave_encoding.h"

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

std::string synthesis_request_frame(const std::string& model_id, const std::string& dir,
                                    const std::string& text) {
  std::string body = "{\"model_id\":" + json_string(model_id) + ",\"model_dir\":" +
                     json_string(dir) + ",\"sid\":0,\"language\":\"en\",\"speed\":1.0,\"text\":" +
                     json_string(text) + "}";
  std::string frame;
  put_le32(frame, static_cast<uint32_t>(body.size()));
  return frame + body;
}

void run_synthesis_bench(const Config& config, Table& table) {
  const std::vector<Model> models = {
      {"Kokoro", std::string(vct::kKokoroModelId), config.data_dir + "/kokoro", false},
      {"Supertonic", std::string(vct::kSupertonicModelId), config.data_dir + "/supertonic", false},
      {"Supertonic, >= 50 ms", std::string(vct::kSupertonicModelId),
       config.data_dir + "/supertonic-slow", true},
  };
  const std::vector<std::pair<size_t, int>> lengths = {{10, 40}, {1000, 15}, {10000, 5}};

  for (const Model& model : models) {
    auto engine = vct::create_engine(model.model_id, model.dir);
    if (!engine.ok()) die(engine.error().message());
    Child helper({config.helper}, config.log_path);
    ReplyReader reply;

    for (auto [chars, full_reps] : lengths) {
      const std::string text = english_text(chars);
      vct::LocalTtsRequest request;
      request.model_id = model.model_id;
      request.model_dir = model.dir;
      request.language = "en";
      request.text = text;
      const std::string frame = synthesis_request_frame(model.model_id, model.dir, text);

      // Warm-up: loads the helper's engine on the first length, and shows
      // that both sides produce the same file.
      round_trip(helper, frame, reply);
      if (reply.status != 0) {
        die("the helper refused a benchmark request: " +
            std::string(reply.payload.begin(), reply.payload.begin() + reply.size));
      }
      vct::WavBytes expected;
      {
        auto audio = engine.value().generate(vct::runtime_text(text),
                                             vct::generation_settings(request));
        if (!audio.ok()) die(audio.error().message());
        auto wav = vct::f32_mono_wave(
            {audio.value().samples(), static_cast<size_t>(audio.value().sample_count())},
            static_cast<uint32_t>(audio.value().sample_rate()));
        if (!wav.ok()) die(wav.error().message());
        expected = std::move(wav).value();
      }
      if (expected.size() != reply.size ||
          std::memcmp(expected.data(), reply.payload.data(), reply.size) != 0) {
        die("the helper's WAV differs from the bare one for " + model.label);
      }
      expected = vct::WavBytes();

      Child floor({config.floor, std::to_string(reply.size)}, config.log_path);
      round_trip(floor, frame, reply);

      std::vector<double> bare, trip, moved;
      const int reps = config.reps(full_reps);
      for (int r = 0; r < reps; ++r) {
        settle();
        {
          Clock::time_point start = Clock::now();
          auto audio = engine.value().generate(vct::runtime_text(text),
                                               vct::generation_settings(request));
          auto wav = vct::f32_mono_wave(
              {audio.value().samples(), static_cast<size_t>(audio.value().sample_count())},
              static_cast<uint32_t>(audio.value().sample_rate()));
          bare.push_back(seconds_since(start));
        }
        settle();
        trip.push_back(round_trip(helper, frame, reply));
        settle();
        moved.push_back(round_trip(floor, frame, reply));
      }
      floor.wait();

      const double b = median(bare);
      const double t = median(trip);
      const double f = median(moved);
      const std::string figures =
          format("round trip %s, bare %s, floor %s; WAV %s; %d runs, medians",
                 human_seconds(t).c_str(), human_seconds(b).c_str(), human_seconds(f).c_str(),
                 human_bytes(reply.size).c_str(), reps);
      const std::string at = format("%zu chars", chars);
      Row raw{"1 Synthesis", model.label + ", " + at + ": round trip / bare", t / b, 1.02,
              model.slow && chars == 1000, figures, ""};
      table.add(raw);
      Row net{"1 Synthesis", model.label + ", " + at + ": (round trip - floor) / bare",
              (t - f) / b, 1.02, !model.slow && chars == 1000, figures, ""};
      table.add(net);
    }
    helper.wait();
  }
}

}  // namespace vct_bench
