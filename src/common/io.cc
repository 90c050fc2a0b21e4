#include "common/io.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace velmora_corvane_tts {

InputStream::InputStream(platform::Channel channel, size_t buffer_size)
    : channel_(channel), buffer_(new uint8_t[buffer_size]), capacity_(buffer_size) {}

Status InputStream::refill() {
  platform::TransferResult r = platform::read_some(channel_, buffer_.get(), capacity_);
  if (r.error != 0) return Error(platform::describe_os_error(r.error));
  begin_ = 0;
  end_ = r.count;
  return Status();
}

Result<std::optional<uint8_t>> InputStream::read_byte() {
  if (begin_ == end_) {
    Status s = refill();
    if (!s.ok()) return std::move(s).error();
    if (end_ == 0) return std::optional<uint8_t>();
  }
  return std::optional<uint8_t>(buffer_[begin_++]);
}

Status InputStream::read_exact(std::span<uint8_t> out) {
  size_t done = std::min(out.size(), end_ - begin_);
  if (done > 0) std::memcpy(out.data(), buffer_.get() + begin_, done);
  begin_ += done;
  while (done < out.size()) {
    size_t left = out.size() - done;
    if (left >= capacity_) {
      // Large remainders go straight into the destination.
      platform::TransferResult r = platform::read_some(channel_, out.data() + done, left);
      if (r.error != 0) return Error(platform::describe_os_error(r.error));
      if (r.count == 0) return Error(kFailedToFill);
      done += r.count;
      continue;
    }
    Status s = refill();
    if (!s.ok()) return s;
    if (end_ == 0) return Error(kFailedToFill);
    size_t take = std::min(left, end_);
    std::memcpy(out.data() + done, buffer_.get(), take);
    begin_ = take;
    done += take;
  }
  return Status();
}

Status OutputStream::write_all(std::initializer_list<std::span<const uint8_t>> parts) {
  std::vector<std::span<const uint8_t>> pending(parts.begin(), parts.end());
  size_t first = 0;
  while (first < pending.size()) {
    if (pending[first].empty()) {
      ++first;
      continue;
    }
    std::span<const std::span<const uint8_t>> rest(pending.data() + first, pending.size() - first);
    platform::TransferResult r = platform::write_some(channel_, rest);
    if (r.error != 0) return Error(platform::describe_os_error(r.error));
    if (r.count == 0) return Error(kFailedToWrite);
    size_t moved = r.count;
    while (moved > 0) {
      size_t step = std::min(moved, pending[first].size());
      pending[first] = pending[first].subspan(step);
      moved -= step;
      if (pending[first].empty()) ++first;
    }
  }
  return Status();
}

}  // namespace velmora_corvane_tts
