#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sched.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <climits>

namespace velmora_corvane_tts::platform {

TransferResult read_some(Channel channel, void* buffer, size_t size) {
  for (;;) {
    ssize_t n = ::read(channel, buffer, size);
    if (n >= 0) return {static_cast<size_t>(n), 0};
    if (errno != EINTR) return {0, errno};
  }
}

TransferResult write_some(Channel channel, std::span<const std::span<const uint8_t>> buffers) {
  std::array<iovec, 8> vec{};
  size_t used = 0;
  for (const auto& b : buffers) {
    if (b.empty()) continue;
    if (used == vec.size()) break;
    vec[used].iov_base = const_cast<uint8_t*>(b.data());
    vec[used].iov_len = b.size();
    ++used;
  }
  if (used == 0) return {0, 0};
  for (;;) {
    ssize_t n = ::writev(channel, vec.data(), static_cast<int>(used));
    if (n >= 0) return {static_cast<size_t>(n), 0};
    if (errno != EINTR) return {0, errno};
  }
}

void close_channel(Channel& channel) {
  if (channel != kNoChannel) ::close(channel);
  channel = kNoChannel;
}

std::string describe_os_error(int error) {
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  return std::string(text) + " (os error " + std::to_string(error) + ")";
}

void prepare_standard_streams() { ::signal(SIGPIPE, SIG_IGN); }

void use_binary_standard_streams() {}

namespace {
constexpr int kReusedBlockLimit = 32 << 20;
constexpr int kFreshBlockLimit = 1 << 20;
constexpr int kKeptFreeHeap = 64 << 20;
// More than the largest request leaves free (about 190 MiB for 10,000
// characters of Supertonic); anything above it goes back to the system.
constexpr int kAllKeptFreeHeap = 256 << 20;
// glibc's own default for the number of mappings it may hold.
constexpr int kMappingsAllowed = 65536;
}  // namespace

void serve_large_blocks(LargeBlocks how) {
#if defined(__GLIBC__)
  // Fixed values also turn off glibc's own adjustment of the thresholds
  // (after a large block is freed), which was measured to leave most of a
  // synthesis call's buffers on fresh mappings and to give the free heap back
  // after every request: 1,000 characters took about 3 times as long.
  switch (how) {
    case LargeBlocks::kReuse:
      ::mallopt(M_MMAP_MAX, kMappingsAllowed);
      ::mallopt(M_MMAP_THRESHOLD, kReusedBlockLimit);
      ::mallopt(M_TRIM_THRESHOLD, kKeptFreeHeap);
      break;
    case LargeBlocks::kFresh:
      ::mallopt(M_MMAP_MAX, kMappingsAllowed);
      ::mallopt(M_MMAP_THRESHOLD, kFreshBlockLimit);
      ::mallopt(M_TRIM_THRESHOLD, kKeptFreeHeap);
      ::malloc_trim(0);
      break;
    case LargeBlocks::kKeepAll:
      // The mmap threshold alone cannot keep the largest blocks in the heap:
      // glibc caps it at 32 MiB, and the runtime's joined audio and the copy
      // it hands back are larger. No mappings at all can.
      ::mallopt(M_MMAP_MAX, 0);
      ::mallopt(M_TRIM_THRESHOLD, kAllKeptFreeHeap);
      break;
  }
#else
  (void)how;
#endif
}

Channel standard_input() { return STDIN_FILENO; }

Channel take_standard_output() {
  int private_fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (private_fd < 0) return STDOUT_FILENO;
  ::dup2(STDERR_FILENO, STDOUT_FILENO);
  return private_fd;
}

void widen_pipe(Channel channel, size_t bytes) {
#if defined(F_SETPIPE_SZ)
  struct stat info;
  if (::fstat(channel, &info) != 0 || !S_ISFIFO(info.st_mode)) return;
  if (bytes > static_cast<size_t>(INT_MAX)) bytes = INT_MAX;
  int current = ::fcntl(channel, F_GETPIPE_SZ);
  if (current >= 0 && static_cast<size_t>(current) >= bytes) return;
  (void)::fcntl(channel, F_SETPIPE_SZ, static_cast<int>(bytes));
#else
  (void)channel;
  (void)bytes;
#endif
}

void write_standard_error(std::string_view text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

unsigned processors_online() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 && online < INT_MAX ? static_cast<unsigned>(online) : 0;
}

bool is_regular_file(const std::string& path) {
  if (path.find('\0') != std::string::npos) return false;  // stat would stop at it
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

FileAccess regular_file_access(const std::string& path) {
  if (!is_regular_file(path)) return FileAccess::kAbsent;
  // Opened as the runtime will open it; without blocking, should a FIFO have
  // taken the file's place since.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FileAccess::kUnreadable;
  ::close(fd);
  return FileAccess::kReadable;
}

std::optional<uint64_t> regular_file_size(const std::string& path) {
  if (path.find('\0') != std::string::npos) return std::nullopt;
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<uint64_t>(info.st_size);
}

bool read_file_start(const std::string& path, std::span<uint8_t> out) {
  if (path.find('\0') != std::string::npos) return false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return done == out.size();
}

std::optional<std::string> executable_path() {
  std::string path(PATH_MAX, '\0');
  ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<size_t>(n) >= path.size()) return std::nullopt;
  path.resize(static_cast<size_t>(n));
  return path;
}

Channel standard_error() { return STDERR_FILENO; }

std::FILE* open_file(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::vector<std::string> command_line_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool is_terminal(Channel channel) { return ::isatty(channel) == 1; }

std::string describe_end_code(int code) {
  const char* abbrev = sigabbrev_np(code);
  return abbrev != nullptr ? std::string("SIG") + abbrev : "signal " + std::to_string(code);
}

}  // namespace velmora_corvane_tts::platform
