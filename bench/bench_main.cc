// The benchmark run behind scripts/bench.sh: every figure is a ratio of two
// measurements taken in this run on this machine, printed with its target.
//
//   vct-bench --data DIR [--quick] [--node PATH] [--helper PATH]
//             [--only synthesis|stream|kernels|memory|client]...
//
// The same program serves as the benchmark's children (`--serve bare|floor
// ...`, bench_config.h): then it does nothing else.
//
// DIR holds the generated fixtures (see scripts/bench.sh). The exit status
// is 0 when the run completed, whatever the figures; the table says which
// targets were met.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "bench_config.h"
#include "bench_util.h"
#include "platform/platform.h"

using namespace vct_bench;

namespace {

// The share of the last minute in which runnable work waited for a CPU
// (Linux pressure stall information), or "unknown".
std::string cpu_pressure() {
  std::string text = file_exists("/proc/pressure/cpu") ? read_file("/proc/pressure/cpu") : "";
  size_t at = text.find("avg60=");
  if (at == std::string::npos) return "unknown";
  return text.substr(at + 6, text.find(' ', at) - at - 6) + "%";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--serve") == 0) {
    const std::vector<std::string> args(argv + 3, argv + argc);
    if (std::strcmp(argv[2], "bare") == 0) return run_bare(args);
    if (std::strcmp(argv[2], "floor") == 0) return run_floor(args);
    die(std::string("unknown role ") + argv[2]);
  }
  // The kernels timed in this process run under the allocator settings the
  // helper uses; left alone, their speed would depend on what this process
  // happened to free before.
  velmora_corvane_tts::platform::serve_large_blocks(velmora_corvane_tts::platform::LargeBlocks::kReuse);
  Config config;
  config.helper = VCT_BENCH_HELPER;
  config.self = "/proc/self/exe";
  config.source_dir = VCT_SOURCE_DIR;
  std::set<std::string> only;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--data" && i + 1 < argc) {
      config.data_dir = argv[++i];
    } else if (arg == "--quick") {
      config.effort = 0.3;
    } else if (arg == "--only" && i + 1 < argc) {
      only.insert(argv[++i]);
    } else if (arg == "--node" && i + 1 < argc) {
      config.node = argv[++i];
    } else if (arg == "--helper" && i + 1 < argc) {
      config.helper = argv[++i];  // another build of the helper, to compare
    } else {
      die("usage: vct-bench --data DIR [--quick] [--node PATH] [--helper PATH] "
          "[--only SECTION]...");
    }
  }
  if (config.data_dir.empty()) die("--data DIR is required");
  config.log_path = config.data_dir + "/children.log";
  write_file(config.log_path, "");

  auto wanted = [&](const char* s) { return only.empty() || only.count(s) > 0; };
  Table table;
  const std::string pressure_before = cpu_pressure();
  Clock::time_point start = Clock::now();
  if (wanted("synthesis")) {
    std::printf("1 Synthesis round trips...\n");
    run_synthesis_bench(config, table);
  }
  if (wanted("stream")) {
    std::printf("2-3 Streaming sessions...\n");
    run_stream_bench(config, table);
  }
  if (wanted("kernels")) {
    std::printf("4 Kernels...\n");
    run_kernel_bench(config, table);
  }
  if (wanted("memory")) {
    std::printf("5 Memory...\n");
    run_memory_bench(config, table);
  }
  if (wanted("client")) {
    std::printf("6 Client library and corvane-say...\n");
    run_client_bench(config, table);
  }
  const std::string pressure_after = cpu_pressure();
  table.print();
  int misses = table.misses();
  std::printf("\n%d target%s missed; run took %.0f s\n", misses, misses == 1 ? "" : "s",
              seconds_since(start));
  // Other work on the machine moves every figure; say how busy it was.
  std::printf("CPU pressure (time runnable work waited for a CPU, last minute): %s at the "
              "start, %s at the end\n",
              pressure_before.c_str(), pressure_after.c_str());
  return 0;
}
