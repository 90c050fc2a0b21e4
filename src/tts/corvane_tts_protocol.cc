#include "tts/corvane_tts_protocol.h"

#include <array>
#include <cmath>

#include "common/coding.h"
#include "common/json_record.h"
#include "common/text.h"

namespace velmora_corvane_tts {
namespace {

constexpr std::array<JsonField, 6> kFields = {{
    {"model_id", JsonFieldType::kString},
    {"model_dir", JsonFieldType::kPath},
    {"sid", JsonFieldType::kI32},
    {"language", JsonFieldType::kString},
    {"speed", JsonFieldType::kF32},
    {"text", JsonFieldType::kString},
}};
constexpr JsonRecordShape kShape{"LocalTtsRequest", kFields};

// Number of voices of a catalogue model id; 0 for an unknown id.
uint32_t voice_count(std::string_view model_id) {
  if (model_id == kKokoroModelId) return 3;
  if (model_id == kSupertonicModelId) return 10;
  return 0;
}

}  // namespace

Result<std::optional<uint32_t>> read_request_length(InputStream& input) {
  std::array<uint8_t, kRequestHeaderBytes> header{};
  auto first = input.read_byte();
  if (!first.ok()) return std::move(first).error();
  if (!first.value().has_value()) return std::optional<uint32_t>();
  header[0] = *first.value();
  Status rest = input.read_exact(std::span<uint8_t>(header).subspan(1));
  if (!rest.ok()) return std::move(rest).error();
  return std::optional<uint32_t>(decode_fixed32(header.data()));
}

ReplyHeader decode_reply_header(const uint8_t* in) { return {in[0], decode_fixed32(in + 1)}; }

Status write_reply_frame(OutputStream& output, uint8_t status, std::span<const uint8_t> payload) {
  std::array<uint8_t, kReplyHeaderBytes> header{};
  header[0] = status;
  encode_fixed32(header.data() + 1, static_cast<uint32_t>(payload.size()));
  return output.write_all({header, payload});
}

Result<LocalTtsRequest> parse_request(std::string_view body) {
  auto parsed = parse_json_record(body, kShape);
  if (!parsed.ok()) return std::move(parsed).error();
  auto& v = parsed.value();
  LocalTtsRequest request;
  request.model_id = std::move(std::get<std::string>(v[0]));
  request.model_dir = std::move(std::get<std::string>(v[1]));
  request.sid = std::get<int32_t>(v[2]);
  request.language = std::move(std::get<std::string>(v[3]));
  request.speed = std::get<float>(v[4]);
  request.text = std::move(std::get<std::string>(v[5]));
  return request;
}

Status validate_request(const LocalTtsRequest& request) {
  if (trim_white_space(request.text).empty()) return Error("Speech text is empty");
  if (count_chars(request.text) > kMaxTextChars) {
    return Error("Local speech is limited to " + std::to_string(kMaxTextChars) +
                 " characters per response");
  }
  if (!std::isfinite(request.speed)) return Error("Speech speed is invalid");
  uint32_t voices = voice_count(request.model_id);
  if (voices == 0) return Error("The requested local model is not supported");
  if (static_cast<uint32_t>(request.sid) >= voices) {
    return Error("The selected local voice is invalid");
  }
  if (request.language != "en") return Error("The selected local voice is invalid");
  return Status();
}

}  // namespace velmora_corvane_tts
