// The transport floor: a process that only moves the bytes, through the
// helper's own reading and writing (common/io.h and the two frame formats),
// with pipes widened as the helper widens its own. No parsing, no
// synthesis or recognition, no encoding.
//
// Runs as a child: `vct-bench --serve floor ...`.
//
//   tts REPLY_PAYLOAD_BYTES
//     reads synthesis request frames and answers each with a success reply
//     of that many zero bytes;
//   stream SCRIPT
//     reads stream request frames and after the k-th frame of a session
//     writes the k-th reply bytes of a script recorded from the helper.
//     SCRIPT: for each request frame of one session, in order, a u32
//     little-endian length and that many bytes of replies (often none); it
//     starts again after its last frame.
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_config.h"
#include "common/coding.h"
#include "common/io.h"
#include "platform/platform.h"
#include "stream/voice_stream_protocol.h"
#include "tts/corvane_tts_protocol.h"

namespace vct = velmora_corvane_tts;
namespace platform = velmora_corvane_tts::platform;

namespace vct_bench {
namespace {

int move_synthesis(vct::InputStream& input, vct::OutputStream& output, size_t reply_bytes) {
  const std::vector<uint8_t> payload(reply_bytes, 0);
  std::vector<uint8_t> body;
  for (;;) {
    auto length = vct::read_request_length(input);
    if (!length.ok() || !length.value().has_value()) return length.ok() ? 0 : 1;
    body.resize(*length.value());
    if (!input.read_exact(body).ok()) return 1;
    if (!vct::write_reply_frame(output, vct::kReplySuccess, payload).ok()) return 1;
  }
}

int move_stream(vct::InputStream& input, vct::OutputStream& output, const std::string& path) {
  const std::string script = read_file(path);
  std::vector<std::string> replies;
  for (size_t at = 0; at + 4 <= script.size();) {
    uint32_t n = vct::decode_fixed32(script.data() + at);
    replies.push_back(script.substr(at + 4, n));
    at += 4 + n;
  }
  if (replies.empty()) return 2;
  for (size_t k = 0;; k = (k + 1) % replies.size()) {
    auto frame = vct::read_frame(input, vct::kMaxStreamFrameBytes);
    if (!frame.ok() || !frame.value().has_value()) return frame.ok() ? 0 : 1;
    const std::string& reply = replies[k];
    if (!reply.empty() &&
        !output.write_all({{reinterpret_cast<const uint8_t*>(reply.data()), reply.size()}}).ok()) {
      return 1;
    }
  }
}

}  // namespace

int run_floor(const std::vector<std::string>& args) {
  const std::string mode = args.size() == 2 ? args[0] : "";
  if (mode != "tts" && mode != "stream") die("usage: vct-bench --serve floor tts BYTES | stream SCRIPT");
  platform::prepare_standard_streams();
  // As the helper starts: both pipes widened, replies on a private channel.
  platform::widen_pipe(platform::standard_input(), 1 << 20);
  vct::InputStream input(platform::standard_input());
  platform::Channel out = platform::take_standard_output();
  platform::widen_pipe(out, 1 << 20);
  vct::OutputStream output(out);
  if (mode == "tts") return move_synthesis(input, output, std::strtoull(args[1].c_str(), nullptr, 10));
  return move_stream(input, output, args[1]);
}

}  // namespace vct_bench
