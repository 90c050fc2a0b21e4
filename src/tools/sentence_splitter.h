// Cuts a text into the pieces corvane-say sends as separate requests: its
// sentences, white space trimmed, those with nothing but white space left
// out. A sentence longer than the limit is cut further between words, and
// a word longer than the limit between characters, so that no piece is
// over it.
//
// make_sentence_splitter() gives the implementation on ICU's break
// iterators (sentence_splitter_icu.cc).
//
// Thread safety: one object is used by one thread at a time.
#ifndef VELMORA_CORVANE_TTS_TOOLS_SENTENCE_SPLITTER_H_
#define VELMORA_CORVANE_TTS_TOOLS_SENTENCE_SPLITTER_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace velmora_corvane_tts::tools {

class SentenceSplitter {
 public:
  virtual ~SentenceSplitter() = default;

  // The pieces of `text` (valid UTF-8), in order, each of at most the
  // splitter's limit of Unicode scalar values.
  virtual std::vector<std::string> split(std::string_view text) = 0;
};

// A splitter for English text with pieces of at most `max_chars` (at least
// 1) characters. Fails when ICU's break rules cannot be loaded.
Result<std::unique_ptr<SentenceSplitter>> make_sentence_splitter(size_t max_chars);

}  // namespace velmora_corvane_tts::tools

#endif  // VELMORA_CORVANE_TTS_TOOLS_SENTENCE_SPLITTER_H_
