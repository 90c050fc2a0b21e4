// Channels backed by memory files (POSIX) or temporary files (Windows), for
// running the service loops inside a test or fuzz process: an input that
// holds given bytes from its start, and an output that can be read back
// afterwards. Both are real channels (a descriptor, a handle), so the loops
// use exactly the reads and writes they use on pipes.
#ifndef VELMORA_CORVANE_TTS_TESTS_SUPPORT_MEMORY_CHANNEL_H_
#define VELMORA_CORVANE_TTS_TESTS_SUPPORT_MEMORY_CHANNEL_H_

#if defined(_WIN32)
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "support/child_process.h"
#include "support/test_channel.h"

namespace velmora_corvane_tts::testing {

class MemoryChannel {
 public:
  // An empty channel for writing.
  MemoryChannel() : channel_(create_for_writing(file())) {}
  // A channel whose reads return `bytes`, then the end of input.
  explicit MemoryChannel(std::string_view bytes) : channel_(filled(file(), bytes)) {}
  MemoryChannel(const MemoryChannel&) = delete;
  MemoryChannel& operator=(const MemoryChannel&) = delete;

  platform::Channel fd() const { return channel_.get(); }

  // Everything written to the channel so far.
  std::string contents() const {
    std::ifstream in(file(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  static OwnedChannel filled(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return open_for_reading(path);
  }
  std::string file() const { return dir_.path() + "/channel"; }

  TempDir dir_;  // declared first: the file's name is needed to open it
  OwnedChannel channel_;
};

}  // namespace velmora_corvane_tts::testing

#else

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace velmora_corvane_tts::testing {

class MemoryChannel {
 public:
  MemoryChannel() : fd_(::memfd_create("vct-channel", MFD_CLOEXEC)) {
    if (fd_ < 0) std::abort();
  }
  // A channel whose reads return `bytes`, then the end of input.
  explicit MemoryChannel(std::string_view bytes) : MemoryChannel() {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) std::abort();
      done += static_cast<size_t>(n);
    }
    if (::lseek(fd_, 0, SEEK_SET) != 0) std::abort();
  }
  MemoryChannel(const uint8_t* data, size_t size)
      : MemoryChannel(std::string_view(reinterpret_cast<const char*>(data), size)) {}
  ~MemoryChannel() { ::close(fd_); }
  MemoryChannel(const MemoryChannel&) = delete;
  MemoryChannel& operator=(const MemoryChannel&) = delete;

  int fd() const { return fd_; }

  // Everything written to the channel so far.
  std::string contents() const {
    struct stat info;
    if (::fstat(fd_, &info) != 0) std::abort();
    std::string out(static_cast<size_t>(info.st_size), '\0');
    size_t done = 0;
    while (done < out.size()) {
      ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(done));
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    out.resize(done);
    return out;
  }

 private:
  int fd_;
};

}  // namespace velmora_corvane_tts::testing

#endif  // _WIN32

#endif  // VELMORA_CORVANE_TTS_TESTS_SUPPORT_MEMORY_CHANNEL_H_
