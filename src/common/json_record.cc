#include "common/json_record.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

#include "rapidjson/error/error.h"
#include "rapidjson/reader.h"
#include "rapidjson/stream.h"
#include "rapidjson/stringbuffer.h"
#include "rapidjson/writer.h"

namespace velmora_corvane_tts {
namespace {

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// " at line {} column {}" for a 1-based column `column` on the line holding
// byte `offset`.
std::string place(std::string_view text, size_t offset, bool at_byte) {
  size_t line = 1;
  size_t line_start = 0;
  size_t end = offset < text.size() ? offset : text.size();
  for (size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  // A fault at a byte is in its column; a fault after a consumed token, or
  // at the end of the input, is in the column of the last byte read.
  size_t column = (at_byte && offset < text.size()) ? offset - line_start + 1 : end - line_start;
  return " at line " + std::to_string(line) + " column " + std::to_string(column);
}

// Rust-like debug quoting of a string inside a type message.
std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          static const char* hex = "0123456789abcdef";
          out += "\\u{";
          if (c >= 0x10) out += hex[c >> 4];
          out += hex[c & 0xF];
          out += "}";
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// Shortest text that reads back as `value`, without exponent, always with a
// decimal point ("1.0", "100000000000000000000.0").
std::string float_text(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[400];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  std::string out(buffer, r.ptr);
  if (out.find('.') == std::string::npos) out += ".0";
  return out;
}

// Nearest float to `d`; beyond the float range, rounds to infinity the way
// IEEE conversion does.
float nearest_float(double d) {
  constexpr double kOverflow = 340282356779733661637539395458142568448.0;  // 2^128 - 2^103
  if (d >= kOverflow) return std::numeric_limits<float>::infinity();
  if (d <= -kOverflow) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(d);
}

const char* expected_text(JsonFieldType type) {
  switch (type) {
    case JsonFieldType::kString: return "a string";
    case JsonFieldType::kPath: return "path string";
    case JsonFieldType::kI32: return "i32";
    case JsonFieldType::kF32: return "f32";
    case JsonFieldType::kBool: return "a boolean";
    case JsonFieldType::kStringList:
    case JsonFieldType::kF32List: return "a sequence";
  }
  return "a value";
}

// What a JSON number is, read from its text. An integer beyond 64 bits is
// still an integer (kBigInteger): it is described as written, and its value
// `f` is the nearest double.
struct Number {
  enum Kind { kUnsigned, kSigned, kBigInteger, kFloat, kOutOfRange } kind;
  uint64_t u = 0;
  int64_t i = 0;
  double f = 0;
  std::string_view text;
};

Number classify_number(std::string_view text) {
  Number n{Number::kFloat, 0, 0, 0, text};
  bool integral = text.find_first_of(".eE") == std::string_view::npos;
  if (integral) {
    if (text[0] == '-') {
      auto r = std::from_chars(text.data(), text.data() + text.size(), n.i);
      if (r.ec == std::errc()) {
        n.kind = Number::kSigned;
        return n;
      }
    } else {
      auto r = std::from_chars(text.data(), text.data() + text.size(), n.u);
      if (r.ec == std::errc()) {
        n.kind = Number::kUnsigned;
        return n;
      }
    }
    n.kind = Number::kBigInteger;
  }
  // Non-integral, or an integer beyond 64 bits: a double, correctly rounded.
  auto r = std::from_chars(text.data(), text.data() + text.size(), n.f);
  if (r.ec == std::errc::result_out_of_range) {
    // Too large for a double, or so small that it rounds to zero: strtod
    // says which (infinity, or zero).
    std::string copy(text);
    n.f = std::strtod(copy.c_str(), nullptr);
  }
  if (std::isinf(n.f)) n.kind = Number::kOutOfRange;
  return n;
}

// Whether a JSON number's text can lie beyond the range of a double: only
// with an exponent, or with more digits than the largest double has.
bool may_be_out_of_range(std::string_view text) {
  return text.size() > 300 || text.find_first_of("eE") != std::string_view::npos;
}

std::string unexpected_number(const Number& n) {
  switch (n.kind) {
    case Number::kUnsigned: return "integer `" + std::to_string(n.u) + "`";
    case Number::kSigned: return "integer `" + std::to_string(n.i) + "`";
    case Number::kBigInteger: return "integer `" + std::string(n.text) + "`";
    default: return "floating point `" + float_text(n.f) + "`";
  }
}

// The reader's input: a writable copy of the text, parsed in place. Like
// RapidJSON's own in-place stream, but bounded like its memory stream (at
// the end it reads NUL bytes and stays there, so a truncated UTF-8 sequence
// neither reads nor writes past it), and the reader works on this object
// itself rather than on a private copy of it (RapidJSON copies only stream
// types it knows), so that the handler reads the live position.
class InPlaceStream {
 public:
  using Ch = char;
  // `text` must be followed by a NUL byte (as a std::string's data is): at
  // the end, reads see that NUL and do not move.
  InPlaceStream(char* text, size_t size) : src_(text), end_(text + size), head_(text) {}
  Ch Peek() const { return *src_; }
  Ch Take() {
    Ch c = *src_;
    if (src_ != end_) ++src_;
    return c;
  }
  size_t Tell() const { return static_cast<size_t>(src_ - head_); }
  // Writes go behind the reading position; a sequence cut off by the end
  // (whose reads return NUL without moving) must not write past it either.
  void Put(Ch c) {
    if (c == '\xED') note_surrogate_escape();
    if (dst_ != end_) *dst_++ = c;
  }
  // Offset of the first escape \uDC00 to \uDFFF that no leading surrogate
  // escape came before, if the reader has decoded one.
  std::optional<size_t> lone_trailing_surrogate() const { return lone_trailing_; }
  Ch* PutBegin() { return dst_ = src_; }
  size_t PutEnd(Ch* begin) { return static_cast<size_t>(dst_ - begin); }
  void Flush() {}
  Ch* Push(size_t count) {
    Ch* begin = dst_;
    dst_ += count;
    return begin;
  }
  void Pop(size_t count) { dst_ -= count; }

 private:
  // The reader refuses a lone leading surrogate escape itself, but decodes a
  // lone trailing one (a surrogate pair becomes four bytes from 0xF0) into
  // 0xED and a byte from 0xB0: not UTF-8. Its first byte is written right
  // after the escape's last hex digit was read, while the six bytes of the
  // escape still lie untouched behind the reading position (the decoded text
  // is never longer than its source). A raw 0xED from the text is written
  // right after it was read, and the reader checks what follows it.
  void note_surrogate_escape() {
    if (lone_trailing_ || src_[-1] == '\xED' || Tell() < 6) return;
    const char third = src_[-3];  // \uD?xx: C to F for a trailing surrogate
    bool trailing = (third >= 'c' && third <= 'f') || (third >= 'C' && third <= 'F');
    if (trailing && src_[-6] == '\\') lone_trailing_ = Tell() - 6;
  }

  Ch* src_;
  Ch* end_;
  Ch* dst_ = nullptr;
  Ch* head_;
  std::optional<size_t> lone_trailing_;
};

// SAX handler that builds the record. It reads the stream's position to
// place its own faults.
class RecordHandler {
 public:
  RecordHandler(std::string_view text, const InPlaceStream& stream,
                const JsonRecordShape& shape)
      : text_(text), stream_(stream), shape_(shape), values_(shape.fields.size()),
        seen_(shape.fields.size(), false) {}

  bool failed() const { return !fault_.empty(); }
  const std::string& fault() const { return fault_; }
  std::vector<JsonValue>& values() { return values_; }

  // ---- rapidjson handler interface ----
  bool Null() { return skipping() ? skip() : scalar(Token::kNull, {}); }
  bool Bool(bool b) {
    return skipping() ? skip() : scalar(b ? Token::kTrue : Token::kFalse, {});
  }
  bool Int(int) { return unreachable(); }
  bool Uint(unsigned) { return unreachable(); }
  bool Int64(int64_t) { return unreachable(); }
  bool Uint64(uint64_t) { return unreachable(); }
  bool Double(double) { return unreachable(); }
  bool RawNumber(const char*, rapidjson::SizeType length, bool) {
    if (skipping()) return skip();
    // The number is the `length` bytes just read; taken from the text itself,
    // since RapidJSON versions differ in where they point for an in-place
    // parse.
    return scalar(Token::kNumber, text_.substr(stream_.Tell() - length, length));
  }
  bool String(const char* str, rapidjson::SizeType length, bool) {
    if (stream_.lone_trailing_surrogate()) return false;
    return skipping() ? skip() : scalar(Token::kString, std::string_view(str, length));
  }
  bool StartObject() { return open(true); }
  bool Key(const char* str, rapidjson::SizeType length, bool) {
    if (stream_.lone_trailing_surrogate()) return false;
    if (depth_ != 1 || !top_is_object_) return true;  // keys inside skipped values
    std::string_view key(str, length);
    current_ = -1;
    for (size_t i = 0; i < shape_.fields.size(); ++i) {
      if (shape_.fields[i].name == key) {
        if (seen_[i]) return fail("duplicate field `" + std::string(key) + "`");
        seen_[i] = true;
        current_ = static_cast<int>(i);
        break;
      }
    }
    return true;
  }
  bool EndObject(rapidjson::SizeType) { return close(); }
  bool StartArray() { return open(false); }
  bool EndArray(rapidjson::SizeType) { return close(); }

 private:
  enum class Token { kNull, kTrue, kFalse, kNumber, kString };

  bool unreachable() { return fail("unexpected number form"); }

  // True inside a container that no field takes (below the top level, and
  // not the array of a list field): its scalars need no look at all.
  bool skipping() const { return depth_ > 2 || (depth_ == 2 && list_field_ < 0); }
  bool skip() {
    last_end_ = stream_.Tell();
    return true;
  }

  bool fail(std::string message) {
    fault_ = message + place(text_, stream_.Tell(), false);
    return false;
  }
  bool fail_at_byte(std::string message, size_t offset) {
    fault_ = message + place(text_, offset, true);
    return false;
  }

  static std::string describe(Token t, std::string_view s, const Number* n) {
    switch (t) {
      case Token::kNull: return "null";
      case Token::kTrue: return "boolean `true`";
      case Token::kFalse: return "boolean `false`";
      case Token::kString: return "string " + quoted(s);
      case Token::kNumber: return unexpected_number(*n);
    }
    return "value";
  }

  // The field a value at the current position belongs to, or nullptr when
  // the value is skipped. Fails for an array element past the last field.
  bool locate(const JsonField** field, int* index) {
    *field = nullptr;
    *index = -1;
    if (depth_ == 1) {
      if (top_is_object_) {
        *index = current_;
      } else {
        size_t i = element_count_++;
        if (i >= shape_.fields.size()) {
          // More elements than fields: the record ends after the last field.
          size_t at = stream_.Tell();
          return fail_at_byte("trailing characters", start_of_next_value(at));
        }
        *index = static_cast<int>(i);
      }
      if (*index >= 0) *field = &shape_.fields[static_cast<size_t>(*index)];
    } else if (depth_ == 2 && list_field_ >= 0) {
      *index = list_field_;
      *field = &shape_.fields[static_cast<size_t>(list_field_)];
    }
    return true;
  }

  // The first byte of the value that ends at or before `at`, found by
  // scanning from the end of the previous value.
  size_t start_of_next_value(size_t at) const {
    size_t p = last_end_;
    while (p < at && (is_json_space(text_[p]) || text_[p] == ',')) ++p;
    return p;
  }

  // One scalar value; `s` is the text of a string or of a number. A number
  // is read from its text only where its value or its description is needed,
  // so that skipped values and list elements cost no more than the reader's
  // own scan.
  bool scalar(Token t, std::string_view s) {
    std::optional<Number> number;
    auto read_number = [&]() -> const Number* {
      if (t != Token::kNumber) return nullptr;
      if (!number) number = classify_number(s);
      return &*number;
    };
    if (depth_ == 0) {
      return fail("invalid type: " + describe(t, s, read_number()) + ", expected struct " +
                  std::string(shape_.name));
    }
    const JsonField* field;
    int index;
    if (!locate(&field, &index)) return false;
    last_end_ = stream_.Tell();
    if (field == nullptr) return true;  // skipped value
    if (t == Token::kNumber && may_be_out_of_range(s) &&
        read_number()->kind == Number::kOutOfRange) {
      return fail("number out of range");
    }
    bool in_list = depth_ == 2;
    if (in_list) {
      // An element of a list field.
      if (field->type == JsonFieldType::kStringList && t == Token::kString) return true;
      if (field->type == JsonFieldType::kF32List && t == Token::kNumber) return true;
      const char* want = field->type == JsonFieldType::kStringList ? "a string" : "f32";
      return fail("invalid type: " + describe(t, s, read_number()) + ", expected " + want);
    }
    const Number* n = read_number();
    JsonValue& slot = values_[static_cast<size_t>(index)];
    if (t == Token::kNull && field->optional) return true;
    switch (field->type) {
      case JsonFieldType::kString:
      case JsonFieldType::kPath:
        if (t == Token::kString) {
          slot = std::string(s);
          return true;
        }
        break;
      case JsonFieldType::kI32:
        if (t != Token::kNumber) break;
        if (n->kind == Number::kFloat) break;
        if (n->kind == Number::kBigInteger || (n->kind == Number::kUnsigned && n->u > INT32_MAX) ||
            (n->kind == Number::kSigned && n->i < INT32_MIN)) {
          return fail("invalid value: " + unexpected_number(*n) + ", expected i32");
        }
        slot = n->kind == Number::kUnsigned ? static_cast<int32_t>(n->u)
                                            : static_cast<int32_t>(n->i);
        return true;
      case JsonFieldType::kF32:
        if (t != Token::kNumber) break;
        slot = nearest_float(n->kind == Number::kUnsigned ? static_cast<double>(n->u)
                             : n->kind == Number::kSigned ? static_cast<double>(n->i)
                                                          : n->f);
        return true;
      case JsonFieldType::kBool:
        if (t == Token::kTrue || t == Token::kFalse) {
          slot = t == Token::kTrue;
          return true;
        }
        break;
      case JsonFieldType::kStringList:
      case JsonFieldType::kF32List:
        break;
    }
    return fail("invalid type: " + describe(t, s, n) + ", expected " + expected_text(field->type));
  }

  bool open(bool object) {
    if (depth_ == 0) {
      ++depth_;
      top_is_object_ = object;
      last_end_ = stream_.Tell();
      return true;
    }
    const JsonField* field;
    int index;
    if (!locate(&field, &index)) return false;
    ++depth_;
    if (depth_ > kJsonMaxDepth) return fail("recursion limit exceeded");
    if (field == nullptr || depth_ > 2 + (list_field_ >= 0 ? 1 : 0)) {
      ++skip_;
      return true;
    }
    if (depth_ == 2 && !object &&
        (field->type == JsonFieldType::kStringList || field->type == JsonFieldType::kF32List)) {
      list_field_ = index;
      return true;
    }
    const char* what = object ? "map" : "sequence";
    if (depth_ == 3) {
      const char* want = field->type == JsonFieldType::kStringList ? "a string" : "f32";
      return fail(std::string("invalid type: ") + what + ", expected " + want);
    }
    return fail(std::string("invalid type: ") + what + ", expected " + expected_text(field->type));
  }

  bool close() {
    --depth_;
    last_end_ = stream_.Tell();
    if (skip_ > 0) {
      --skip_;
      return true;
    }
    if (depth_ == 1 && list_field_ >= 0) {
      list_field_ = -1;
      return true;
    }
    if (depth_ != 0) return true;
    size_t n = shape_.fields.size();
    if (top_is_object_) {
      for (size_t i = 0; i < n; ++i) {
        if (!seen_[i] && !shape_.fields[i].optional) {
          return fail("missing field `" + std::string(shape_.fields[i].name) + "`");
        }
      }
      return true;
    }
    if (element_count_ < n) {
      return fail("invalid length " + std::to_string(element_count_) + ", expected struct " +
                  std::string(shape_.name) + " with " + std::to_string(n) + " elements");
    }
    return true;
  }

  std::string_view text_;
  const InPlaceStream& stream_;
  const JsonRecordShape& shape_;
  std::vector<JsonValue> values_;
  std::vector<bool> seen_;
  std::string fault_;
  int depth_ = 0;
  int skip_ = 0;               // open containers inside a skipped value
  bool top_is_object_ = true;
  int current_ = -1;           // field of the value after the current key
  int list_field_ = -1;        // list field whose array is open
  size_t element_count_ = 0;   // elements seen in the array form
  size_t last_end_ = 0;        // offset just past the last value
};

// A surrogate escape without its partner, leading or trailing.
constexpr const char* kLoneSurrogate = "lone leading surrogate in hex escape";

std::string syntax_fault(rapidjson::ParseErrorCode code, std::string_view text, size_t offset) {
  bool at_end = offset >= text.size();
  char c = at_end ? '\0' : text[offset];
  const char* what;
  switch (code) {
    case rapidjson::kParseErrorDocumentEmpty:
      what = "EOF while parsing a value";
      break;
    case rapidjson::kParseErrorDocumentRootNotSingular:
      what = "trailing characters";
      break;
    case rapidjson::kParseErrorValueInvalid:
      if (at_end) {
        what = "EOF while parsing a value";
      } else if (c == ']' || c == '}') {
        what = "trailing comma";
      } else {
        what = "expected value";
      }
      break;
    case rapidjson::kParseErrorObjectMissName:
      what = at_end ? "EOF while parsing an object" : c == '}' ? "trailing comma"
                                                                 : "key must be a string";
      break;
    case rapidjson::kParseErrorObjectMissColon:
      what = at_end ? "EOF while parsing an object" : "expected `:`";
      break;
    case rapidjson::kParseErrorObjectMissCommaOrCurlyBracket:
      what = at_end ? "EOF while parsing an object" : "expected `,` or `}`";
      break;
    case rapidjson::kParseErrorArrayMissCommaOrSquareBracket:
      what = at_end ? "EOF while parsing a list" : "expected `,` or `]`";
      break;
    case rapidjson::kParseErrorStringUnicodeEscapeInvalidHex:
      what = at_end ? "EOF while parsing a string" : "invalid escape";
      break;
    case rapidjson::kParseErrorStringUnicodeSurrogateInvalid:
      what = kLoneSurrogate;
      break;
    case rapidjson::kParseErrorStringEscapeInvalid:
      what = at_end ? "EOF while parsing a string"
             : static_cast<unsigned char>(c) < 0x20
                 ? "control character (\\u0000-\\u001F) found while parsing a string"
                 : "invalid escape";
      break;
    case rapidjson::kParseErrorStringMissQuotationMark:
      what = at_end ? "EOF while parsing a string"
                    : "control character (\\u0000-\\u001F) found while parsing a string";
      break;
    case rapidjson::kParseErrorStringInvalidEncoding:
      what = (!at_end && static_cast<unsigned char>(c) < 0x20)
                 ? "control character (\\u0000-\\u001F) found while parsing a string"
                 : "invalid unicode code point";
      break;
    case rapidjson::kParseErrorNumberTooBig:
      what = "number out of range";
      break;
    case rapidjson::kParseErrorNumberMissFraction:
    case rapidjson::kParseErrorNumberMissExponent:
      what = at_end ? "EOF while parsing a value" : "invalid number";
      break;
    default:
      what = "invalid JSON";
      break;
  }
  return what + place(text, offset, true);
}

}  // namespace

Result<std::vector<JsonValue>> parse_json_record(std::string_view text,
                                                 const JsonRecordShape& shape) {
  // The reader works in place on a copy: it decodes strings there and hands
  // numbers over where they lie, instead of copying every character of them
  // through its own stack. Messages still quote `text`.
  std::string scratch(text);
  InPlaceStream stream(scratch.data(), scratch.size());
  RecordHandler handler(text, stream, shape);
  rapidjson::Reader reader;
  constexpr unsigned kFlags = rapidjson::kParseValidateEncodingFlag |
                              rapidjson::kParseNumbersAsStringsFlag |
                              rapidjson::kParseStopWhenDoneFlag | rapidjson::kParseInsituFlag;
  rapidjson::ParseResult ok = reader.Parse<kFlags>(stream, handler);
  if (!ok) {
    // A lone trailing surrogate is the first fault: the handler stops at the
    // end of its string, and anything the reader meets later in that string
    // lies after it.
    if (auto at = stream.lone_trailing_surrogate()) {
      return Error(kLoneSurrogate + place(text, *at, true));
    }
    if (handler.failed()) return Error(handler.fault());
    return Error(syntax_fault(ok.Code(), text, ok.Offset()));
  }
  // The reader stops after the value; only white space may follow. (A NUL
  // byte looks like the end to the reader, so the rest is checked here.)
  for (size_t i = stream.Tell(); i < text.size(); ++i) {
    if (!is_json_space(text[i])) return Error("trailing characters" + place(text, i, true));
  }
  return std::move(handler.values());
}

std::string json_object_with_string(std::string_view key, std::string_view value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
  writer.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace velmora_corvane_tts
