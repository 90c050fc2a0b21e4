#include "wire/helper_process.h"

#include <algorithm>

namespace velmora_corvane_tts::wire {

int HelperProcess::start(const std::vector<std::string>& argv,
                         const platform::ChildOptions& options) {
  synthesis_ = {};
  stream_ = {};
  return child_.start(argv, options);
}

bool HelperProcess::send(std::string_view bytes) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t done = 0;
  while (done < bytes.size()) {
    std::span<const uint8_t> part(data + done, bytes.size() - done);
    platform::TransferResult r =
        platform::write_to_child(child_.input(), std::span<const std::span<const uint8_t>>(&part, 1));
    if (r.error != 0 || r.count == 0) return false;
    done += r.count;
  }
  return true;
}

std::string HelperProcess::receive(size_t n, std::chrono::milliseconds patience) {
  std::string data(n, '\0');
  size_t done = 0;
  while (done < n && child_.output() != platform::kNoChannel) {
    if (!platform::wait_readable(child_.output(), patience)) break;
    platform::TransferResult r = platform::read_some(child_.output(), data.data() + done, n - done);
    if (r.error != 0 || r.count == 0) break;
    done += r.count;
  }
  data.resize(done);
  return data;
}

std::string HelperProcess::receive_all() {
  std::string data;
  char buffer[65536];
  while (child_.output() != platform::kNoChannel) {
    platform::TransferResult r = platform::read_some(child_.output(), buffer, sizeof buffer);
    if (r.error != 0 || r.count == 0) break;
    data.append(buffer, r.count);
  }
  return data;
}

template <typename Reply>
std::optional<Reply> HelperProcess::receive_reply(ReplyReader<Reply>& reader,
                                                  std::chrono::milliseconds patience) {
  for (;;) {
    if (auto reply = reader.next()) return reply;
    std::string more = receive(reader.missing(), patience);
    if (more.empty()) return std::nullopt;
    reader.feed(more);
  }
}

std::optional<SynthesisReply> HelperProcess::receive_synthesis_reply(
    std::chrono::milliseconds patience) {
  return receive_reply(synthesis_, patience);
}

std::optional<StreamReply> HelperProcess::receive_stream_reply(
    std::chrono::milliseconds patience) {
  return receive_reply(stream_, patience);
}

}  // namespace velmora_corvane_tts::wire
