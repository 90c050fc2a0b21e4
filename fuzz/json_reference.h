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
#include <vector>

#include "rapidjson/document.h"

namespace velmora_corvane_tts::fuzzing {

inline constexpr unsigned kReferenceFlags =
    rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag;

// True when a string or key of `root` holds an encoded UTF-16 surrogate
// (0xED, then 0xA0 to 0xBF), which is not UTF-8. The DOM parser checks the
// text's own bytes, and refuses a leading surrogate escape without its
// partner, but decodes a lone trailing one (\uDC00 to \uDFFF) into three
// such bytes.
inline bool holds_surrogate(const rapidjson::Value& root) {
  auto encoded = [](const rapidjson::Value& s) {
    const char* p = s.GetString();
    for (rapidjson::SizeType i = 0; i + 1 < s.GetStringLength(); ++i) {
      if (static_cast<unsigned char>(p[i]) == 0xED && static_cast<unsigned char>(p[i + 1]) >= 0xA0) {
        return true;
      }
    }
    return false;
  };
  std::vector<const rapidjson::Value*> pending{&root};  // no recursion: any depth
  while (!pending.empty()) {
    const rapidjson::Value* v = pending.back();
    pending.pop_back();
    if (v->IsString() && encoded(*v)) return true;
    if (v->IsArray()) {
      for (const auto& e : v->GetArray()) pending.push_back(&e);
    } else if (v->IsObject()) {
      for (const auto& m : v->GetObject()) {
        if (encoded(m.name)) return true;
        pending.push_back(&m.value);
      }
    }
  }
  return false;
}

// Parses `text` as a whole; false when it is not one JSON value with only
// white space around it, or when one of its strings is not UTF-8.
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
  return !doc.HasParseError() && !holds_surrogate(doc);
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
