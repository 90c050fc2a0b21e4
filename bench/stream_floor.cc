// The transport floor of a stream-mode session: a process that only moves
// the bytes. It reads stream request frames (tag, recording id, payload
// length, payload) from standard input through a 64 KiB buffer, as the
// helper does, and after the k-th frame of a session writes, with one
// write, the k-th reply bytes of a script recorded from the helper itself.
// No decoding, no recognition, no parsing of payloads.
//
//   vct-bench-stream-floor SCRIPT
//
// SCRIPT: for each request frame of one session, in order, a u32
// little-endian length and that many bytes of replies (often none). The
// script starts again after its last frame.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "floor_input.h"

namespace {

bool write_all(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::ifstream file(argv[1], std::ios::binary);
  std::stringstream raw;
  raw << file.rdbuf();
  const std::string script = raw.str();
  std::vector<std::string> replies;
  for (size_t at = 0; at + 4 <= script.size();) {
    uint32_t n = 0;
    for (size_t i = 0; i < 4; ++i) {
      n |= static_cast<uint32_t>(static_cast<uint8_t>(script[at + i])) << (8 * i);
    }
    replies.push_back(script.substr(at + 4, n));
    at += 4 + n;
  }
  if (replies.empty()) return 2;
#if defined(F_SETPIPE_SZ)
  (void)::fcntl(STDIN_FILENO, F_SETPIPE_SZ, 1 << 20);
  (void)::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
#endif

  vct_bench::FloorInput input;
  std::vector<uint8_t> payload;
  for (size_t k = 0;; k = (k + 1) % replies.size()) {
    uint8_t header[13];
    if (!input.take(header, sizeof header)) return 0;
    uint32_t length = 0;
    for (size_t i = 0; i < 4; ++i) length |= static_cast<uint32_t>(header[9 + i]) << (8 * i);
    payload.resize(length);
    if (!input.take(payload.data(), length)) return 1;
    if (!replies[k].empty() && !write_all(replies[k])) return 1;
  }
}
