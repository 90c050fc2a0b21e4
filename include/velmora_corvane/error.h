// The client library's errors: a kind an application can act on, the text
// that explains it, and for a helper that ended, what it wrote to standard
// error on its way out. Errors are values: no function of the library
// throws. Result<T> holds either a T or an Error.
//
// Thread safety: these are plain values; a const object is safe to use from
// several threads.
#ifndef VELMORA_CORVANE_ERROR_H_
#define VELMORA_CORVANE_ERROR_H_

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace velmora_corvane {

// The class of a failure. The first group names every error reply of the
// helper (its text is kept in Error::message()); the second group is the
// library's own, with a text the library writes.
enum class ErrorKind {
  // Replies of the helper.
  kInvalidRequest,     // a malformed frame or request: a client bug
  kEmptyText,          // nothing to say
  kTextTooLong,        // more than 10,000 characters in one request
  kInvalidSpeed,       // a speed that is not finite
  kUnsupportedModel,   // a model id the helper does not know
  kInvalidVoice,       // a voice number out of range, or a language it lacks
  kModelLoadFailed,    // the model directory is missing files or is broken
  kSynthesisFailed,    // the runtime failed on this text
  kResponseTooLarge,   // the audio would be too large: split the text
  kNoModelLoaded,      // stream mode: Finish before a successful Open
  kNoOpenRecording,    // stream mode: the recording is not the open one
  kRecognitionFailed,  // stream mode: the runtime failed on this recording
  kUnknown,            // a reply text this library does not know
  // The library's own.
  kHelperExited,       // the helper ended while the request was in flight
  kTimedOut,           // no reply within the timeout; the helper was ended
  kRefusedLocally,     // refused before sending: the helper would refuse it too
  kHelperUnavailable,  // the helper cannot be started, or is held back
};

// "kInvalidRequest" for ErrorKind::kInvalidRequest, and so on.
std::string_view error_kind_name(ErrorKind kind);

// The kind of an error reply text of the helper; kUnknown for a text it
// never sends.
ErrorKind error_kind_of_message(std::string_view message);

class Error {
 public:
  Error(ErrorKind kind, std::string message, std::vector<std::string> helper_stderr = {})
      : kind_(kind), message_(std::move(message)), helper_stderr_(std::move(helper_stderr)) {}

  ErrorKind kind() const { return kind_; }
  // The helper's text for its replies; the library's own English sentence
  // otherwise. No trailing full stop or line break.
  const std::string& message() const { return message_; }
  // kHelperExited and kTimedOut: the lines the helper wrote to standard
  // error from the start of the failed request to its end (line breaks
  // removed). Empty otherwise.
  const std::vector<std::string>& helper_stderr() const { return helper_stderr_; }

 private:
  ErrorKind kind_;
  std::string message_;
  std::vector<std::string> helper_stderr_;
};

// Either a T or an Error. Check ok() before value() or error().
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}      // NOLINT: implicit by design
  Result(Error error) : state_(std::move(error)) {}  // NOLINT

  bool ok() const { return state_.index() == 0; }
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const Error& error() const& { return std::get<1>(state_); }
  Error&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, Error> state_;
};

// Success without a value, or an Error.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : state_(std::move(error)) {}  // NOLINT

  bool ok() const { return state_.index() == 0; }
  const Error& error() const& { return std::get<1>(state_); }
  Error&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<std::monostate, Error> state_;
};

}  // namespace velmora_corvane

#endif  // VELMORA_CORVANE_ERROR_H_
