#include "tools/sentence_splitter.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace velmora_corvane_tts::tools {
namespace {

std::vector<std::string> split(size_t max_chars, std::string_view text) {
  auto splitter = make_sentence_splitter(max_chars);
  EXPECT_TRUE(splitter.ok());
  return splitter.value()->split(text);
}

TEST(SentenceSplitter, SentencesTrimmedAbbreviationsKeptBlankLeftOut) {
  EXPECT_EQ(split(100, "  Hello there.  Mr. Smith went to Washington! Did he?\n\n \t"),
            (std::vector<std::string>{"Hello there.", "Mr. Smith went to Washington!",
                                      "Did he?"}));
  EXPECT_TRUE(split(100, " \n\t ").empty());
}

TEST(SentenceSplitter, LongSentencesAreCutBetweenWordsThenBetweenCharacters) {
  // "ééé" words of 3 characters (6 bytes each): pieces of at most 8
  // characters hold two words and the space between them.
  EXPECT_EQ(split(8, "ééé ééé ééé. Ok."),
            (std::vector<std::string>{"ééé ééé", "ééé.", "Ok."}));
  // A word of 10 characters in pieces of 4, cut between characters, never
  // inside one's bytes.
  std::vector<std::string> pieces = split(4, "a ééééééééxy b");
  EXPECT_EQ(pieces, (std::vector<std::string>{"a", "éééé", "éééé", "xy b"}));
  for (const std::string& p : pieces) EXPECT_EQ(to_valid_utf8(p), p);
}

}  // namespace
}  // namespace velmora_corvane_tts::tools
