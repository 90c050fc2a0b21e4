// UTF-8 text helpers shared by both services.
#ifndef VELMORA_CORVANE_TTS_COMMON_TEXT_H_
#define VELMORA_CORVANE_TTS_COMMON_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora_corvane_tts {

// Longest message, in Unicode scalar values, that goes on the wire.
inline constexpr size_t kMaxMessageChars = 4000;

// Copies `bytes`, replacing every maximal invalid UTF-8 subsequence with
// U+FFFD. Valid input is returned unchanged.
std::string to_valid_utf8(std::string_view bytes);

// The wire form of a message: control characters (U+0000 to U+001F and
// U+007F to U+009F) removed, not replaced, and everything after the first
// kMaxMessageChars kept characters cut. Invalid UTF-8 becomes U+FFFD first.
std::string clean_message(std::string_view message);

// `text` (valid UTF-8) without leading and trailing characters that have
// the Unicode White_Space property.
std::string_view trim_white_space(std::string_view text);

// Number of Unicode scalar values in `text` (valid UTF-8).
size_t count_chars(std::string_view text);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_COMMON_TEXT_H_
