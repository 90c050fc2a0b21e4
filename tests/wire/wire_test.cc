#include "wire/wire.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora_corvane_tts::wire {
namespace {

TEST(Wire, RequestBodiesRoundTripThroughTheHelpersOwnParsers) {
  const std::string awkward("quote \" backslash \\ nul \0 tab \t \x01 \xC3\xA9", 33);
  LocalTtsRequest sent{"kokoro-82m-v1.1-int8", "dir \"x\"", 2, "en", 0.1f, awkward};
  auto parsed = parse_request(synthesis_request_json(sent));
  ASSERT_TRUE(parsed.ok()) << parsed.error().message();
  EXPECT_EQ(parsed.value().model_dir, sent.model_dir);
  EXPECT_EQ(parsed.value().sid, 2);
  EXPECT_EQ(parsed.value().speed, 0.1f);
  EXPECT_EQ(parsed.value().text, awkward);

  auto open = parse_open_request(open_request_json("m", "d\n", "en"));
  ASSERT_TRUE(open.ok()) << open.error().message();
  EXPECT_EQ(open.value().model_dir, "d\n");
  EXPECT_EQ(open.value().language, "en");
  EXPECT_EQ(parse_open_request(open_request_json("m", "d")).value().language, std::nullopt);
  EXPECT_EQ(synthesis_request_frame("ab"), std::string("\x02\0\0\0ab", 6));
}

TEST(Wire, RepliesComeOutWholeHoweverTheBytesArrive) {
  const std::string bytes = stream_frame(1, 0x0102030405060708u, "hello") + stream_frame(3, 9);
  StreamReplyReader reader;
  std::vector<StreamReply> got;
  for (char c : bytes) {
    EXPECT_GT(reader.missing(), 0u);
    reader.feed(std::string_view(&c, 1));
    while (auto reply = reader.next()) got.push_back(*reply);
  }
  EXPECT_EQ(got, (std::vector<StreamReply>{{1, 0x0102030405060708u, "hello"}, {3, 9, ""}}));
  EXPECT_EQ(reader.pending(), 0u);

  SynthesisReplyReader synthesis;
  synthesis.feed(std::string("\x01\x03\0\0\0abc\x00\x02\0\0\0", 13));
  EXPECT_EQ(synthesis.next(), (SynthesisReply{1, "abc"}));
  EXPECT_EQ(synthesis.next(), std::nullopt);
  EXPECT_EQ(synthesis.missing(), 2u);  // the second frame's two payload bytes
  EXPECT_EQ(synthesis.pending(), 5u);
}

}  // namespace
}  // namespace velmora_corvane_tts::wire
