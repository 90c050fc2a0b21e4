#include "bench_util.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace vct_bench {

void die(const std::string& message) {
  std::fprintf(stderr, "vct-bench: %s\n", message.c_str());
  std::exit(1);
}

namespace {

// True when a thread of process `pid`, other than the calling thread, is
// running or waiting for a CPU. Reads the thread states the kernel keeps
// exact; the CPU-time clock of a thread on another CPU advances only at that
// CPU's timer tick, too coarsely to see a thread spinning between ticks.
bool has_running_thread(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = ::opendir(tasks.c_str());
  if (dir == nullptr) return false;
  const auto self = static_cast<pid_t>(::syscall(SYS_gettid));
  bool running = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    if (std::atoi(entry->d_name) == self) continue;
    std::ifstream in(tasks + "/" + entry->d_name + "/stat");
    std::string stat;
    std::getline(in, stat);
    // "tid (name) S ...": the state follows the last parenthesis, since the
    // name itself may hold one.
    size_t close = stat.rfind(')');
    if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'R') {
      running = true;
      break;
    }
  }
  ::closedir(dir);
  return running;
}

}  // namespace

void settle(std::initializer_list<pid_t> children) {
  constexpr auto kStep = std::chrono::milliseconds(1);
  constexpr int kQuietSteps = 3;  // consecutive checks that found nothing running
  constexpr int kMaxSteps = 500;
  auto busy = [&] {
    if (has_running_thread(::getpid())) return true;
    for (pid_t pid : children) {
      if (pid > 0 && has_running_thread(pid)) return true;
    }
    return false;
  };
  int quiet = 0;
  for (int i = 0; i < kMaxSteps && quiet < kQuietSteps; ++i) {
    std::this_thread::sleep_for(kStep);
    quiet = busy() ? 0 : quiet + 1;
  }
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

double minimum(const std::vector<double>& values) {
  return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  auto rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
  rank = std::clamp<size_t>(rank, 1, values.size());
  return values[rank - 1];
}

Child::Child(const std::vector<std::string>& argv, const std::string& stderr_path,
             const std::string& working_dir) {
  velmora_corvane_tts::platform::ChildOptions options;
  options.working_dir = working_dir;
  options.error_file = stderr_path.empty() ? "/dev/null" : stderr_path;
  options.append_error = true;
  if (int error = child_.start(argv, options); error != 0) {
    die("cannot start " + argv.at(0) + ": " +
        velmora_corvane_tts::platform::describe_os_error(error));
  }
}

void Child::write_all(const void* data, size_t size) {
  std::span<const uint8_t> rest(static_cast<const uint8_t*>(data), size);
  while (!rest.empty()) {
    auto r = velmora_corvane_tts::platform::write_to_child(child_.input(), std::span(&rest, 1));
    if (r.error != 0 || r.count == 0) die("the child stopped reading");
    rest = rest.subspan(r.count);
  }
}

void Child::read_exact(void* data, size_t size) {
  auto* p = static_cast<uint8_t*>(data);
  while (size > 0) {
    auto r = velmora_corvane_tts::platform::read_some(child_.output(), p, size);
    if (r.error != 0) die("read from child: " + velmora_corvane_tts::platform::describe_os_error(r.error));
    if (r.count == 0) die("the child ended its output early");
    p += r.count;
    size -= r.count;
  }
}

Child::Exit Child::wait() {
  close_input();
  velmora_corvane_tts::platform::ExitOutcome end = *child_.wait();
  return {end.kind == velmora_corvane_tts::platform::ExitOutcome::Kind::kExited ? end.code : -1};
}

long proc_status_kib(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + (pid == 0 ? std::string("self") : std::to_string(pid)) + "/status");
  std::string line;
  std::string key = std::string(field) + ":";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + key.size(), nullptr, 10);
  }
  return 0;
}

void reset_peak_rss(pid_t pid) {
  write_file("/proc/" + std::to_string(pid) + "/clear_refs", "5");
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) die("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) die("cannot write " + path);
}

bool file_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

void Table::add(Row row) {
  std::printf("  %-62s %8s  %s\n", (row.section + ": " + row.name).c_str(),
              row.skipped.empty() ? format("%.3f", row.value).c_str() : "skipped",
              row.skipped.empty() ? row.detail.c_str() : row.skipped.c_str());
  std::fflush(stdout);
  rows_.push_back(std::move(row));
}

int Table::misses() const {
  int n = 0;
  for (const Row& r : rows_) {
    if (r.skipped.empty() && r.has_target && !(r.value <= r.target)) ++n;
  }
  return n;
}

void Table::print() const {
  std::string section;
  std::printf("\n%-62s %8s %9s  %-6s %s\n", "figure", "ratio", "target", "result",
              "measured");
  std::printf("%s\n", std::string(130, '-').c_str());
  for (const Row& r : rows_) {
    if (r.section != section) {
      section = r.section;
      std::printf("%s\n", section.c_str());
    }
    std::string name = "  " + r.name;
    if (!r.skipped.empty()) {
      std::printf("%-62s %8s %9s  %-6s %s\n", name.c_str(), "-",
                  r.has_target ? format("<= %.2f", r.target).c_str() : "-", "SKIP",
                  r.skipped.c_str());
      continue;
    }
    const char* verdict = !r.has_target ? "info" : r.value <= r.target ? "pass" : "MISS";
    std::printf("%-62s %8.3f %9s  %-6s %s\n", name.c_str(), r.value,
                r.has_target ? format("<= %.2f", r.target).c_str() : "-", verdict,
                r.detail.c_str());
  }
  std::fflush(stdout);
}

std::string format(const char* fmt, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(buffer, sizeof buffer, fmt, args);
  va_end(args);
  return buffer;
}

std::string human_seconds(double s) {
  if (s >= 1.0) return format("%.3g s", s);
  if (s >= 1e-3) return format("%.3g ms", s * 1e3);
  return format("%.3g us", s * 1e6);
}

std::string human_bytes(double bytes) {
  if (bytes < 0) return "-" + human_bytes(-bytes);
  if (bytes >= 1024.0 * 1024.0) return format("%.1f MiB", bytes / (1024.0 * 1024.0));
  if (bytes >= 1024.0) return format("%.1f KiB", bytes / 1024.0);
  return format("%.0f B", bytes);
}

}  // namespace vct_bench
