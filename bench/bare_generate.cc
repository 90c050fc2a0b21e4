// The speech runtime on its own, for its peak memory: creates the engine a
// synthesis request would get, generates the text once with the request's
// generation parameters, and prints the sample count, the rate and its own
// peak resident set in kiB (VmHWM; the exit status's figure would also
// count what the process held before it started this program). No WAV is
// built.
//
//   vct-bench-generate MODEL_ID MODEL_DIR TEXT_FILE
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/speech_runtime.h"
#include "tts/engine_catalogue.h"
#include "tts/synthesis.h"

namespace vct = velmora_corvane_tts;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s MODEL_ID MODEL_DIR TEXT_FILE\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[3], std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();

  auto engine = vct::create_engine(argv[1], argv[2]);
  if (!engine.ok()) {
    std::fprintf(stderr, "%s\n", engine.error().message().c_str());
    return 1;
  }
  vct::LocalTtsRequest request;
  request.model_id = argv[1];
  request.model_dir = argv[2];
  request.language = "en";
  request.text = text.str();
  // The bench's texts hold no NUL byte: the runtime gets them as they are.
  auto audio = engine.value().generate(request.text, vct::generation_settings(request));
  if (!audio.ok()) {
    std::fprintf(stderr, "%s\n", audio.error().message().c_str());
    return 1;
  }
  std::ifstream status("/proc/self/status");
  std::string line;
  long peak_kib = 0;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) peak_kib = std::strtol(line.c_str() + 6, nullptr, 10);
  }
  std::printf("%d %d %ld\n", audio.value().sample_count(), audio.value().sample_rate(), peak_kib);
  return 0;
}
