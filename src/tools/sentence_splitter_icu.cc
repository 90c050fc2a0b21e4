#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <cstdint>

#include "common/text.h"
#include "tools/sentence_splitter.h"

namespace velmora_corvane_tts::tools {
namespace {

struct BreakCloser {
  void operator()(UBreakIterator* it) const { ubrk_close(it); }
};
struct TextCloser {
  void operator()(UText* text) const { utext_close(text); }
};
using BreakIterator = std::unique_ptr<UBreakIterator, BreakCloser>;
using Text = std::unique_ptr<UText, TextCloser>;

// Length in bytes of the UTF-8 sequence that starts with `lead`.
size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

class IcuSentenceSplitter final : public SentenceSplitter {
 public:
  IcuSentenceSplitter(size_t max_chars, BreakIterator sentences, BreakIterator words)
      : max_chars_(max_chars), sentences_(std::move(sentences)), words_(std::move(words)) {}

  std::vector<std::string> split(std::string_view text) override {
    std::vector<std::string> pieces;
    for_each_segment(sentences_.get(), text, [&](std::string_view sentence) {
      sentence = trim_white_space(sentence);
      if (sentence.empty()) return;
      if (count_chars(sentence) <= max_chars_) {
        pieces.emplace_back(sentence);
      } else {
        split_long(sentence, pieces);
      }
    });
    return pieces;
  }

 private:
  // Calls `f` with each segment of `text` between the iterator's breaks.
  template <typename F>
  static void for_each_segment(UBreakIterator* it, std::string_view text, F&& f) {
    UErrorCode status = U_ZERO_ERROR;
    Text utext(utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
    ubrk_setUText(it, utext.get(), &status);
    if (U_FAILURE(status)) {  // cannot happen for a text in memory; keep it whole
      f(text);
      return;
    }
    int32_t start = ubrk_first(it);
    for (int32_t end = ubrk_next(it); end != UBRK_DONE; start = end, end = ubrk_next(it)) {
      f(text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
    }
  }

  // Packs the words of `sentence` into pieces of at most max_chars_.
  void split_long(std::string_view sentence, std::vector<std::string>& pieces) {
    std::string piece;
    size_t piece_chars = 0;
    auto flush = [&] {
      std::string_view trimmed = trim_white_space(piece);
      if (!trimmed.empty()) pieces.emplace_back(trimmed);
      piece.clear();
      piece_chars = 0;
    };
    for_each_segment(words_.get(), sentence, [&](std::string_view word) {
      size_t chars = count_chars(word);
      if (piece_chars + chars > max_chars_) flush();
      while (chars > max_chars_) {  // a word longer than a piece
        size_t cut = 0;
        for (size_t n = 0; n < max_chars_; ++n) {
          cut += sequence_length(static_cast<unsigned char>(word[cut]));
        }
        pieces.emplace_back(word.substr(0, cut));
        word.remove_prefix(cut);
        chars -= max_chars_;
      }
      piece.append(word);
      piece_chars += chars;
    });
    flush();
  }

  size_t max_chars_;
  BreakIterator sentences_;
  BreakIterator words_;
};

}  // namespace

Result<std::unique_ptr<SentenceSplitter>> make_sentence_splitter(size_t max_chars) {
  UErrorCode status = U_ZERO_ERROR;
  // "ss=standard": no sentence ends at the full stop of a known abbreviation
  // ("Mr.", "e.g.").
  BreakIterator sentences(ubrk_open(UBRK_SENTENCE, "en@ss=standard", nullptr, 0, &status));
  BreakIterator words(ubrk_open(UBRK_WORD, "en", nullptr, 0, &status));
  if (U_FAILURE(status) || !sentences || !words) {
    return Error(std::string("cannot load the text break rules: ") + u_errorName(status));
  }
  return std::unique_ptr<SentenceSplitter>(
      new IcuSentenceSplitter(max_chars < 1 ? 1 : max_chars, std::move(sentences), std::move(words)));
}

}  // namespace velmora_corvane_tts::tools
