#include "stream/recognizer.h"

#include <algorithm>

#include "common/json_record.h"
#include "common/model_path.h"
#include "common/text.h"
#include "platform/platform.h"

namespace velmora_corvane_tts {
namespace {

// The recogniser's result. Only "text" is used; the rest is checked and
// dropped.
constexpr std::array<JsonField, 6> kResultFields = {{
    {"text", JsonFieldType::kString},
    {"tokens", JsonFieldType::kStringList},
    {"timestamps", JsonFieldType::kF32List, true},
    {"segment", JsonFieldType::kI32, true},
    {"start_time", JsonFieldType::kF32, true},
    {"is_final", JsonFieldType::kBool},
}};
constexpr JsonRecordShape kResultShape{"RecognizerResult", kResultFields};

}  // namespace

int32_t recognizer_threads(unsigned processors) {
  if (processors == 0) return 2;
  return static_cast<int32_t>(std::clamp(processors / 2, 2u, 4u));
}

int32_t recognizer_threads() { return recognizer_threads(platform::processors_online()); }

Result<runtime::OnlineRecognizer> create_recognizer(const std::string& model_dir) {
  std::array<std::string, kStreamModelFiles.size()> paths;
  for (size_t i = 0; i < kStreamModelFiles.size(); ++i) {
    paths[i] = join_model_path(model_dir, kStreamModelFiles[i]);
    if (!platform::is_regular_file(paths[i])) {
      return Error(std::string(kStreamModelFiles[i]) + " is missing from " + model_dir);
    }
  }
  const Error load_failure("Could not load the streaming speech model from " + model_dir);
  // An unreadable model file makes the runtime throw, and an unreadable
  // tokens.txt gives a recogniser that can never produce a transcript.
  for (const std::string& path : paths) {
    if (platform::regular_file_access(path) != platform::FileAccess::kReadable) {
      return load_failure;
    }
  }
  runtime::RecognizerSettings settings;
  settings.encoder = std::move(paths[0]);
  settings.decoder = std::move(paths[1]);
  settings.joiner = std::move(paths[2]);
  settings.tokens = std::move(paths[3]);
  settings.num_threads = recognizer_threads();
  auto recognizer = runtime::OnlineRecognizer::create(settings);
  if (!recognizer.ok()) return load_failure;
  return recognizer;
}

Result<std::string> decode_available(const runtime::OnlineRecognizer& recognizer,
                                     runtime::OnlineStream& stream) {
  for (;;) {
    auto ready = recognizer.is_ready(stream);
    if (!ready.ok()) return std::move(ready).error();
    if (!ready.value()) break;
    Status decoded = recognizer.decode(stream);
    if (!decoded.ok()) return std::move(decoded).error();
  }
  auto json = recognizer.result_json(stream);
  if (!json.ok()) return std::move(json).error();
  if (!json.value().has_value()) return std::string();
  return transcript_from_result(*json.value());
}

std::string transcript_from_result(std::string_view json) {
  auto parsed = parse_json_record(json, kResultShape);
  if (!parsed.ok()) return std::string();
  return std::string(trim_white_space(std::get<std::string>(parsed.value()[0])));
}

}  // namespace velmora_corvane_tts
