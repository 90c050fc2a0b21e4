// Standard input as the transport floors read it: through a 64 KiB buffer,
// the way the helper reads its own (one read for what is there, then the
// rest of a frame), with nothing else done to the bytes.
#ifndef VELMORA_CORVANE_TTS_BENCH_FLOOR_INPUT_H_
#define VELMORA_CORVANE_TTS_BENCH_FLOOR_INPUT_H_

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vct_bench {

class FloorInput {
 public:
  // Copies the next `size` bytes into `out`, or drops them when `out` is
  // null. False at the end of input or on a read error.
  bool take(uint8_t* out, size_t size) {
    while (size > 0) {
      if (begin_ == end_ && !fill()) return false;
      size_t step = std::min(size, end_ - begin_);
      if (out != nullptr) {
        std::memcpy(out, buffer_.data() + begin_, step);
        out += step;
      }
      begin_ += step;
      size -= step;
    }
    return true;
  }

 private:
  bool fill() {
    ssize_t n;
    do {
      n = ::read(STDIN_FILENO, buffer_.data(), buffer_.size());
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    begin_ = 0;
    end_ = static_cast<size_t>(n);
    return true;
  }

  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(64 * 1024);
  size_t begin_ = 0;
  size_t end_ = 0;
};

}  // namespace vct_bench

#endif  // VELMORA_CORVANE_TTS_BENCH_FLOOR_INPUT_H_
