// How the client library starts and watches the helper. Shared by
// Synthesizer and Recognizer; each of them starts helpers of its own.
#ifndef VELMORA_CORVANE_HELPER_OPTIONS_H_
#define VELMORA_CORVANE_HELPER_OPTIONS_H_

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace velmora_corvane {

struct HelperOptions {
  // The helper program. Empty: "velmora-corvane-tts" in the directory of
  // the running program (where the install tree puts the helper beside the
  // application's own programs).
  std::string helper_path;

  // Working directory of the helper (relative model directories resolve
  // against it). Empty: this process's.
  std::string working_dir;

  // Called with each line the helper writes to standard error (the line
  // break removed), on a thread of the library, one line at a time; keep it
  // short and do not call back into the library from it. Empty: the lines
  // are read and dropped. Standard error is always read, so the helper
  // cannot stall on it.
  std::function<void(std::string_view line)> on_stderr_line;

  // Longest wait for an answer: for a synthesis reply from the moment the
  // helper could start on the request, for an Opened or Final reply, and for
  // a write of audio into the helper. Past it the helper is ended, the call
  // fails with kTimedOut and a new helper serves the next request. Zero: no
  // limit.
  std::chrono::milliseconds timeout{0};

  // A helper that ends again before answering anything is started again
  // after `restart_delay`, then after twice as long each time, up to
  // `max_restart_delay`; meanwhile requests fail with kHelperUnavailable.
  std::chrono::milliseconds restart_delay{250};
  std::chrono::milliseconds max_restart_delay{8000};
};

}  // namespace velmora_corvane

#endif  // VELMORA_CORVANE_HELPER_OPTIONS_H_
