// Process entry: selects the run mode from the command line, hands it the
// standard streams, and turns a mode's fatal error into one line on standard
// error and exit status 1.
//
//   --stream-stt-smoke <model_dir> <wav> [language]   (first argument only)
//       the recogniser smoke test; exits with its status, or 2 with a usage
//       line when the model directory or the WAV path is missing
//   --stream-stt                                       (at any position)
//       the streaming recognition service
//   anything else, or nothing
//       the synthesis service
// Options are compared byte for byte; every other argument is ignored.
#include <optional>
#include <string>
#include <vector>

#include "common/io.h"
#include "platform/platform.h"
#include "stream/smoke.h"
#include "stream/voice_stream_helper.h"
#include "tts/tts_service.h"

namespace vct = velmora_corvane_tts;

namespace {

constexpr const char* kSmokeOption = "--stream-stt-smoke";
constexpr const char* kStreamOption = "--stream-stt";
// Pipe buffer asked for on the request and reply channels (the usual
// unprivileged maximum).
constexpr size_t kPipeBytes = 1 << 20;

int run_smoke(const std::vector<std::string>& args) {
  if (args.size() < 3) {
    vct::platform::write_standard_error(std::string("usage: ") + kSmokeOption +
                                        " <model_dir> <wav> [language]\n");
    return 2;
  }
  std::optional<std::string> language;
  if (args.size() > 3) language = args[3];
  // The report goes to a private copy of standard output, so that nothing
  // the runtime prints can land inside one of its lines.
  vct::OutputStream out(vct::platform::take_standard_output());
  return vct::smoke(args[1], args[2], language, out);
}

}  // namespace

int main(int argc, char** argv) {
  vct::platform::prepare_standard_streams();
  vct::platform::serve_large_blocks(vct::platform::LargeBlocks::kReuse);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);

  if (!args.empty() && args[0] == kSmokeOption) return run_smoke(args);

  bool stream_mode = false;
  for (const std::string& arg : args) stream_mode = stream_mode || arg == kStreamOption;

  // Requests written ahead (audio frames, a 256 KiB synthesis body) fit a
  // wider pipe without the application waiting for each read.
  vct::platform::widen_pipe(vct::platform::standard_input(), kPipeBytes);
  vct::InputStream input(vct::platform::standard_input());
  // Replies go to a private copy of standard output; anything else in the
  // process that prints lands on standard error instead.
  vct::platform::Channel replies = vct::platform::take_standard_output();
  // A WAV reply is megabytes; a wider pipe moves it in fewer wake-ups.
  vct::platform::widen_pipe(replies, kPipeBytes);
  vct::OutputStream output(replies);
  vct::Status status = stream_mode ? vct::run(input, output) : vct::run_tts_service(input, output);
  if (!status.ok()) {
    vct::platform::write_standard_error("Corvane voice helper: " + status.error().message() + "\n");
    return 1;
  }
  return 0;
}
