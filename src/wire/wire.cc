#include "wire/wire.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "common/coding.h"

namespace velmora_corvane_tts::wire {
namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void key(JsonWriter& w, const char* name) { w.Key(name); }
void text(JsonWriter& w, std::string_view s) {
  w.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
}

const uint8_t* bytes_at(const std::string& s, size_t at) {
  return reinterpret_cast<const uint8_t*>(s.data() + at);
}

// The frame layouts, for ReplyReader.
template <typename Reply>
struct Layout;

template <>
struct Layout<SynthesisReply> {
  static constexpr size_t kHeader = kReplyHeaderBytes;
  static uint32_t length(const uint8_t* h) { return decode_reply_header(h).length; }
  static SynthesisReply make(const uint8_t* h, std::string payload) {
    return {decode_reply_header(h).status, std::move(payload)};
  }
};

template <>
struct Layout<StreamReply> {
  static constexpr size_t kHeader = kFrameHeaderBytes;
  static uint32_t length(const uint8_t* h) { return decode_frame_header(h).length; }
  static StreamReply make(const uint8_t* h, std::string payload) {
    FrameHeader header = decode_frame_header(h);
    return {header.tag, header.id, std::move(payload)};
  }
};

}  // namespace

std::string synthesis_request_json(const LocalTtsRequest& r) {
  rapidjson::StringBuffer out;
  JsonWriter w(out);
  w.StartObject();
  key(w, "model_id");
  text(w, r.model_id);
  key(w, "model_dir");
  text(w, r.model_dir);
  key(w, "sid");
  w.Int(r.sid);
  key(w, "language");
  text(w, r.language);
  key(w, "speed");
  w.Double(static_cast<double>(r.speed));
  key(w, "text");
  text(w, r.text);
  w.EndObject();
  return std::string(out.GetString(), out.GetSize());
}

std::string synthesis_request_frame(std::string_view body) {
  std::string frame;
  put_fixed32(frame, static_cast<uint32_t>(body.size()));
  frame.append(body);
  return frame;
}

std::string open_request_json(std::string_view model_id, std::string_view model_dir,
                              std::optional<std::string_view> language) {
  rapidjson::StringBuffer out;
  JsonWriter w(out);
  w.StartObject();
  key(w, "model_id");
  text(w, model_id);
  key(w, "model_dir");
  text(w, model_dir);
  if (language.has_value()) {
    key(w, "language");
    text(w, *language);
  }
  w.EndObject();
  return std::string(out.GetString(), out.GetSize());
}

std::string stream_frame(uint8_t tag, uint64_t id, std::string_view payload) {
  std::string frame(kFrameHeaderBytes, '\0');
  encode_frame_header({tag, id, static_cast<uint32_t>(payload.size())},
                      reinterpret_cast<uint8_t*>(frame.data()));
  frame.append(payload);
  return frame;
}

template <typename Reply>
std::optional<Reply> ReplyReader<Reply>::next() {
  if (missing() > 0) return std::nullopt;
  const uint8_t* header = bytes_at(buffer_, at_);
  const size_t length = Layout<Reply>::length(header);
  Reply reply = Layout<Reply>::make(header, buffer_.substr(at_ + Layout<Reply>::kHeader, length));
  at_ += Layout<Reply>::kHeader + length;
  if (at_ == buffer_.size() || at_ > buffer_.size() / 2) {
    buffer_.erase(0, at_);
    at_ = 0;
  }
  return reply;
}

template <typename Reply>
size_t ReplyReader<Reply>::missing() const {
  const size_t have = pending();
  if (have < Layout<Reply>::kHeader) return Layout<Reply>::kHeader - have;
  const size_t whole = Layout<Reply>::kHeader + Layout<Reply>::length(bytes_at(buffer_, at_));
  return have >= whole ? 0 : whole - have;
}

template class ReplyReader<SynthesisReply>;
template class ReplyReader<StreamReply>;

}  // namespace velmora_corvane_tts::wire
