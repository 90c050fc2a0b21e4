// The stream frame reader, the Open request parser and the audio decoding on
// arbitrary input. The reader must return exactly the frames an independent
// walk over the bytes finds, refuse an oversized length on its header alone,
// and end as the walk says; each frame written back must read back the same.
// Open payloads get the same checks against RapidJSON's DOM as synthesis
// requests.
#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "common/io.h"
#include "fuzz_util.h"
#include "json_reference.h"
#include "stream/voice_stream_protocol.h"
#include "support/memory_channel.h"

namespace vct = velmora_corvane_tts;
using namespace velmora_corvane_tts::fuzzing;  // NOLINT
using vct::testing::MemoryChannel;

namespace {

void check_open(std::string_view payload) {
  auto parsed = vct::parse_open_request(payload);
  rapidjson::Document doc;
  bool reference = reference_parse(payload, doc);
  if (!parsed.ok()) {
    const std::string& m = parsed.error().message();
    if (m == "language contains a NUL character") {
      check(reference && doc.IsObject() ? doc.HasMember("language") : true,
            "a NUL language refused without a language");
      return;
    }
    check_parser_place(m);
    check_wire_message(vct::clean_message("Invalid open request: " + m));
    if (reference && doc.IsObject() && depth_of(doc) < 128 && !has_duplicate_key(doc, {"model_id", "model_dir", "language"}) &&
        doc.HasMember("model_id") && doc["model_id"].IsString() && doc.HasMember("model_dir") &&
        doc["model_dir"].IsString() &&
        (!doc.HasMember("language") || doc["language"].IsNull() || doc["language"].IsString())) {
      fail("a well-formed open request was refused: " + m);
    }
    return;
  }
  const vct::OpenRequest& r = parsed.value();
  check(reference, "the open parser accepted what RapidJSON's DOM refuses");
  const rapidjson::Value *id = nullptr, *dir = nullptr, *language = nullptr;
  if (doc.IsObject()) {
    check(!has_duplicate_key(doc, {"model_id", "model_dir", "language"}), "an open request with a duplicate key was accepted");
    auto a = doc.FindMember("model_id"), b = doc.FindMember("model_dir"), c = doc.FindMember("language");
    check(a != doc.MemberEnd() && b != doc.MemberEnd(), "accepted without a required key");
    id = &a->value;
    dir = &b->value;
    if (c != doc.MemberEnd()) language = &c->value;
  } else {
    check(doc.IsArray() && doc.Size() == 3, "an open request that is not an object or a 3-array");
    id = &doc[0];
    dir = &doc[1];
    language = &doc[2];
  }
  check(id->IsString() && string_of(*id) == r.model_id, "model_id differs");
  check(dir->IsString() && string_of(*dir) == r.model_dir, "model_dir differs");
  if (language == nullptr || language->IsNull()) {
    check(!r.language.has_value(), "a language appeared from nowhere");
  } else {
    check(language->IsString() && r.language == string_of(*language), "language differs");
  }
}

void check_samples(const std::vector<uint8_t>& payload) {
  std::vector<float> samples = vct::bytes_to_samples(payload);
  check(samples.size() == payload.size() / 4, "wrong sample count");
  for (size_t i = 0; i < samples.size(); ++i) {
    uint32_t bits = std::bit_cast<uint32_t>(samples[i]);
    uint32_t want = static_cast<uint32_t>(payload[4 * i]) | static_cast<uint32_t>(payload[4 * i + 1]) << 8 |
                    static_cast<uint32_t>(payload[4 * i + 2]) << 16 |
                    static_cast<uint32_t>(payload[4 * i + 3]) << 24;
    check(bits == want, "a sample's bits changed");
  }
}

void read_all(std::string_view in, size_t limit, size_t buffer) {
  MemoryChannel channel(in);
  vct::InputStream input(channel.fd(), buffer);
  size_t at = 0;
  for (;;) {
    auto frame = vct::read_frame(input, limit);
    if (at == in.size()) {
      check(frame.ok() && !frame.value().has_value(), "no clean end at the end of the input");
      return;
    }
    if (in.size() - at < vct::kFrameHeaderBytes) {
      check(!frame.ok() && frame.error().message() == vct::kFailedToFill, "torn header not reported");
      return;
    }
    uint32_t length = decode_fixed32(in.data() + at + 9);
    if (length > limit) {
      check(!frame.ok() && frame.error().message() == "frame payload of " + std::to_string(length) +
                                                         " bytes exceeds the " + std::to_string(limit) +
                                                         " byte limit",
            "oversized frame not refused");
      return;
    }
    if (in.size() - at - vct::kFrameHeaderBytes < length) {
      check(!frame.ok() && frame.error().message() == vct::kFailedToFill, "torn payload not reported");
      return;
    }
    check(frame.ok() && frame.value().has_value(), "a whole frame was not read");
    const vct::Frame& f = *frame.value();
    check(f.tag == static_cast<uint8_t>(in[at]), "tag differs");
    check(f.id == decode_fixed64(in.data() + at + 1), "id differs");
    std::string_view payload = in.substr(at + vct::kFrameHeaderBytes, length);
    check(f.payload.size() == length &&
              (length == 0 || std::memcmp(f.payload.data(), payload.data(), length) == 0),
          "payload differs");
    if (buffer > 16) {  // once per frame is enough for these
      if (f.tag == 0) check_open(payload);
      if (f.tag == 1) check_samples(f.payload);
      MemoryChannel out;
      vct::OutputStream output(out.fd());
      check(vct::write_frame(output, f.tag, f.id, f.payload).ok(), "write_frame failed");
      check(out.contents() == in.substr(at, vct::kFrameHeaderBytes + length),
            "a frame written back differs from the bytes it was read from");
    }
    at += vct::kFrameHeaderBytes + length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  read_all(in, 2048000, 64 * 1024);
  read_all(in, 2048000, 5);
  read_all(in, 40, 64 * 1024);  // a small limit reaches the refusal often
  return 0;
}
