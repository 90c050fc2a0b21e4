// Runs the helper (or another program) as a child over pipes through the
// wire kit (src/wire/), feeds it input and collects everything it writes;
// and the few things the tests add around it.
#ifndef VELMORA_CORVANE_TTS_TESTS_SUPPORT_CHILD_PROCESS_H_
#define VELMORA_CORVANE_TTS_TESTS_SUPPORT_CHILD_PROCESS_H_

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/coding.h"
#include "wire/helper_process.h"
#include "wire/wire.h"

namespace velmora_corvane_tts::testing {

struct ChildResult {
  std::string out;     // bytes written to standard output
  std::string err;     // bytes written to standard error
  int exit_code = -1;  // exit status, or -1 when killed
  int signal = 0;      // the killing signal, if any
};

struct ChildOptions {
  bool close_stdout_early = false;  // the reader of standard output goes away at once
  size_t write_chunk = 0;           // >0: deliver input this many bytes at a time
  std::string working_dir;          // empty: inherit
};

// Runs `argv` (argv[0] is the program path) with `input` on standard input,
// then closes it.
ChildResult run_child(const std::vector<std::string>& argv, const std::string& input,
                      const ChildOptions& options = {});

// Path of the built helper binary, or of the launcher named by the
// environment variable VCT_WINE_HELPER: a program that runs the Windows
// build of the helper under Wine with the arguments it is given.
std::string helper_path();
// True when VCT_WINE_HELPER names the helper. The few outcomes that differ
// there are marked where they are checked.
bool helper_under_wine();
// The helper built beside the tests (the Linux one), whatever helper_path() is.
std::string native_helper_path();
// Path of the command-line tool `name` built beside the helper, or of its
// launcher in the directory named by VCT_WINE_TOOLS (the Windows tool under
// Wine, which starts the Windows helper beside it).
std::string tool_path(const std::string& name);
bool tools_under_wine();

// The description of a write to a pipe whose reader has gone, as the helper
// reports it. Linux: EPIPE. The Windows helper gets ERROR_NO_DATA (232)
// when its parent is a Windows process and ERROR_PIPE_NOT_CONNECTED (233)
// under Wine, whose parent here is a Linux process; the text is Wine's.
std::string broken_pipe_description();
// Root of the source tree.
std::string source_dir();

// A fresh empty directory under the system's temporary directory, removed
// with everything in it when the object is destroyed.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// `v` as 4 little-endian bytes, for frames built by hand.
inline std::string le32(uint32_t v) {
  std::string s;
  put_fixed32(s, v);
  return s;
}

// Runs a command through /bin/sh; returns its exit status (-1 on failure to start).
int run_shell(const std::string& command);

// `argv` run as a user who cannot read a file of mode 000: unchanged when
// this process is not root; as "nobody" through util-linux's setpriv when it
// is. Empty, with the reason in `why`, when that cannot be done (no setpriv,
// or the program, its libraries or the working directory are out of that
// user's reach). Files the program must read then need to be readable by
// others, and their directories searchable.
std::vector<std::string> unprivileged(const std::vector<std::string>& argv, std::string* why);

// Generates a synthetic synthesis model ("kokoro" or "supertonic") into
// `dir` with extra generator arguments. Fails the current test on error.
void make_tts_model(const std::string& kind, const std::string& dir,
                    const std::string& extra_args = "");

}  // namespace velmora_corvane_tts::testing


namespace velmora_corvane_tts::testing {

// One synthesis reply frame as read back from the helper's output.
using TtsReply = wire::SynthesisReply;

// `s` as a JSON string: quoted, with quotes, backslashes and control
// characters escaped.
std::string json_string(const std::string& s);

// A synthesis request frame: 4-byte length, then `body`.
inline std::string tts_frame(const std::string& body) { return wire::synthesis_request_frame(body); }

// A synthesis request body (wire::synthesis_request_json).
std::string tts_request(const std::string& model_id, const std::string& model_dir, int sid,
                        const std::string& text, double speed = 1.0,
                        const std::string& language = "en");

// Splits the helper's output into reply frames of either mode. A trailing
// torn frame fails the current test.
template <typename Reply>
std::vector<Reply> parse_reply_frames(const std::string& out) {
  wire::ReplyReader<Reply> reader;
  reader.feed(out);
  std::vector<Reply> replies;
  while (auto reply = reader.next()) replies.push_back(std::move(*reply));
  if (reader.pending() > 0) ADD_FAILURE() << "torn reply at byte " << out.size() - reader.pending();
  return replies;
}
inline std::vector<TtsReply> parse_tts_replies(const std::string& out) {
  return parse_reply_frames<TtsReply>(out);
}

// Fields of a WAV reply.
struct WavInfo {
  uint32_t sample_rate = 0;
  uint32_t samples = 0;
  int16_t first = 0;
};
WavInfo wav_info(const std::string& wav);

}  // namespace velmora_corvane_tts::testing

namespace velmora_corvane_tts::testing {

// A child kept running between exchanges, for tests that act (change files
// on disk, send signals) while the helper holds a model. Standard error goes
// to a file and comes back with finish_with_output().
class InteractiveChild {
 public:
  InteractiveChild(const std::vector<std::string>& argv, const std::string& working_dir = "");
  ~InteractiveChild() { finish(); }
  InteractiveChild(const InteractiveChild&) = delete;
  InteractiveChild& operator=(const InteractiveChild&) = delete;

  // Fails the current test when the child stops reading.
  void send(const std::string& bytes);
  // Reads exactly `n` bytes of standard output; fewer when it ends or when
  // nothing arrives for 300 s (a guard against a hung helper; a 64 MiB reply
  // takes tens of seconds under the sanitizers).
  std::string receive(size_t n) { return helper_.receive(n); }
  // Reads one synthesis reply frame; fails the current test when none comes.
  TtsReply receive_tts_reply();
  // Reads one stream-mode reply, or nothing when the output ends or stalls.
  std::optional<wire::StreamReply> receive_stream_reply() {
    return helper_.receive_stream_reply();
  }
  // Closes this end of standard output, as an application that goes away
  // does: the child's next write fails with a broken pipe.
  void stop_reading() { helper_.child().close_output(); }
  // Closes standard input and returns the exit status.
  int finish() { return finish_with_output().exit_code; }
  // Closes standard input and waits; returns the rest of standard output,
  // all of standard error and the exit status.
  ChildResult finish_with_output();
  int pid() const { return static_cast<int>(helper_.child().id()); }
  // Page faults the child has taken that needed no disk read, all its
  // threads together (/proc); -1 when unreadable.
  long minor_faults() const;

 private:
  TempDir scratch_;
  wire::HelperProcess helper_;
};

}  // namespace velmora_corvane_tts::testing

#endif  // VELMORA_CORVANE_TTS_TESTS_SUPPORT_CHILD_PROCESS_H_
