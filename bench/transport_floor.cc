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

#include "floor_input.h"

namespace {

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
  vct_bench::FloorInput input;
  std::vector<uint8_t> body;
  for (;;) {
    uint8_t header[4];
    if (!input.take(header, 4)) return 0;
    uint32_t length = static_cast<uint32_t>(header[0]) | static_cast<uint32_t>(header[1]) << 8 |
                      static_cast<uint32_t>(header[2]) << 16 |
                      static_cast<uint32_t>(header[3]) << 24;
    body.resize(length);
    if (!input.take(body.data(), length)) return 1;
    uint8_t reply[5] = {0, static_cast<uint8_t>(reply_bytes), static_cast<uint8_t>(reply_bytes >> 8),
                        static_cast<uint8_t>(reply_bytes >> 16),
                        static_cast<uint8_t>(reply_bytes >> 24)};
    iovec vec[2] = {{reply, sizeof reply}, {payload.data(), payload.size()}};
    if (!write_all(vec, payload.empty() ? 1 : 2)) return 1;
  }
}
