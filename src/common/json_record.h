// Strict JSON (RFC 8259) parsing of flat records: one JSON object whose keys
// name fields, or an array of all field values in field order. Used for the
// synthesis request, the stream open request and the recogniser's result.
//
// Every fault is one message ending with " at line {} column {}" (1-based
// line; column in bytes). Faults the parser finds in a value it has consumed
// (a wrong type, a missing or duplicate field) point at the last byte of that
// token; syntax faults point at the offending byte, or at the last byte when
// the input ends early.
//
// The fault texts ("invalid type: ..., expected ...", "missing field `...`",
// "duplicate field `...`", "trailing characters", "recursion limit
// exceeded", ...) are a fixed external contract: they reach applications
// inside "Invalid request JSON: {}" and "Invalid open request: {}" replies,
// word for word. Change none of them.
#ifndef VELMORA_CORVANE_TTS_COMMON_JSON_RECORD_H_
#define VELMORA_CORVANE_TTS_COMMON_JSON_RECORD_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/result.h"

namespace velmora_corvane_tts {

enum class JsonFieldType {
  kString,      // a JSON string, escapes decoded
  kPath,        // a JSON string taken as a filesystem path
  kI32,         // an integer from -2^31 to 2^31-1, no fraction or exponent
  kF32,         // any number, rounded to the nearest float (may become infinite)
  kBool,        // true or false
  kStringList,  // an array of strings (checked, value not kept)
  kF32List,     // an array of numbers (checked, value not kept)
};

struct JsonField {
  std::string_view name;
  JsonFieldType type;
  bool optional = false;  // may be absent or null
};

struct JsonRecordShape {
  std::string_view name;  // as in "struct {name}" of type messages
  std::span<const JsonField> fields;
};

// One field's value; monostate when an optional field is absent or null, or
// for list fields.
using JsonValue = std::variant<std::monostate, std::string, int32_t, float, bool>;

// Deepest nesting accepted: containers at level 128 (the top value is level
// 1) are refused with "recursion limit exceeded", also inside skipped values.
inline constexpr int kJsonMaxDepth = 127;

// Parses `text` as one record of `shape`: values in field order, or the
// parser's message. Unknown object keys are skipped with their (well-formed)
// values. Only JSON white space may follow the record.
Result<std::vector<JsonValue>> parse_json_record(std::string_view text,
                                                 const JsonRecordShape& shape);

// Writes a JSON object with one string member, without white space.
std::string json_object_with_string(std::string_view key, std::string_view value);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_COMMON_JSON_RECORD_H_
