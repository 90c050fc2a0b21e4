#include "tts/tts_service.h"

#include <memory>
#include <string>

#include "common/text.h"
#include "tts/corvane_tts_protocol.h"
#include "tts/engine_cache.h"
#include "tts/synthesis.h"
#include "tts/wave_encoding.h"

namespace velmora_corvane_tts {
namespace {

Status write_frame(OutputStream& output, uint8_t status, std::span<const uint8_t> payload) {
  Status s = write_reply_frame(output, status, payload);
  if (!s.ok()) return Error("Could not write response: " + s.error().message());
  return s;
}

Status write_error(OutputStream& output, std::string_view message) {
  std::string cleaned = clean_message(message);
  return write_frame(output, kReplyError,
                     {reinterpret_cast<const uint8_t*>(cleaned.data()), cleaned.size()});
}

// The outcome of one request: the WAV bytes, or a message.
using SynthesisReply = Result<WavBytes>;

Status write_response(OutputStream& output, const SynthesisReply& reply) {
  if (!reply.ok()) return write_error(output, reply.error().message());
  const WavBytes& wav = reply.value();
  if (wav.size() > kMaxResponseBytes) {
    return write_error(output, "Generated speech exceeded the in-memory response limit");
  }
  return write_frame(output, kReplySuccess, wav);
}

// Handles one request body: parse, validate, load, synthesise.
SynthesisReply handle_request(EngineCache& cache, MemoryPlan& memory, std::string_view body) {
  auto request = parse_request(body);
  if (!request.ok()) return Error("Invalid request JSON: " + request.error().message());
  Status valid = validate_request(request.value());
  if (!valid.ok()) return std::move(valid).error();
  auto engine = cache.acquire(request.value().model_id, request.value().model_dir);
  if (!engine.ok()) return std::move(engine).error();
  memory.prepare_for(request.value().text);
  return synthesize(*engine.value(), request.value());
}

Status serve(InputStream& input, OutputStream& output, EngineCache& cache) {
  MemoryPlan memory;
  for (;;) {
    auto header = read_request_length(input);
    if (!header.ok()) return Error("Could not read request header: " + header.error().message());
    if (!header.value().has_value()) return Status();  // end of input at a frame boundary
    uint32_t length = *header.value();
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

Status run_tts_service(InputStream& input, OutputStream& output) {
  EngineCache cache;
  Status result = serve(input, output, cache);
  cache.clear();
  return result;
}

}  // namespace velmora_corvane_tts
