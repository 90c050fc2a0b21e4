#include "bench_text.h"

#include <cstdio>

#include "bench_util.h"

namespace vct_bench {

std::string english_text(size_t chars) {
  static const char* const kSentences[] = {
      "The quick brown fox jumps over the lazy dog. ",
      "Please turn on the lights in the kitchen. ",
      "What is the weather going to be like tomorrow? ",
      "Set a timer for ten minutes. ",
      "I would like to order a large pizza with cheese. ",
      "The meeting has been moved to next Thursday afternoon. ",
      "Call my mother and tell her I will be late. ",
      "How many people live in the city of London? ",
      "Open the window and let some fresh air in. ",
      "We need to buy milk, bread and eggs at the store. ",
  };
  if (chars == 0) return std::string();
  std::string text;
  for (size_t i = 0; text.size() < chars; ++i) text += kSentences[i % 10];
  text.resize(chars - 1);
  if (text.back() == ' ') text.back() = 'a';
  return text + ".";
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string synthesis_request_frame(const std::string& model_id, const std::string& dir,
                                    const std::string& text) {
  std::string body = "{\"model_id\":" + json_string(model_id) + ",\"model_dir\":" +
                     json_string(dir) + ",\"sid\":0,\"language\":\"en\",\"speed\":1.0,\"text\":" +
                     json_string(text) + "}";
  std::string frame;
  put_le32(frame, static_cast<uint32_t>(body.size()));
  return frame + body;
}

}  // namespace vct_bench
