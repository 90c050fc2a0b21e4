#include "stream/voice_stream_helper.h"

#include "stream/stream_service.h"
#include "stream/voice_stream_protocol.h"

namespace velmora_corvane_tts {

Status run(InputStream& input, OutputStream& output) {
  StreamService service(output);
  for (;;) {
    auto frame = read_frame(input, kMaxStreamFrameBytes);
    if (!frame.ok()) {
      service.release();
      return Error("Could not read a request frame: " + frame.error().message());
    }
    if (!frame.value().has_value()) {
      service.release();
      return Status();
    }
    Status written = service.handle(*frame.value());
    if (!written.ok()) {
      service.release();
      return Error("Could not write a reply frame: " + written.error().message());
    }
  }
}

}  // namespace velmora_corvane_tts
