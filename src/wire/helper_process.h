// The helper (or any program that speaks its protocols) as a child process:
// requests written to its standard input, replies read from its standard
// output with a time limit, and its end. Built on platform::Child, so that
// it holds no operating-system detail of its own.
#ifndef VELMORA_CORVANE_TTS_WIRE_HELPER_PROCESS_H_
#define VELMORA_CORVANE_TTS_WIRE_HELPER_PROCESS_H_

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"
#include "wire/wire.h"

namespace velmora_corvane_tts::wire {

class HelperProcess {
 public:
  // How long a read waits for the next byte before it gives up.
  static constexpr std::chrono::milliseconds kDefaultPatience{300000};

  HelperProcess() = default;

  // Starts `argv`; 0, or the operating-system error number.
  int start(const std::vector<std::string>& argv, const platform::ChildOptions& options = {});

  // Writes all of `bytes` to standard input; false when the child stops
  // reading (its input is closed, or it has gone).
  bool send(std::string_view bytes);

  // Reads exactly `n` bytes of standard output; fewer when it ends or when
  // nothing arrives for `patience`.
  std::string receive(size_t n, std::chrono::milliseconds patience = kDefaultPatience);
  // Reads until standard output ends.
  std::string receive_all();

  // The next reply frame; std::nullopt when the output ends or stalls first.
  std::optional<SynthesisReply> receive_synthesis_reply(
      std::chrono::milliseconds patience = kDefaultPatience);
  std::optional<StreamReply> receive_stream_reply(
      std::chrono::milliseconds patience = kDefaultPatience);

  platform::Child& child() { return child_; }
  const platform::Child& child() const { return child_; }

 private:
  template <typename Reply>
  std::optional<Reply> receive_reply(ReplyReader<Reply>& reader,
                                     std::chrono::milliseconds patience);

  platform::Child child_;
  SynthesisReplyReader synthesis_;
  StreamReplyReader stream_;
};

}  // namespace velmora_corvane_tts::wire

#endif  // VELMORA_CORVANE_TTS_WIRE_HELPER_PROCESS_H_
