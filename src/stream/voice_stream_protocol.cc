#include "stream/voice_stream_protocol.h"

#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "common/coding.h"
#include "common/json_record.h"
#include "common/text.h"

namespace velmora_corvane_tts {
namespace {

constexpr std::array<JsonField, 3> kOpenFields = {{
    {"model_id", JsonFieldType::kString},
    {"model_dir", JsonFieldType::kPath},
    {"language", JsonFieldType::kString, true},
}};
constexpr JsonRecordShape kOpenShape{"OpenRequest", kOpenFields};

}  // namespace

void encode_frame_header(const FrameHeader& header, uint8_t* out) {
  out[0] = header.tag;
  encode_fixed64(out + 1, header.id);
  encode_fixed32(out + 9, header.length);
}

FrameHeader decode_frame_header(const uint8_t* in) {
  return {in[0], decode_fixed64(in + 1), decode_fixed32(in + 9)};
}

Result<std::optional<Frame>> read_frame(InputStream& input, size_t limit) {
  auto tag = input.read_byte();
  if (!tag.ok()) return std::move(tag).error();
  if (!tag.value().has_value()) return std::optional<Frame>();

  std::array<uint8_t, kFrameHeaderBytes> bytes{};
  bytes[0] = *tag.value();
  Status rest = input.read_exact(std::span<uint8_t>(bytes).subspan(1));
  if (!rest.ok()) return std::move(rest).error();
  const FrameHeader header = decode_frame_header(bytes.data());
  const uint32_t length = header.length;
  Frame frame;
  frame.tag = header.tag;
  frame.id = header.id;
  if (length > limit) {
    return Error("frame payload of " + std::to_string(length) + " bytes exceeds the " +
                 std::to_string(limit) + " byte limit");
  }
  frame.payload.resize(static_cast<size_t>(length));
  Status body = input.read_exact(frame.payload);
  if (!body.ok()) return std::move(body).error();
  return std::optional<Frame>(std::move(frame));
}

Status write_frame(OutputStream& output, uint8_t tag, uint64_t id,
                   std::span<const uint8_t> payload) {
  if (payload.size() > std::numeric_limits<uint32_t>::max()) {
    return Error("frame payload too large");
  }
  std::array<uint8_t, kFrameHeaderBytes> header{};
  encode_frame_header({tag, id, static_cast<uint32_t>(payload.size())}, header.data());
  return output.write_all({header, payload});
}

Status reply_error(OutputStream& output, uint64_t id, std::string_view message) {
  std::string cleaned = clean_message(message);
  return write_frame(output, kErrorTag, id,
                     {reinterpret_cast<const uint8_t*>(cleaned.data()), cleaned.size()});
}

Result<OpenRequest> parse_open_request(std::string_view payload) {
  auto parsed = parse_json_record(payload, kOpenShape);
  if (!parsed.ok()) return std::move(parsed).error();
  auto& v = parsed.value();
  OpenRequest request;
  request.model_id = std::move(std::get<std::string>(v[0]));
  request.model_dir = std::move(std::get<std::string>(v[1]));
  if (auto* language = std::get_if<std::string>(&v[2])) {
    if (language->find('\0') != std::string::npos) {
      return Error("language contains a NUL character");
    }
    request.language = std::move(*language);
  }
  return request;
}

std::vector<float> bytes_to_samples(std::span<const uint8_t> payload) {
  std::vector<float> samples;
  bytes_to_samples(payload, samples);
  return samples;
}

void bytes_to_samples(std::span<const uint8_t> payload, std::vector<float>& samples) {
  samples.resize(payload.size() / 4);
  if constexpr (std::endian::native == std::endian::little) {
    // (memcpy must not see the null pointers of empty buffers.)
    if (!samples.empty()) std::memcpy(samples.data(), payload.data(), samples.size() * 4);
  } else {
    for (size_t i = 0; i < samples.size(); ++i) {
      uint32_t bits = decode_fixed32(payload.data() + 4 * i);
      samples[i] = std::bit_cast<float>(bits);
    }
  }
}

}  // namespace velmora_corvane_tts
