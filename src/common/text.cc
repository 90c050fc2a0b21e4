#include "common/text.h"

#include <cstdint>

namespace velmora_corvane_tts {
namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes one scalar value at `pos`, advancing it. On an invalid sequence
// returns kInvalid and advances past its maximal invalid prefix (at least one
// byte), the unit that one U+FFFD replaces.
char32_t decode_one(std::string_view s, size_t& pos) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
  uint8_t b0 = byte(pos);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  size_t need;
  char32_t c;
  uint8_t lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    c = b0 & 0x1Fu;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    c = b0 & 0x0Fu;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    c = b0 & 0x07u;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    ++pos;
    return kInvalid;
  }
  size_t i = pos + 1;
  for (size_t k = 0; k < need; ++k, ++i) {
    if (i >= s.size()) {
      pos = i;
      return kInvalid;
    }
    uint8_t b = byte(i);
    if (b < lo || b > hi) {
      pos = i;
      return kInvalid;
    }
    lo = 0x80;
    hi = 0xBF;
    c = (c << 6) | (b & 0x3Fu);
  }
  pos = i;
  return c;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool is_control(char32_t c) { return c <= 0x1F || (c >= 0x7F && c <= 0x9F); }

}  // namespace

std::string to_valid_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t pos = 0;
  while (pos < bytes.size()) {
    // A run of ASCII (all of a recogniser result, usually) goes over as it is.
    size_t run = pos;
    while (run < bytes.size() && static_cast<uint8_t>(bytes[run]) < 0x80) ++run;
    out.append(bytes.substr(pos, run - pos));
    pos = run;
    if (pos == bytes.size()) break;
    size_t start = pos;
    char32_t c = decode_one(bytes, pos);
    if (c == kInvalid) {
      out += "\xEF\xBF\xBD";
    } else {
      out.append(bytes.substr(start, pos - start));
    }
  }
  return out;
}

std::string clean_message(std::string_view message) {
  std::string out;
  out.reserve(message.size() < 4 * kMaxMessageChars ? message.size() : 4 * kMaxMessageChars);
  size_t kept = 0;
  size_t pos = 0;
  while (pos < message.size() && kept < kMaxMessageChars) {
    char32_t c = decode_one(message, pos);
    if (c == kInvalid) c = 0xFFFD;
    if (is_control(c)) continue;
    append_utf8(out, c);
    ++kept;
  }
  return out;
}

namespace {

// True for the characters with the Unicode White_Space property.
bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
  size_t pos = 0;
  size_t first = text.size();
  size_t last = 0;  // one past the last non-space character
  while (pos < text.size()) {
    size_t start = pos;
    char32_t c = decode_one(text, pos);
    if (!is_white_space(c)) {
      if (first == text.size()) first = start;
      last = pos;
    }
  }
  if (first == text.size()) return text.substr(0, 0);
  return text.substr(first, last - first);
}

size_t count_chars(std::string_view text) {
  size_t n = 0;
  for (char ch : text) {
    if ((static_cast<uint8_t>(ch) & 0xC0) != 0x80) ++n;
  }
  return n;
}

}  // namespace velmora_corvane_tts
