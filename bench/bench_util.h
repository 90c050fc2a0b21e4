// Shared by the benchmark programs: clocks and statistics, child processes
// on pipes, resident-set readings, small file helpers and the result table.
// Benchmark code talks to the operating system directly; a failure of the
// harness itself ends the run with a message (it measures, it does not serve).
#ifndef VELMORA_CORVANE_TTS_BENCH_BENCH_UTIL_H_
#define VELMORA_CORVANE_TTS_BENCH_BENCH_UTIL_H_

#include <sys/types.h>

#include <chrono>
#include <initializer_list>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/coding.h"
#include "platform/process.h"

namespace vct_bench {

// Prints "vct-bench: {message}" to standard error and exits with status 1.
[[noreturn]] void die(const std::string& message);

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The runtime's worker threads spin for tens of milliseconds after a call
// returns. Before each timed call this waits until no thread of this process
// (other than the caller) or of the given children has been running for a
// few milliseconds (at most about half a second), so that one side's
// spinning threads are not on the cores the other side is being timed on.
void settle(std::initializer_list<pid_t> children = {});

// A field of /proc/{pid}/status in kiB ("VmRSS", "VmHWM"); 0 when absent.
// `pid` 0: this process.
long proc_status_kib(pid_t pid, const char* field);

double median(std::vector<double> values);
double minimum(const std::vector<double>& values);
// Nearest-rank percentile, p in [0, 100].
double percentile(std::vector<double> values, double p);

// A program running as a child with pipes on its standard input and output
// (platform::Child). Its standard error goes to `stderr_path` (appended), or
// to /dev/null. A failure to start it, write to it or read from it ends the
// run.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::string& stderr_path = "",
        const std::string& working_dir = "");

  void write_all(const void* data, size_t size);
  void write_all(std::string_view bytes) { write_all(bytes.data(), bytes.size()); }
  void read_exact(void* data, size_t size);
  // Closes the child's standard input (its end of input).
  void close_input() { child_.close_input(); }

  struct Exit {
    int status = -1;  // exit status, or -1 when ended by a signal
  };
  // Closes the input if still open and waits for the child.
  Exit wait();

  // Current and peak resident set, read from /proc; 0 when unreadable.
  long rss_kib() const { return proc_status_kib(pid(), "VmRSS"); }
  long peak_rss_kib() const { return proc_status_kib(pid(), "VmHWM"); }

  pid_t pid() const { return static_cast<pid_t>(child_.id()); }
  int output_fd() const { return child_.output(); }

 private:
  velmora_corvane_tts::platform::Child child_;
};


// Lowers the peak resident set (VmHWM) of process `pid` to its current
// resident set, so that the next reading is the peak from now on.
void reset_peak_rss(pid_t pid);

std::string read_file(const std::string& path);
void write_file(const std::string& path, std::string_view bytes);
bool file_exists(const std::string& path);

// Little-endian integers: the helper's own coding.
using velmora_corvane_tts::decode_fixed32;
using velmora_corvane_tts::decode_fixed64;
using velmora_corvane_tts::put_fixed32;
using velmora_corvane_tts::put_fixed64;

// One row of the result table.
struct Row {
  std::string section;
  std::string name;
  double value = 0;       // the measured ratio
  double target = 0;      // the limit it must not exceed
  bool has_target = true; // false: shown for context only
  std::string detail;     // the absolute figures behind the ratio
  std::string skipped;    // non-empty: the row was not measured, and why
};

class Table {
 public:
  void add(Row row);
  void print() const;
  // Rows with a target that was missed.
  int misses() const;

 private:
  std::vector<Row> rows_;
};

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Milliseconds or microseconds with three significant digits, e.g. "12.3 ms".
std::string human_seconds(double s);
std::string human_bytes(double bytes);

}  // namespace vct_bench

#endif  // VELMORA_CORVANE_TTS_BENCH_BENCH_UTIL_H_
