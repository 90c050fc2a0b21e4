#include "client/error_kinds.h"

#include <array>

namespace velmora_corvane {
namespace {

using enum ErrorKind;

// Tried in order: a row whose pattern begins with `{}` comes after the rows
// it could otherwise swallow.
constexpr std::array<MessageKind, 23> kMessageKinds = {{
    // Synthesis mode.
    {"Invalid request frame length: {}", kInvalidRequest},
    {"Invalid request JSON: {}", kInvalidRequest},
    {"Speech text is empty", kEmptyText},
    {"Local speech is limited to {} characters per response", kTextTooLong},
    {"Speech speed is invalid", kInvalidSpeed},
    {"The requested local model is not supported", kUnsupportedModel},
    {"Unsupported local speech model", kUnsupportedModel},
    {"The selected local voice is invalid", kInvalidVoice},
    {"Could not load the local speech model from {}", kModelLoadFailed},
    {"The local model could not synthesize this response", kSynthesisFailed},
    {"The local model reported an invalid sample rate", kSynthesisFailed},
    {"The local model returned no audio", kSynthesisFailed},
    {"Generated speech is too large to buffer", kResponseTooLarge},
    {"Generated speech exceeded the in-memory response limit", kResponseTooLarge},
    // Stream mode.
    {"The open request is too large", kInvalidRequest},
    {"Invalid open request: {}", kInvalidRequest},
    {"Unknown request tag {}", kInvalidRequest},
    {"Could not load the streaming speech model from {}", kModelLoadFailed},
    {"No speech model is loaded", kNoModelLoaded},
    {"The streaming voice runtime has no open stream for this recording", kNoOpenRecording},
    {"The streaming voice runtime could not decode this recording", kRecognitionFailed},
    {"The streaming voice runtime could not open a stream", kRecognitionFailed},
    {"{} is missing from {}", kModelLoadFailed},
}};

constexpr std::string_view kHole = "{}";

}  // namespace

std::span<const MessageKind> message_kinds() { return kMessageKinds; }

bool matches_message_pattern(std::string_view pattern, std::string_view message) {
  size_t hole = pattern.find(kHole);
  if (hole == std::string_view::npos) return pattern == message;
  // The text before the first hole is a prefix; after that, every piece is
  // found in order, leftmost first, and the last one must end the message.
  if (message.substr(0, hole) != pattern.substr(0, hole)) return false;
  size_t at = hole;
  pattern.remove_prefix(hole + kHole.size());
  while (true) {
    hole = pattern.find(kHole);
    std::string_view piece = pattern.substr(0, hole);
    if (hole == std::string_view::npos) {
      return message.size() - at >= piece.size() &&
             message.substr(message.size() - piece.size()) == piece;
    }
    size_t found = message.find(piece, at);
    if (found == std::string_view::npos) return false;
    at = found + piece.size();
    pattern.remove_prefix(hole + kHole.size());
  }
}

ErrorKind error_kind_of_message(std::string_view message) {
  for (const MessageKind& row : kMessageKinds) {
    if (matches_message_pattern(row.pattern, message)) return row.kind;
  }
  return kUnknown;
}

std::string_view error_kind_name(ErrorKind kind) {
  switch (kind) {
    case kInvalidRequest: return "kInvalidRequest";
    case kEmptyText: return "kEmptyText";
    case kTextTooLong: return "kTextTooLong";
    case kInvalidSpeed: return "kInvalidSpeed";
    case kUnsupportedModel: return "kUnsupportedModel";
    case kInvalidVoice: return "kInvalidVoice";
    case kModelLoadFailed: return "kModelLoadFailed";
    case kSynthesisFailed: return "kSynthesisFailed";
    case kResponseTooLarge: return "kResponseTooLarge";
    case kNoModelLoaded: return "kNoModelLoaded";
    case kNoOpenRecording: return "kNoOpenRecording";
    case kRecognitionFailed: return "kRecognitionFailed";
    case kUnknown: return "kUnknown";
    case kHelperExited: return "kHelperExited";
    case kTimedOut: return "kTimedOut";
    case kRefusedLocally: return "kRefusedLocally";
    case kHelperUnavailable: return "kHelperUnavailable";
  }
  return "kUnknown";
}

}  // namespace velmora_corvane
