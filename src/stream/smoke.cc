#include "stream/smoke.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "runtime/speech_runtime.h"
#include "stream/recognizer.h"

namespace velmora_corvane_tts {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kPrefix = "STREAM-STT-SMOKE: ";

// Whole milliseconds of a duration, the remainder dropped.
long long whole_ms(Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

std::string fixed(double value, int decimals) {
  char buffer[512];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed,
                         decimals);
  return std::string(buffer, r.ptr);
}

std::string right_aligned(long long value, size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), ' ');
  return digits;
}

void write_out(OutputStream& out, const std::string& line) {
  // The report goes on when its reader has gone; the exit status still says
  // how recognition went.
  (void)out.write_all({std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(line.data()),
                                                line.size())});
}

void write_err(std::string_view text) {
  platform::write_standard_error(std::string(kPrefix) + std::string(text) + "\n");
}

}  // namespace

int32_t smoke_block_size(int32_t sample_rate) {
  auto block = static_cast<int32_t>(static_cast<float>(sample_rate) * 0.1f);
  return std::max(block, 1);
}

int32_t smoke_trailing_zeros(int32_t sample_rate) {
  return static_cast<int32_t>(static_cast<float>(sample_rate) * 0.8f);
}

std::string smoke_loaded_line(std::string_view model_dir, long long load_ms, int32_t threads) {
  return std::string(kPrefix) + "loaded " + std::string(model_dir) + " in " +
         std::to_string(load_ms) + " ms with " + std::to_string(threads) + " threads\n";
}

std::string smoke_wave_line(std::string_view wav, size_t samples, int32_t sample_rate) {
  float seconds = static_cast<float>(samples) / static_cast<float>(sample_rate);
  return std::string(kPrefix) + std::string(wav) + ": " + std::to_string(samples) +
         " samples at " + std::to_string(sample_rate) + " Hz (" + fixed(seconds, 2) + " s)\n";
}

std::string smoke_partial_line(long long ms, std::string_view transcript) {
  return std::string(kPrefix) + "partial @" + right_aligned(ms, 6) + " ms: " +
         std::string(transcript) + "\n";
}

std::string smoke_final_line(long long decode_ms, double rtf, std::string_view transcript) {
  return std::string(kPrefix) + "decode_ms=" + std::to_string(decode_ms) + " rtf=" +
         fixed(rtf, 3) + " final=" + std::string(transcript) + "\n";
}

int smoke(const std::string& model_dir, const std::string& wav,
          const std::optional<std::string>& language, OutputStream& out) {
  Clock::time_point t0 = Clock::now();
  auto recognizer = create_recognizer(model_dir);
  if (!recognizer.ok()) {
    write_err(recognizer.error().message());
    return 1;
  }
  write_out(out, smoke_loaded_line(model_dir, whole_ms(Clock::now() - t0), recognizer_threads()));

  auto wave = runtime::Wave::read(wav);
  if (!wave.ok() || wave.value().sample_rate() < kLowestSmokeRate ||
      wave.value().sample_rate() > kHighestSmokeRate) {
    write_err("cannot read " + wav);
    return 1;
  }
  std::span<const float> samples = wave.value().samples();
  int32_t rate = wave.value().sample_rate();
  write_out(out, smoke_wave_line(wav, samples.size(), rate));

  auto created = recognizer.value().create_stream();
  if (!created.ok()) {
    write_err("the streaming voice runtime could not open a stream");
    return 1;
  }
  runtime::OnlineStream stream = std::move(created).value();
  if (language.has_value()) (void)stream.set_option("language", *language);

  const auto block = static_cast<size_t>(smoke_block_size(rate));
  Clock::time_point t1 = Clock::now();
  std::string shown;
  // The runtime failing on the stream (it throws while taking samples or
  // decoding them) ends the run at once.
  auto failed = [] {
    write_err(kDecodeFailedMessage);
    return 1;
  };
  for (size_t at = 0; at < samples.size(); at += block) {
    size_t count = std::min(block, samples.size() - at);
    Status fed = stream.accept_waveform(rate, samples.subspan(at, count));
    Result<std::string> text =
        fed.ok() ? decode_available(recognizer.value(), stream) : std::move(fed).error();
    if (!text.ok()) return failed();
    if (text.value() != shown) {
      write_out(out, smoke_partial_line(whole_ms(Clock::now() - t1), text.value()));
      shown = std::move(text).value();
    }
  }
  // The trailing silence goes in pieces of at most one block.
  const std::vector<float> zeros(block, 0.0f);
  for (size_t left = static_cast<size_t>(smoke_trailing_zeros(rate)); left > 0;) {
    size_t count = std::min(left, zeros.size());
    if (!stream.accept_waveform(rate, std::span<const float>(zeros).first(count)).ok()) {
      return failed();
    }
    left -= count;
  }
  if (!stream.input_finished().ok()) return failed();
  Result<std::string> decoded = decode_available(recognizer.value(), stream);
  if (!decoded.ok()) return failed();
  const std::string& final_text = decoded.value();

  Clock::duration elapsed = Clock::now() - t1;
  double audio_seconds = static_cast<double>(samples.size()) / static_cast<double>(rate);
  double rtf = std::chrono::duration<double>(elapsed).count() / std::max(audio_seconds, 0.000001);
  write_out(out, smoke_final_line(whole_ms(elapsed), rtf, final_text));
  int status = 0;
  if (final_text.empty()) {
    write_err("the final transcript is empty");
    status = 1;
  }
  // Released in reverse order of creation: the stream, the wave, then the
  // recogniser.
  return status;
}

}  // namespace velmora_corvane_tts
