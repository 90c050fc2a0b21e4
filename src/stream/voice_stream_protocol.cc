#include "stream/voice_stream_protocol.h"

#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "common/json_record.h"

namespace velmora_corvane_tts {
namespace {

constexpr std::array<JsonField, 3> kOpenFields = {{
    {"model_id", JsonFieldType::kString},
    {"model_dir", JsonFieldType::kPath},
    {"language", JsonFieldType::kString, true},
}};
constexpr JsonRecordShape kOpenShape{"OpenRequest", kOpenFields};

uint64_t read_le(std::span<const uint8_t> bytes) {
  uint64_t v = 0;
  for (size_t i = bytes.size(); i > 0; --i) v = v << 8 | bytes[i - 1];
  return v;
}

void write_le(uint64_t v, std::span<uint8_t> out) {
  for (uint8_t& b : out) {
    b = static_cast<uint8_t>(v & 0xFF);
    v >>= 8;
  }
}

}  // namespace

Result<std::optional<Frame>> read_frame(InputStream& input, size_t limit) {
  auto tag = input.read_byte();
  if (!tag.ok()) return std::move(tag).error();
  if (!tag.value().has_value()) return std::optional<Frame>();

  std::array<uint8_t, kFrameHeaderBytes - 1> rest{};
  Status header = input.read_exact(rest);
  if (!header.ok()) return std::move(header).error();
  Frame frame;
  frame.tag = *tag.value();
  frame.id = read_le(std::span<const uint8_t>(rest).first(8));
  uint64_t length = read_le(std::span<const uint8_t>(rest).subspan(8, 4));
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
  header[0] = tag;
  write_le(id, std::span<uint8_t>(header).subspan(1, 8));
  write_le(payload.size(), std::span<uint8_t>(header).subspan(9, 4));
  Status written = output.write_all({header, payload});
  if (!written.ok()) return written;
  return output.flush();
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
      auto bits = static_cast<uint32_t>(read_le(payload.subspan(4 * i, 4)));
      samples[i] = std::bit_cast<float>(bits);
    }
  }
}

}  // namespace velmora_corvane_tts
