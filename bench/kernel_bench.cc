// Kernels, in this process:
//   - WAV encoding (f32_mono_wave, allocation included) against a memcpy of
//     the bytes it produces into a buffer that already exists;
//   - parsing and validating a 256 KiB request body against RapidJSON's own
//     SAX parse of the same bytes (UTF-8 validated, events dropped).
// Each figure is the minimum per-call time over many batches.
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench_config.h"
#include "helper_driver.h"
#include "rapidjson/memorystream.h"
#include "rapidjson/reader.h"
#include "tts/corvane_tts_protocol.h"
#include "tts/tts_service.h"
#include "tts/wave_encoding.h"

namespace vct_bench {
namespace vct = velmora_corvane_tts;
namespace {

// Keeps the compiler from dropping work whose result is unused.
template <typename T>
void keep(const T& value) {
  asm volatile("" : : "g"(&value) : "memory");
}

// Minimum time of one call of `fn`, from `batches` batches each long
// enough (about 2 ms) to make the clock's resolution irrelevant.
// `before_batch`, when given, runs untimed before every batch.
double min_per_call(const std::function<void()>& fn, int batches,
                    const std::function<void()>& before_batch = nullptr) {
  int per_batch = 1;
  for (;;) {
    Clock::time_point start = Clock::now();
    for (int i = 0; i < per_batch; ++i) fn();
    if (seconds_since(start) > 0.002 || per_batch >= (1 << 20)) break;
    per_batch *= 2;
  }
  std::vector<double> times;
  for (int b = 0; b < batches; ++b) {
    if (before_batch) before_batch();
    Clock::time_point start = Clock::now();
    for (int i = 0; i < per_batch; ++i) fn();
    times.push_back(seconds_since(start) / per_batch);
  }
  return minimum(times);
}

// Speech-like samples: a few mixed tones at 0.6, with an occasional sample
// beyond full scale, as synthesised audio has.
std::vector<float> test_samples(size_t n, double rate) {
  std::vector<float> s(n);
  for (size_t i = 0; i < n; ++i) {
    double t = static_cast<double>(i) / rate;
    double v = 0.35 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 587 * t) +
               0.05 * std::sin(2 * M_PI * 3100 * t);
    if (i % 9973 == 0) v = 1.3;
    s[i] = static_cast<float>(v);
  }
  return s;
}

// Reads and writes `sweep`, larger than any processor cache, so that what
// the next call touches starts out in memory.
void evict_caches(std::vector<uint8_t>& sweep) {
  for (size_t i = 0; i < sweep.size(); i += 64) sweep[i] = static_cast<uint8_t>(sweep[i] + 1);
  keep(sweep);
}

void wave_encoding(const Config& config, Table& table) {
  struct Case {
    std::string label;
    size_t samples;
    double rate;
    bool has_target;
    // Start every batch with both sides' data out of the caches. Without
    // this, a large cache holds much of the copy's source (the WAV) between
    // batches but little of the encoder's, twice as large.
    bool from_memory;
  };
  // The replies of section 1: 1,000 characters of Kokoro speech and 10,000
  // of Supertonic speech; and one second, which fits the first-level caches
  // where a copy runs several times faster than in memory.
  const std::vector<Case> cases = {
      {"1,000-char reply (28 s at 24 kHz)", 28 * 24000, 24000.0, true, false},
      {"10,000-char reply (5.2 min at 44.1 kHz, from memory)", 312 * 44100, 44100.0, true, true},
      {"1 s at 24 kHz (in cache)", 24000, 24000.0, false, false},
  };
  for (const Case& c : cases) {
    const std::vector<float> samples = test_samples(c.samples, c.rate);
    auto first = vct::f32_mono_wave(samples, static_cast<uint32_t>(c.rate));
    if (!first.ok()) die(first.error().message());
    const vct::WavBytes source = std::move(first).value();
    std::vector<uint8_t> destination(source.size(), 1);
    const int batches = config.reps(c.samples > 1000000 ? 10 : 30);
    // Freed after the case: the memory section reads the resident sets of
    // children this process starts.
    std::vector<uint8_t> sweep(c.from_memory ? 256u << 20 : 0);
    const std::function<void()> before =
        c.from_memory ? std::function<void()>([&] { evict_caches(sweep); }) : nullptr;
    const double encode = min_per_call(
        [&] {
          auto wav = vct::f32_mono_wave(samples, static_cast<uint32_t>(c.rate));
          keep(wav);
        },
        batches, before);
    const double copy = min_per_call(
        [&] {
          std::memcpy(destination.data(), source.data(), source.size());
          keep(destination);
        },
        batches, before);
    table.add({"4 Kernels", "f32_mono_wave / memcpy of its bytes, " + c.label, encode / copy, 2.0,
               c.has_target,
               format("encode %s (%.3f ns/sample), memcpy %s of %s", human_seconds(encode).c_str(),
                      encode * 1e9 / static_cast<double>(c.samples), human_seconds(copy).c_str(),
                      human_bytes(static_cast<double>(source.size())).c_str()),
               ""});
  }
}

// A valid request body of exactly `size` bytes: a text of 10,000 characters
// and an unknown key whose value (made by `filler`) takes up the rest.
std::string request_body(size_t size, const std::string& key,
                         const std::function<std::string(size_t)>& filler) {
  std::string text = english_text(9000);
  // Some escapes and two-byte characters, as real prose has.
  for (int i = 0; i < 1000; ++i) text += (i % 2 == 0) ? "\xc3\xa9" : "\\n";
  std::string head = "{\"model_id\":\"kokoro-82m-v1.1-int8\",\"model_dir\":\"/opt/voices/kokoro\","
                     "\"sid\":1,\"language\":\"en\",\"speed\":1.25,\"text\":\"" +
                     text + "\",\"" + key + "\":";
  std::string tail = "}";
  std::string body = head + filler(size - head.size() - tail.size()) + tail;
  if (body.size() != size) die("request body of the wrong size");
  return body;
}

std::string string_filler(size_t n) {
  std::string s = "\"";
  while (s.size() < n - 1) s += "Notes about the voice, kept by the application. ";
  s.resize(n - 1);
  return s + "\"";
}

std::string number_filler(size_t n) {
  std::string s = "[";
  for (int i = 0; s.size() < n - 16; ++i) {
    s += format("%d.%03d", i % 977, (i * 37) % 1000);
    s += ',';
  }
  s += "0";
  while (s.size() < n - 1) s += " ";
  return s + "]";
}

std::string object_filler(size_t n) {
  std::string s = "[";
  for (int i = 0; s.size() < n - 64; ++i) {
    s += format("{\"word\":\"w%d\",\"start\":%d,\"final\":true},", i, i * 40);
  }
  s += "null";
  while (s.size() < n - 1) s += " ";
  return s + "]";
}

void request_parsing(const Config& config, Table& table) {
  struct Case {
    const char* label;
    std::function<std::string(size_t)> filler;
  };
  const std::vector<Case> cases = {{"a long string", string_filler},
                                   {"numbers", number_filler},
                                   {"small objects", object_filler}};
  for (const Case& c : cases) {
    const std::string body = request_body(vct::kMaxRequestBytes, "extra", c.filler);
    {
      auto parsed = vct::parse_request(body);
      if (!parsed.ok()) die("benchmark body refused: " + parsed.error().message());
      vct::Status valid = vct::validate_request(parsed.value());
      if (!valid.ok()) die("benchmark body invalid: " + valid.error().message());
    }
    const int batches = config.reps(30);
    const double ours = min_per_call(
        [&] {
          auto parsed = vct::parse_request(body);
          vct::Status valid = vct::validate_request(parsed.value());
          keep(valid);
        },
        batches);
    const double rapid = min_per_call(
        [&] {
          rapidjson::MemoryStream stream(body.data(), body.size());
          rapidjson::BaseReaderHandler<> handler;
          rapidjson::Reader reader;
          auto ok = reader.Parse<rapidjson::kParseValidateEncodingFlag>(stream, handler);
          keep(ok);
        },
        batches);
    table.add({"4 Kernels",
               format("parse+validate 256 KiB / RapidJSON SAX, unknown key: %s", c.label),
               ours / rapid, 1.2, true,
               format("ours %s, RapidJSON %s", human_seconds(ours).c_str(),
                      human_seconds(rapid).c_str()),
               ""});
  }
}

}  // namespace

void run_kernel_bench(const Config& config, Table& table) {
  wave_encoding(config, table);
  request_parsing(config, table);
}

}  // namespace vct_bench
