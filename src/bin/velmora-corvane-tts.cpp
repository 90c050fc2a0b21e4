// Process entry: selects the run mode from the command line, hands it the
// standard streams, and turns a mode's fatal error into one line on standard
// error and exit status 1.
#include <string>
#include <vector>

#include "common/io.h"
#include "platform/platform.h"
#include "tts/tts_service.h"

namespace vct = velmora_corvane_tts;

int main(int argc, char** argv) {
  vct::platform::ignore_broken_pipe_signal();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  (void)args;  // every argument is ignored in the synthesis service mode

  vct::InputStream input(vct::platform::standard_input());
  // Replies go to a private copy of standard output; anything else in the
  // process that prints lands on standard error instead.
  vct::OutputStream output(vct::platform::take_standard_output());
  vct::Status status = vct::run_tts_service(input, output);
  if (!status.ok()) {
    vct::platform::write_standard_error("Corvane voice helper: " + status.error().message() + "\n");
    return 1;
  }
  return 0;
}
