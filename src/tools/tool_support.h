// What the command-line tools share: their option parsing and their one-line
// errors ("corvane-say: <what went wrong>").
#ifndef VELMORA_CORVANE_TTS_TOOLS_TOOL_SUPPORT_H_
#define VELMORA_CORVANE_TTS_TOOLS_TOOL_SUPPORT_H_

#include <charconv>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora_corvane_tts::tools {

// Exit status of a usage error, for every tool.
inline constexpr int kUsageStatus = 2;

// Writes "{tool}: {message}" on standard error; returns `status`.
int fail(std::string_view tool, std::string_view message, int status);

// fail() with " (see --help)" and kUsageStatus.
int usage_error(std::string_view tool, std::string_view message);

// Options as "--name value" or "--name=value", flags as "--name"; "-h" and
// "--help" print the usage text; "--" ends the options. Everything else is
// an operand.
class ToolArgs {
 public:
  struct Option {
    std::string_view name;
    std::string* value;
  };
  struct Flag {
    std::string_view name;
    bool* value;
  };

  ToolArgs(std::string_view tool, std::string_view usage) : tool_(tool), usage_(usage) {}

  // False when the tool should exit at once with status(): after --help
  // (status 0, the usage on standard output) or a usage error (reported).
  bool parse(int argc, char** argv, std::initializer_list<Option> options,
             std::vector<std::string>* operands, std::initializer_list<Flag> flags = {});
  int status() const { return status_; }

 private:
  std::string_view tool_;
  std::string_view usage_;
  int status_ = 0;
};

// A tool's main: runs `run` with the arguments in UTF-8 (on Windows taken
// from the wide command line) and the standard streams carrying bytes
// unchanged (Windows opens them in text mode). SIGPIPE keeps its default.
int tool_main(int argc, char** argv, int (*run)(int, char**));

// The whole of `text` as a number, or std::nullopt.
template <typename T>
std::optional<T> parse_number(const std::string& text) {
  T value{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

}  // namespace velmora_corvane_tts::tools

#endif  // VELMORA_CORVANE_TTS_TOOLS_TOOL_SUPPORT_H_
