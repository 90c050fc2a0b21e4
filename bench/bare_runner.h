// The benchmark's side of the plain programs (`vct-bench --serve bare`, whose
// requests and replies bare_runner.cc describes): the runtime's own calls,
// made and timed in a child process so that the benchmark process runs no
// runtime threads of its own.
#ifndef VELMORA_CORVANE_TTS_BENCH_BARE_RUNNER_H_
#define VELMORA_CORVANE_TTS_BENCH_BARE_RUNNER_H_

#include <string>
#include <vector>

#include "bench_config.h"
#include "bench_util.h"

namespace vct_bench {

// generate + f32_mono_wave on one engine, loaded when constructed, in a plain
// program whose allocator is set up as `allocator` says ("default" or
// "reuse", see bare_runner.cc).
class BareSynthesis {
 public:
  BareSynthesis(const Config& config, const std::string& model_id, const std::string& model_dir,
                const std::string& allocator);

  // Seconds the calls took for `text`; the WAV goes to `wav` when given.
  double run(const std::string& text, std::string* wav = nullptr);
  pid_t pid() const { return child_.pid(); }
  void wait() { child_.wait(); }

 private:
  Child child_;
};

// One recording through the recogniser's C API, loaded when constructed.
class BareRecognition {
 public:
  BareRecognition(const Config& config, const std::string& model_dir,
                  const std::string& audio_path);

  struct Session {
    double seconds = 0;
    std::string final_text;
    std::vector<double> block_seconds;   // with detail only
    std::vector<std::string> texts;      // transcript after each block, with detail only
  };
  Session run(bool detail);
  pid_t pid() const { return child_.pid(); }

 private:
  Child child_;
};

}  // namespace vct_bench

#endif  // VELMORA_CORVANE_TTS_BENCH_BARE_RUNNER_H_
