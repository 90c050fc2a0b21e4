#include "tts/tts_service.h"

#include <array>
#include <memory>
#include <string>

#include "common/text.h"
#include "tts/corvane_tts_protocol.h"
#include "tts/engine_catalogue.h"
#include "tts/synthesis.h"

namespace velmora_corvane_tts {
namespace {

std::array<uint8_t, 4> le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

Status write_frame(OutputStream& output, uint8_t status, std::span<const uint8_t> payload) {
  std::array<uint8_t, 5> header{};
  header[0] = status;
  auto len = le32(static_cast<uint32_t>(payload.size()));
  std::copy(len.begin(), len.end(), header.begin() + 1);
  Status s = output.write_all({header, payload});
  if (s.ok()) s = output.flush();
  if (!s.ok()) return Error("Could not write response: " + s.error().message());
  return s;
}

Status write_error(OutputStream& output, std::string_view message) {
  std::string cleaned = clean_message(message);
  return write_frame(output, 1,
                     {reinterpret_cast<const uint8_t*>(cleaned.data()), cleaned.size()});
}

// Handles one request body: parse, validate, load, synthesise.
SynthesisReply handle_request(EngineCache& cache, MemoryPlan& memory, std::string_view body) {
  auto request = parse_request(body);
  if (!request.ok()) return Error("Invalid request JSON: " + request.error().message());
  Status valid = validate_request(request.value());
  if (!valid.ok()) return std::move(valid).error();
  auto engine = cache.acquire(request.value().model_id, request.value().model_dir);
  if (!engine.ok()) return std::move(engine).error();
  if (engine.value() == nullptr) return Error("Speech model did not remain loaded");
  memory.prepare_for(request.value().text);
  return synthesize(*engine.value(), request.value());
}

Status serve(InputStream& input, OutputStream& output, EngineCache& cache) {
  MemoryPlan memory;
  for (;;) {
    std::array<uint8_t, 4> header{};
    auto first = input.read_byte();
    if (!first.ok()) return Error("Could not read request header: " + first.error().message());
    if (!first.value().has_value()) return Status();  // end of input at a frame boundary
    header[0] = *first.value();
    Status rest = input.read_exact(std::span<uint8_t>(header).subspan(1));
    if (!rest.ok()) return Error("Could not read request header: " + rest.error().message());
    uint32_t length = static_cast<uint32_t>(header[0]) | static_cast<uint32_t>(header[1]) << 8 |
                      static_cast<uint32_t>(header[2]) << 16 |
                      static_cast<uint32_t>(header[3]) << 24;
    if (length == 0 || length > kMaxRequestBytes) {
      // The declared body is not skipped: the next four bytes are a new length.
      Status s = write_error(output, "Invalid request frame length: " + std::to_string(length));
      if (!s.ok()) return s;
      continue;
    }
    std::unique_ptr<uint8_t[]> body(new uint8_t[length]());
    Status read = input.read_exact({body.get(), length});
    if (!read.ok()) return Error("Could not read request: " + read.error().message());
    SynthesisReply reply =
        handle_request(cache, memory, {reinterpret_cast<const char*>(body.get()), length});
    Status written = write_response(output, reply);
    if (!written.ok()) return written;
  }
}

}  // namespace

Status write_response(OutputStream& output, const SynthesisReply& reply) {
  if (!reply.ok()) return write_error(output, reply.error().message());
  const WavBytes& wav = reply.value();
  if (wav.size() > kMaxResponseBytes) {
    return write_error(output, "Generated speech exceeded the in-memory response limit");
  }
  return write_frame(output, 0, wav);
}

Status run_tts_service(InputStream& input, OutputStream& output) {
  EngineCache cache;
  Status result = serve(input, output, cache);
  cache.clear();
  return result;
}

}  // namespace velmora_corvane_tts
