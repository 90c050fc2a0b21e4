#include <soxr.h>

#include <string>

#include "client/resampler.h"

namespace velmora_corvane {

struct Resampler::State {
  explicit State(soxr_t s) : soxr(s) {}
  ~State() { soxr_delete(soxr); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  soxr_t soxr;
};

Resampler::Resampler(uint32_t input_rate, std::unique_ptr<State> state)
    : input_rate_(input_rate), state_(std::move(state)) {}

Resampler::~Resampler() = default;

Result<std::unique_ptr<Resampler>> Resampler::create(uint32_t input_rate) {
  if (input_rate == 0) return Error(ErrorKind::kRefusedLocally, "A sample rate of 0 is invalid");
  if (input_rate == kHelperSampleRate) {
    return std::unique_ptr<Resampler>(new Resampler(input_rate, nullptr));
  }
  soxr_error_t error = nullptr;
  soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_FLOAT32_I);
  soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_t soxr = soxr_create(input_rate, kHelperSampleRate, 1, &error, &io, &quality, nullptr);
  if (soxr == nullptr || error != nullptr) {
    if (soxr != nullptr) soxr_delete(soxr);
    return Error(ErrorKind::kRefusedLocally, "Cannot resample from " + std::to_string(input_rate) +
                                                 " Hz: " + soxr_strerror(error));
  }
  return std::unique_ptr<Resampler>(new Resampler(input_rate, std::make_unique<State>(soxr)));
}

void Resampler::feed(std::span<const int16_t> in, std::vector<float>& out) {
  if (!state_) {
    out.reserve(out.size() + in.size());
    for (int16_t s : in) out.push_back(static_cast<float>(s) / 32768.0f);
    return;
  }
  while (!in.empty()) {
    size_t room = in.size() * kHelperSampleRate / input_rate_ + 64;
    size_t base = out.size();
    out.resize(base + room);
    size_t used = 0;
    size_t made = 0;
    soxr_process(state_->soxr, in.data(), in.size(), &used, out.data() + base, room, &made);
    out.resize(base + made);
    in = in.subspan(used);
    if (used == 0 && made == 0) break;  // cannot happen with room to spare
  }
}

void Resampler::finish(std::vector<float>& out) {
  if (!state_) return;
  constexpr size_t kRoom = 4096;
  size_t made = 0;
  do {
    size_t base = out.size();
    out.resize(base + kRoom);
    made = 0;
    soxr_process(state_->soxr, nullptr, 0, nullptr, out.data() + base, kRoom, &made);
    out.resize(base + made);
  } while (made > 0);
  state_.reset();
}

}  // namespace velmora_corvane
