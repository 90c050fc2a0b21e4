// The transport floor of a synthesis round trip: a process that only moves
// the bytes. It reads synthesis request frames (4-byte little-endian length,
// body) from standard input exactly as the helper does (one buffered read,
// then the rest of the frame), and answers each with a success reply frame
// whose payload has the size given on the command line, written with one
// writev from a buffer it keeps, through a reply pipe widened as the helper
// widens its own. No parsing, no synthesis, no encoding.
//
//   vct-bench-floor REPLY_PAYLOAD_BYTES
#include <errno.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kReadBuffer = 64 * 1024;

bool write_all(iovec* vec, int count) {
  while (count > 0) {
    ssize_t n = ::writev(STDOUT_FILENO, vec, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    auto left = static_cast<size_t>(n);
    while (count > 0 && left >= vec->iov_len) {
      left -= vec->iov_len;
      ++vec;
      --count;
    }
    if (count > 0) {
      vec->iov_base = static_cast<uint8_t*>(vec->iov_base) + left;
      vec->iov_len -= left;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const size_t reply_bytes = std::strtoull(argv[1], nullptr, 10);
#if defined(F_SETPIPE_SZ)
  (void)::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
#endif
  std::vector<uint8_t> payload(reply_bytes, 0);
  std::vector<uint8_t> in(kReadBuffer);
  size_t begin = 0;
  size_t end = 0;
  auto fill = [&]() -> bool {
    ssize_t n;
    do {
      n = ::read(STDIN_FILENO, in.data(), in.size());
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    begin = 0;
    end = static_cast<size_t>(n);
    return true;
  };
  // Copies `size` request bytes into `out` (or drops them when out is null).
  auto take = [&](uint8_t* out, size_t size) -> bool {
    while (size > 0) {
      if (begin == end && !fill()) return false;
      size_t step = std::min(size, end - begin);
      if (out != nullptr) std::memcpy(out, in.data() + begin, step);
      if (out != nullptr) out += step;
      begin += step;
      size -= step;
    }
    return true;
  };
  std::vector<uint8_t> body;
  for (;;) {
    uint8_t header[4];
    if (!take(header, 4)) return 0;
    uint32_t length = static_cast<uint32_t>(header[0]) | static_cast<uint32_t>(header[1]) << 8 |
                      static_cast<uint32_t>(header[2]) << 16 |
                      static_cast<uint32_t>(header[3]) << 24;
    body.resize(length);
    if (!take(body.data(), length)) return 1;
    uint8_t reply[5] = {0, static_cast<uint8_t>(reply_bytes), static_cast<uint8_t>(reply_bytes >> 8),
                        static_cast<uint8_t>(reply_bytes >> 16),
                        static_cast<uint8_t>(reply_bytes >> 24)};
    iovec vec[2] = {{reply, sizeof reply}, {payload.data(), payload.size()}};
    if (!write_all(vec, payload.empty() ? 1 : 2)) return 1;
  }
}
