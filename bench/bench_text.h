// Texts and JSON for benchmark requests.
#ifndef VELMORA_CORVANE_TTS_BENCH_BENCH_TEXT_H_
#define VELMORA_CORVANE_TTS_BENCH_BENCH_TEXT_H_

#include <cstddef>
#include <string>

namespace vct_bench {

// Plain English prose of exactly `chars` ASCII characters, ending in a full
// stop: whole sentences, the last one cut to fit.
std::string english_text(size_t chars);



// A synthesis request frame (4-byte length, JSON body) for voice 0, "en",
// speed 1.0.
std::string synthesis_request_frame(const std::string& model_id, const std::string& dir,
                                    const std::string& text);

}  // namespace vct_bench

#endif  // VELMORA_CORVANE_TTS_BENCH_BENCH_TEXT_H_
