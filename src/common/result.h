// Errors are values: an operation that can fail returns a Result holding
// either its value or an Error carrying an English sentence. Nothing is
// thrown across module boundaries.
#ifndef VELMORA_CORVANE_TTS_COMMON_RESULT_H_
#define VELMORA_CORVANE_TTS_COMMON_RESULT_H_

#include <string>
#include <utility>
#include <variant>

namespace velmora_corvane_tts {

// A failure description. The text has no trailing full stop or line break.
class Error {
 public:
  explicit Error(std::string message) : message_(std::move(message)) {}
  const std::string& message() const { return message_; }
  std::string&& take_message() { return std::move(message_); }

 private:
  std::string message_;
};

// Either a T or an Error. Check ok() before calling value().
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}  // NOLINT: implicit by design
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
  Result(Error error) : error_(std::move(error)), ok_(false) {}  // NOLINT

  bool ok() const { return ok_; }
  const Error& error() const& { return error_; }
  Error&& error() && { return std::move(error_); }

 private:
  Error error_{std::string()};
  bool ok_ = true;
};

using Status = Result<void>;

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_COMMON_RESULT_H_
