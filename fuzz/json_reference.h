// A second opinion on JSON texts for the fuzz targets: RapidJSON's DOM
// parser (strict, UTF-8 validated, iterative so depth cannot overflow the
// stack), used to check what the record parser accepts and the values it
// returns. Its number conversion is the fast one, which may be one unit in
// the last place off (its full-precision mode computes clz(0) on some
// inputs); callers compare numbers with that in mind.
#ifndef VELMORA_CORVANE_TTS_FUZZ_JSON_REFERENCE_H_
#define VELMORA_CORVANE_TTS_FUZZ_JSON_REFERENCE_H_

#include <algorithm>
#include <initializer_list>
#include <set>
#include <string>
#include <string_view>

#include "rapidjson/document.h"

namespace velmora_corvane_tts::fuzzing {

inline constexpr unsigned kReferenceFlags =
    rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag;

// Parses `text` as a whole; false when it is not one JSON value with only
// white space around it.
inline bool reference_parse(std::string_view text, rapidjson::Document& doc) {
  // RapidJSON's memory stream reads a NUL byte as the end of the text; a raw
  // NUL is never valid JSON, wherever it stands.
  if (text.find('\0') != std::string_view::npos) return false;
  // Its UTF-8 input stream skips a leading 0xEF, 0xBB and 0xBF each on its
  // own, taking even a lone one for a byte-order mark; no JSON text starts
  // with any of them.
  if (!text.empty()) {
    unsigned char first = static_cast<unsigned char>(text[0]);
    if (first == 0xEF || first == 0xBB || first == 0xBF) return false;
  }
  doc.Parse<kReferenceFlags>(text.data(), text.size());
  return !doc.HasParseError();
}

// Nesting depth of a value: 1 for a scalar or an empty container at the top.
inline int depth_of(const rapidjson::Value& v) {
  int inner = 0;
  if (v.IsArray()) {
    for (const auto& e : v.GetArray()) inner = std::max(inner, depth_of(e));
  } else if (v.IsObject()) {
    for (const auto& m : v.GetObject()) inner = std::max(inner, depth_of(m.value));
  }
  return (v.IsArray() || v.IsObject()) ? 1 + inner : inner;
}

inline std::string string_of(const rapidjson::Value& v) {
  return std::string(v.GetString(), v.GetStringLength());
}

// True when one of `fields` occurs twice as a key of this object (not
// looking deeper). Other keys may repeat: they are skipped.
inline bool has_duplicate_key(const rapidjson::Value& object,
                              std::initializer_list<std::string_view> fields) {
  std::set<std::string> seen;
  for (const auto& m : object.GetObject()) {
    std::string name = string_of(m.name);
    if (std::find(fields.begin(), fields.end(), name) == fields.end()) continue;
    if (!seen.insert(name).second) return true;
  }
  return false;
}

}  // namespace velmora_corvane_tts::fuzzing

#endif  // VELMORA_CORVANE_TTS_FUZZ_JSON_REFERENCE_H_
