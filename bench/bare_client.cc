#include "bare_client.h"

namespace vct_bench {
namespace {

double read_seconds(Child& child) {
  uint8_t ns[8];
  child.read_exact(ns, sizeof ns);
  return static_cast<double>(decode_fixed64(ns)) * 1e-9;
}

std::string read_text(Child& child) {
  uint8_t size[4];
  child.read_exact(size, sizeof size);
  std::string text(decode_fixed32(size), '\0');
  if (!text.empty()) child.read_exact(text.data(), text.size());
  return text;
}

}  // namespace

BareSynthesis::BareSynthesis(const Config& config, const std::string& model_id,
                             const std::string& model_dir, const std::string& allocator)
    : child_({config.bare, "tts", model_id, model_dir, allocator}, config.log_path) {}

double BareSynthesis::run(const std::string& text, std::string* wav) {
  std::string request;
  put_fixed32(request, static_cast<uint32_t>(text.size()));
  request += text;
  request.push_back(wav != nullptr ? 1 : 0);
  child_.write_all(request);
  const double seconds = read_seconds(child_);
  uint8_t size[4];
  child_.read_exact(size, sizeof size);
  if (wav != nullptr) {
    wav->resize(decode_fixed32(size));
    child_.read_exact(wav->data(), wav->size());
  }
  return seconds;
}

BareRecognition::BareRecognition(const Config& config, const std::string& model_dir,
                                 int32_t threads, const std::string& audio_path)
    : child_({config.bare, "stream", model_dir, std::to_string(threads), audio_path},
             config.log_path) {}

BareRecognition::Session BareRecognition::run(bool detail) {
  const char request = detail ? 1 : 0;
  child_.write_all(&request, 1);
  Session s;
  s.seconds = read_seconds(child_);
  s.final_text = read_text(child_);
  if (detail) {
    uint8_t count[4];
    child_.read_exact(count, sizeof count);
    for (uint32_t k = 0; k < decode_fixed32(count); ++k) {
      s.block_seconds.push_back(read_seconds(child_));
      s.texts.push_back(read_text(child_));
    }
  }
  return s;
}

}  // namespace vct_bench
