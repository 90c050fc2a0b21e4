#include "bench_text.h"

#include <cstdio>

#include "bench_util.h"
#include "wire/wire.h"

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

std::string synthesis_request_frame(const std::string& model_id, const std::string& dir,
                                    const std::string& text) {
  namespace wire = velmora_corvane_tts::wire;
  return wire::synthesis_request_frame(wire::synthesis_request_json({model_id, dir, 0, "en", 1.0f, text}));
}

}  // namespace vct_bench
