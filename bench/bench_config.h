// What every benchmark section is given: where the programs and the
// generated fixtures are, and how hard to try.
#ifndef VELMORA_CORVANE_TTS_BENCH_BENCH_CONFIG_H_
#define VELMORA_CORVANE_TTS_BENCH_BENCH_CONFIG_H_

#include <string>
#include <vector>

#include "bench_util.h"

namespace vct_bench {

struct Config {
  std::string helper;      // the built helper
  std::string self;        // this program, started again for the child roles
  std::string source_dir;  // root of the source tree
  std::string data_dir;    // generated models, audio and texts
  std::string log_path;    // standard error of every child goes here
  std::string node;        // node executable ("" when there is none)
  double effort = 1.0;     // scales repetition counts (--quick: 0.3)

  int reps(int full) const {
    int n = static_cast<int>(full * effort + 0.5);
    return n < 3 ? 3 : n;
  }
};

// The child roles (`vct-bench --serve bare|floor ARGS...`): the plain
// programs (bare_runner.cc) and the transport floor (transport_floor.cc).
// Each returns the process's exit status.
int run_bare(const std::vector<std::string>& args);
int run_floor(const std::vector<std::string>& args);

void run_synthesis_bench(const Config& config, Table& table);
void run_stream_bench(const Config& config, Table& table);
void run_kernel_bench(const Config& config, Table& table);
void run_memory_bench(const Config& config, Table& table);
// Linux: the client library and corvane-say.
void run_client_bench(const Config& config, Table& table);

}  // namespace vct_bench

#endif  // VELMORA_CORVANE_TTS_BENCH_BENCH_CONFIG_H_
