// The recogniser's result JSON to a transcript. The runtime's text first
// becomes valid UTF-8, as the runtime layer does. The transcript must be
// the trimmed "text" exactly when RapidJSON's DOM parser finds a well-formed
// result (required keys of the right kinds, optional ones of the right kinds
// or null, no key twice, nesting under 128 levels), and empty otherwise.
#include <cmath>
#include <string>

#include "common/text.h"
#include "fuzz_util.h"
#include "json_reference.h"
#include "stream/recognizer.h"

namespace vct = velmora_corvane_tts;
using namespace velmora_corvane_tts::fuzzing;  // NOLINT

namespace {

bool all_of_kind(const rapidjson::Value& v, bool strings) {
  if (!v.IsArray()) return false;
  for (const auto& e : v.GetArray()) {
    if (strings ? !e.IsString() : !e.IsNumber()) return false;
  }
  return true;
}

// The transcript a well-formed result gives, or nothing.
std::optional<std::string> reference_transcript(std::string_view json) {
  rapidjson::Document doc;
  if (!reference_parse(json, doc) || depth_of(doc) >= 128) return std::nullopt;
  const rapidjson::Value *text = nullptr, *tokens = nullptr, *stamps = nullptr, *segment = nullptr,
                         *start = nullptr, *is_final = nullptr;
  if (doc.IsObject()) {
    if (has_duplicate_key(doc, {"text", "tokens", "timestamps", "segment", "start_time", "is_final"})) return std::nullopt;
    auto get = [&](const char* key) -> const rapidjson::Value* {
      auto m = doc.FindMember(key);
      return m == doc.MemberEnd() ? nullptr : &m->value;
    };
    text = get("text");
    tokens = get("tokens");
    stamps = get("timestamps");
    segment = get("segment");
    start = get("start_time");
    is_final = get("is_final");
  } else if (doc.IsArray()) {
    // The array form holds all six values in field order.
    if (doc.Size() != 6) return std::nullopt;
    text = &doc[0];
    tokens = &doc[1];
    stamps = &doc[2];
    segment = &doc[3];
    start = &doc[4];
    is_final = &doc[5];
  } else {
    return std::nullopt;
  }
  if (text == nullptr || !text->IsString()) return std::nullopt;
  if (tokens == nullptr || !all_of_kind(*tokens, true)) return std::nullopt;
  if (is_final == nullptr || !is_final->IsBool()) return std::nullopt;
  if (stamps != nullptr && !stamps->IsNull() && !all_of_kind(*stamps, false)) return std::nullopt;
  if (segment != nullptr && !segment->IsNull() && !segment->IsInt()) return std::nullopt;
  if (start != nullptr && !start->IsNull() && !start->IsNumber()) return std::nullopt;
  return std::string(vct::trim_white_space(string_of(*text)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string json = vct::to_valid_utf8(std::string_view(reinterpret_cast<const char*>(data), size));
  check(valid_utf8(json), "to_valid_utf8 left invalid UTF-8");
  std::string transcript = vct::transcript_from_result(json);
  check(vct::trim_white_space(transcript) == transcript, "an untrimmed transcript");
  std::optional<std::string> expected = reference_transcript(json);
  if (expected) {
    check(transcript == *expected, "the transcript differs from the reference: \"" + transcript +
                                       "\" instead of \"" + *expected + "\"");
  } else {
    check(transcript.empty(), "a transcript from a result the reference refuses: " + transcript);
  }
  return 0;
}
