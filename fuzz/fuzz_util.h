// Checks shared by the fuzz targets. A failed check prints what was expected
// and aborts, which libFuzzer reports as a crash with the input saved.
#ifndef VELMORA_CORVANE_TTS_FUZZ_FUZZ_UTIL_H_
#define VELMORA_CORVANE_TTS_FUZZ_FUZZ_UTIL_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/coding.h"
#include "common/text.h"

namespace velmora_corvane_tts::fuzzing {

[[noreturn]] inline void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::abort();
}

inline void check(bool condition, const std::string& what) {
  if (!condition) fail(what);
}

// Frames are read back with the helper's own byte order.
using velmora_corvane_tts::decode_fixed32;
using velmora_corvane_tts::decode_fixed64;

inline bool valid_utf8(std::string_view s) { return to_valid_utf8(s) == s; }

// A message as it may go on the wire: valid UTF-8, no control characters,
// at most 4,000 characters.
inline void check_wire_message(std::string_view m) {
  check(valid_utf8(m), "a wire message is not valid UTF-8");
  check(count_chars(m) <= kMaxMessageChars, "a wire message is longer than 4000 characters");
  check(clean_message(m) == m, "a wire message holds control characters");
}

// A parser message ends with " at line {L} column {C}", L >= 1.
inline void check_parser_place(std::string_view m) {
  size_t at = m.rfind(" at line ");
  check(at != std::string_view::npos, "parser message without its place: " + std::string(m));
  std::string_view rest = m.substr(at + 9);
  size_t col = rest.find(" column ");
  check(col != std::string_view::npos && col > 0, "parser message without a column: " + std::string(m));
  std::string_view line = rest.substr(0, col), column = rest.substr(col + 8);
  check(!column.empty(), "parser message with an empty column");
  for (char c : line) check(c >= '0' && c <= '9', "line is not a number: " + std::string(m));
  for (char c : column) check(c >= '0' && c <= '9', "column is not a number: " + std::string(m));
  check(line != "0", "line 0 in " + std::string(m));
}

// Runs a target's service inside its model directory root, so that the
// corpus can name models by short relative paths; libFuzzer's own paths stay
// relative to where it was started. Lifetime: restores the working
// directory when it goes.
class InDirectory {
 public:
  explicit InDirectory(const std::filesystem::path& dir) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~InDirectory() { std::filesystem::current_path(previous_); }
  InDirectory(const InDirectory&) = delete;
  InDirectory& operator=(const InDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

}  // namespace velmora_corvane_tts::fuzzing

#endif  // VELMORA_CORVANE_TTS_FUZZ_FUZZ_UTIL_H_
