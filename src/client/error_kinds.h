// The one table that maps every error reply text of the helper to its
// ErrorKind, and the names of the kinds. docs/protocol.md lists the same
// table; tests/docs/protocol_guide_test.cc checks the two against each other
// and against the helper's sources.
#ifndef VELMORA_CORVANE_TTS_CLIENT_ERROR_KINDS_H_
#define VELMORA_CORVANE_TTS_CLIENT_ERROR_KINDS_H_

#include <span>
#include <string_view>

#include "velmora_corvane/error.h"

namespace velmora_corvane {

// A reply text as the helper writes it, `{}` standing for a value filled in
// (a number, a model directory, a file name or a parser's description).
struct MessageKind {
  std::string_view pattern;
  ErrorKind kind;
};

// Every row, in the order they are tried. Exported as a test seam: the
// tests check the rows against the protocol guide and the helper's sources.
std::span<const MessageKind> message_kinds();

// True when `message` is `pattern` with each `{}` replaced by any text
// (possibly empty).
bool matches_message_pattern(std::string_view pattern, std::string_view message);

}  // namespace velmora_corvane

#endif  // VELMORA_CORVANE_TTS_CLIENT_ERROR_KINDS_H_
