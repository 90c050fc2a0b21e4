// The synthesis request parser and validator on arbitrary bodies. What the
// parser accepts must be one strict JSON value to RapidJSON's DOM parser
// too, with the same field values; every parser message names its place;
// validation must pass exactly the records that satisfy its six rules; and
// every reply text must survive message cleaning within its limits.
#include <cmath>
#include <string>

#include "common/text.h"
#include "fuzz_util.h"
#include "json_reference.h"
#include "tts/corvane_tts_protocol.h"

namespace vct = velmora_corvane_tts;
using namespace velmora_corvane_tts::fuzzing;  // NOLINT

namespace {

const char* const kFields[] = {"model_id", "model_dir", "sid", "language", "speed", "text"};

// The field values as the reference parser sees them, or false when the
// reference says the body is not a request.
void compare_with_reference(std::string_view body, const vct::LocalTtsRequest& r) {
  rapidjson::Document doc;
  check(reference_parse(body, doc), "the request parser accepted what RapidJSON's DOM refuses");
  check(doc.IsObject() || doc.IsArray(), "a request that is neither an object nor an array");
  const rapidjson::Value* v[6] = {};
  if (doc.IsObject()) {
    check(!has_duplicate_key(doc, {"model_id", "model_dir", "sid", "language", "speed", "text"}), "a request with a duplicate key was accepted");
    for (int i = 0; i < 6; ++i) {
      auto m = doc.FindMember(kFields[i]);
      check(m != doc.MemberEnd(), std::string("accepted without ") + kFields[i]);
      v[i] = &m->value;
    }
  } else {
    check(doc.Size() == 6, "an array request without exactly six values was accepted");
    for (rapidjson::SizeType i = 0; i < 6; ++i) v[i] = &doc[i];
  }
  check(v[0]->IsString() && string_of(*v[0]) == r.model_id, "model_id differs");
  check(v[1]->IsString() && string_of(*v[1]) == r.model_dir, "model_dir differs");
  check(v[2]->IsInt() && v[2]->GetInt() == r.sid, "sid differs");
  check(v[3]->IsString() && string_of(*v[3]) == r.language, "language differs");
  check(v[4]->IsNumber(), "speed is not a number");
  double d = v[4]->GetDouble();
  float expected = std::fabs(d) >= 340282356779733661637539395458142568448.0
                       ? std::copysign(INFINITY, static_cast<float>(d))
                       : static_cast<float>(d);
  // The reference's double may be one unit off, which can move the float by
  // one unit as well.
  bool close = expected == r.speed || std::nextafter(expected, INFINITY) == r.speed ||
               std::nextafter(expected, -INFINITY) == r.speed ||
               (std::isinf(r.speed) && std::fabs(d) > 3.4e38);
  check(close, "speed differs");
  check(v[5]->IsString() && string_of(*v[5]) == r.text, "text differs");
}

bool valid_by_rules(const vct::LocalTtsRequest& r, std::string& message) {
  if (vct::trim_white_space(r.text).empty()) {
    message = "Speech text is empty";
  } else if (vct::count_chars(r.text) > 10000) {
    message = "Local speech is limited to 10000 characters per response";
  } else if (!std::isfinite(r.speed)) {
    message = "Speech speed is invalid";
  } else if (r.model_id != "kokoro-82m-v1.1-int8" && r.model_id != "supertonic-3-int8") {
    message = "The requested local model is not supported";
  } else if (r.sid < 0 || r.sid >= (r.model_id == "supertonic-3-int8" ? 10 : 3) ||
             r.language != "en") {
    message = "The selected local voice is invalid";
  } else {
    return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view body(reinterpret_cast<const char*>(data), size);
  auto parsed = vct::parse_request(body);
  if (!parsed.ok()) {
    const std::string& m = parsed.error().message();
    check_parser_place(m);
    check_wire_message(vct::clean_message("Invalid request JSON: " + m));
    rapidjson::Document doc;
    // A body the reference takes as one shallow object with all six keys of
    // the right JSON kinds must not be refused.
    if (reference_parse(body, doc) && doc.IsObject() && depth_of(doc) < 128 &&
        !has_duplicate_key(doc, {"model_id", "model_dir", "sid", "language", "speed", "text"})) {
      bool all = true;
      for (const char* f : kFields) all = all && doc.HasMember(f);
      if (all && doc["model_id"].IsString() && doc["model_dir"].IsString() &&
          doc["sid"].IsInt() && doc["language"].IsString() && doc["speed"].IsNumber() &&
          doc["text"].IsString()) {
        fail("a well-formed request was refused: " + m);
      }
    }
    return 0;
  }
  const vct::LocalTtsRequest& r = parsed.value();
  compare_with_reference(body, r);
  vct::Status valid = vct::validate_request(r);
  std::string message;
  bool expected = valid_by_rules(r, message);
  check(valid.ok() == expected, "validation disagrees with its rules");
  if (!valid.ok()) {
    check(valid.error().message() == message, "validation message differs: " + valid.error().message());
  }
  return 0;
}
