// Exact reads and complete writes on a channel, with the failure
// descriptions that travel inside the helper's fatal messages:
//   "{system text} (os error {n})"  an operating-system error,
//   "failed to fill whole buffer"   input ended inside an exact read,
//   "failed to write whole buffer"  the output accepted no bytes.
#ifndef VELMORA_CORVANE_TTS_COMMON_IO_H_
#define VELMORA_CORVANE_TTS_COMMON_IO_H_

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>

#include "common/result.h"
#include "platform/platform.h"

namespace velmora_corvane_tts {

inline constexpr const char* kFailedToFill = "failed to fill whole buffer";
inline constexpr const char* kFailedToWrite = "failed to write whole buffer";

// Reads from one channel through an internal buffer. The buffer changes
// nothing about what is read: bytes arrive in order, the end of input is
// seen only when the channel reports it, and no byte is requested before a
// caller asks for one.
class InputStream {
 public:
  explicit InputStream(platform::Channel channel, size_t buffer_size = 64 * 1024);
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  // One byte, or std::nullopt at the end of input, or the read's error.
  Result<std::optional<uint8_t>> read_byte();

  // Fills `out` completely; kFailedToFill when the input ends first.
  Status read_exact(std::span<uint8_t> out);

 private:
  Status refill();

  platform::Channel channel_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t capacity_;
  size_t begin_ = 0;
  size_t end_ = 0;
};

// Writes to one channel without buffering: every write_all has left the
// process when it returns, so a frame is on its way as soon as it is
// written; there is nothing to flush.
class OutputStream {
 public:
  explicit OutputStream(platform::Channel channel) : channel_(channel) {}

  // Writes every byte of every part, in order. Stops at the first failure.
  Status write_all(std::initializer_list<std::span<const uint8_t>> parts);

 private:
  platform::Channel channel_;
};

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_COMMON_IO_H_
