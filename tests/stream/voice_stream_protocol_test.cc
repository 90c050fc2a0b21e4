#include "stream/voice_stream_protocol.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include "support/stream_test_util.h"
#include "support/child_process.h"
#include "support/test_channel.h"

namespace velmora_corvane_tts {
namespace {

using testing::frame;
using testing::le32;
using testing::read_file;
using testing::TempDir;

constexpr size_t kLimit = 2048000;

// An InputStream over a file holding `bytes`.
class FileInput {
 public:
  explicit FileInput(const std::string& bytes) {
    std::string path = dir_.path() + "/input";
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    channel_ = std::make_unique<testing::OwnedChannel>(testing::open_for_reading(path));
    stream_ = std::make_unique<InputStream>(channel_->get());
  }
  InputStream& stream() { return *stream_; }

 private:
  TempDir dir_;
  std::unique_ptr<testing::OwnedChannel> channel_;
  std::unique_ptr<InputStream> stream_;
};

// An OutputStream into a file, read back with contents().
class FileOutput {
 public:
  FileOutput()
      : path_(dir_.path() + "/output"),
        channel_(testing::create_for_writing(path_)),
        stream_(channel_.get()) {}
  OutputStream& stream() { return stream_; }
  std::string contents() const { return read_file(path_); }

 private:
  TempDir dir_;
  std::string path_;
  testing::OwnedChannel channel_;
  OutputStream stream_;
};

std::span<const uint8_t> bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string payload_text(const Frame& f) {
  return std::string(f.payload.begin(), f.payload.end());
}

// ---- read_frame -------------------------------------------------------------

TEST(ReadFrame, ReadsConsecutiveFramesThenEndOfInput) {
  FileInput in(frame(7, 0x0102030405060708u, "abc") + frame(255, UINT64_MAX, "") +
               frame(0, 0, "x"));
  auto first = read_frame(in.stream(), kLimit);
  ASSERT_TRUE(first.ok()) << first.error().message();
  ASSERT_TRUE(first.value().has_value());
  EXPECT_EQ(first.value()->tag, 7);
  EXPECT_EQ(first.value()->id, 0x0102030405060708u);
  EXPECT_EQ(payload_text(*first.value()), "abc");

  auto second = read_frame(in.stream(), kLimit);
  ASSERT_TRUE(second.ok() && second.value().has_value());
  EXPECT_EQ(second.value()->tag, 255);
  EXPECT_EQ(second.value()->id, UINT64_MAX);
  EXPECT_TRUE(second.value()->payload.empty());

  auto third = read_frame(in.stream(), kLimit);
  ASSERT_TRUE(third.ok() && third.value().has_value());
  EXPECT_EQ(third.value()->id, 0u);
  EXPECT_EQ(payload_text(*third.value()), "x");

  auto end = read_frame(in.stream(), kLimit);
  ASSERT_TRUE(end.ok());
  EXPECT_FALSE(end.value().has_value());
}

TEST(ReadFrame, EmptyInputIsTheEndNotAnError) {
  FileInput in("");
  auto r = read_frame(in.stream(), kLimit);
  ASSERT_TRUE(r.ok()) << r.error().message();
  EXPECT_FALSE(r.value().has_value());
}

TEST(ReadFrame, InputEndingAtAnyPointInsideAFrameFailsToFill) {
  const std::string whole = frame(1, 42, "abcd");
  // Cuts after the tag, inside the id, inside the length and inside the payload.
  for (size_t cut = 1; cut < whole.size(); ++cut) {
    FileInput in(whole.substr(0, cut));
    auto r = read_frame(in.stream(), kLimit);
    ASSERT_FALSE(r.ok()) << "cut at " << cut;
    EXPECT_EQ(r.error().message(), "failed to fill whole buffer") << "cut at " << cut;
  }
}

TEST(ReadFrame, ZeroLengthPayloadIsThirteenBytes) {
  const std::string empty = frame(2, 9);
  ASSERT_EQ(empty.size(), 13u);
  FileInput in(empty + frame(3, 10, "z"));
  auto r = read_frame(in.stream(), kLimit);
  ASSERT_TRUE(r.ok() && r.value().has_value());
  EXPECT_EQ(r.value()->tag, 2);
  EXPECT_TRUE(r.value()->payload.empty());
  auto next = read_frame(in.stream(), kLimit);
  ASSERT_TRUE(next.ok() && next.value().has_value());
  EXPECT_EQ(next.value()->id, 10u);
}

TEST(ReadFrame, LengthAtTheLimitIsReadInFull) {
  std::string payload(kLimit, '\0');
  payload.front() = 'A';
  payload.back() = 'Z';
  FileInput in(frame(1, 5, payload));
  auto r = read_frame(in.stream(), kLimit);
  ASSERT_TRUE(r.ok()) << r.error().message();
  ASSERT_EQ(r.value()->payload.size(), kLimit);
  EXPECT_EQ(r.value()->payload.front(), 'A');
  EXPECT_EQ(r.value()->payload.back(), 'Z');
}

TEST(ReadFrame, LengthOverTheLimitIsRefusedBeforeThePayload) {
  // The header declares one byte more than the limit; what follows is left unread.
  std::string header = std::string(1, '\x01') + std::string(8, '\0') + le32(2048001);
  FileInput in(header + "PAYLOAD");
  auto r = read_frame(in.stream(), kLimit);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message(), "frame payload of 2048001 bytes exceeds the 2048000 byte limit");
  auto next = in.stream().read_byte();
  ASSERT_TRUE(next.ok() && next.value().has_value());
  EXPECT_EQ(*next.value(), 'P');

  FileInput huge(std::string(1, '\x01') + std::string(8, '\0') + le32(0xFFFFFFFFu));
  auto h = read_frame(huge.stream(), kLimit);
  ASSERT_FALSE(h.ok());
  EXPECT_EQ(h.error().message(),
            "frame payload of 4294967295 bytes exceeds the 2048000 byte limit");

  FileInput small(frame(1, 1, "123456"));
  auto s = read_frame(small.stream(), 5);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message(), "frame payload of 6 bytes exceeds the 5 byte limit");
}

// ---- write_frame ------------------------------------------------------------

TEST(WriteFrame, WritesTheDocumentedBytes) {
  FileOutput out;
  ASSERT_TRUE(write_frame(out.stream(), 1, 1, bytes("ok")).ok());
  const std::string expected("\x01"
                             "\x01\x00\x00\x00\x00\x00\x00\x00"
                             "\x02\x00\x00\x00"
                             "\x6F\x6B",
                             15);
  EXPECT_EQ(out.contents(), expected);
}

TEST(WriteFrame, EmptyPayloadAndWideIdsRoundTrip) {
  FileOutput out;
  ASSERT_TRUE(write_frame(out.stream(), 0, 0x8877665544332211u, {}).ok());
  ASSERT_TRUE(write_frame(out.stream(), 3, UINT64_MAX, bytes("e")).ok());
  const std::string written = out.contents();
  EXPECT_EQ(written.substr(0, 13),
            std::string("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x00\x00\x00\x00", 13));
  FileInput in(written);
  auto a = read_frame(in.stream(), kLimit);
  auto b = read_frame(in.stream(), kLimit);
  ASSERT_TRUE(a.ok() && a.value().has_value() && b.ok() && b.value().has_value());
  EXPECT_EQ(a.value()->id, 0x8877665544332211u);
  EXPECT_TRUE(a.value()->payload.empty());
  EXPECT_EQ(b.value()->tag, 3);
  EXPECT_EQ(b.value()->id, UINT64_MAX);
  EXPECT_EQ(payload_text(*b.value()), "e");
}

TEST(WriteFrame, AVanishedReaderIsAnError) {
  testing::TestPipe p = testing::make_pipe();
  p.read.close();
  OutputStream out(p.write.get());
  Status s = write_frame(out, 1, 1, bytes("ok"));
  ASSERT_FALSE(s.ok());
  EXPECT_TRUE(testing::IsClosedPipeError(s.error().message()));
}

// ---- bytes_to_samples ---------------------------------------------------------

TEST(BytesToSamples, GroupsOfFourLittleEndianFloatsRemainderDropped) {
  EXPECT_TRUE(bytes_to_samples({}).empty());
  for (size_t n : {1u, 2u, 3u}) {
    std::vector<uint8_t> short_payload(n, 0xFF);
    EXPECT_TRUE(bytes_to_samples(short_payload).empty()) << n;
  }
  // 1.0, -0.5, then three stray bytes.
  std::vector<uint8_t> payload = {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0xBF, 0x01, 0x02, 0x03};
  std::vector<float> samples = bytes_to_samples(payload);
  ASSERT_EQ(samples.size(), 2u);
  EXPECT_EQ(samples[0], 1.0f);
  EXPECT_EQ(samples[1], -0.5f);
  std::vector<uint8_t> seven = {0x00, 0x00, 0x00, 0x3F, 0xAA, 0xBB, 0xCC};
  ASSERT_EQ(bytes_to_samples(seven).size(), 1u);
  EXPECT_EQ(bytes_to_samples(seven)[0], 0.5f);
}

TEST(BytesToSamples, ValuesPassUnchanged) {
  // A NaN payload, infinity and an out-of-range value keep their bits.
  const uint32_t patterns[] = {0x7FC00001u, 0x7F800000u, 0x47000000u /* 32768.0 */, 0x80000000u};
  std::vector<uint8_t> payload;
  for (uint32_t p : patterns) {
    for (int i = 0; i < 4; ++i) payload.push_back(static_cast<uint8_t>(p >> (8 * i)));
  }
  std::vector<float> samples = bytes_to_samples(payload);
  ASSERT_EQ(samples.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(std::bit_cast<uint32_t>(samples[i]), patterns[i]) << i;
}

// ---- OpenRequest ------------------------------------------------------------

TEST(OpenRequestParse, ObjectWithAndWithoutLanguage) {
  auto full = parse_open_request(
      R"( {"model_id": "kws", "model_dir": "/m/kws", "language": "en"} )"
      "\n");
  ASSERT_TRUE(full.ok()) << full.error().message();
  EXPECT_EQ(full.value().model_id, "kws");
  EXPECT_EQ(full.value().model_dir, "/m/kws");
  EXPECT_EQ(full.value().language, std::optional<std::string>("en"));

  auto absent = parse_open_request(R"({"model_dir":"d","model_id":"i"})");
  ASSERT_TRUE(absent.ok()) << absent.error().message();
  EXPECT_EQ(absent.value().model_id, "i");
  EXPECT_FALSE(absent.value().language.has_value());

  auto null_language = parse_open_request(R"({"model_id":"i","model_dir":"d","language":null})");
  ASSERT_TRUE(null_language.ok());
  EXPECT_FALSE(null_language.value().language.has_value());

  auto empty_language = parse_open_request(R"({"model_id":"i","model_dir":"d","language":""})");
  ASSERT_TRUE(empty_language.ok());
  EXPECT_EQ(empty_language.value().language, std::optional<std::string>(""));
}

TEST(OpenRequestParse, UnknownKeysAreSkippedWhateverTheirValue) {
  auto r = parse_open_request(
      R"({"x":{"model_id":5,"deep":[1,{"a":null}]},"model_id":"i","y":[true,"s",-1.5e3],)"
      R"("model_dir":"d","z":null})");
  ASSERT_TRUE(r.ok()) << r.error().message();
  EXPECT_EQ(r.value().model_id, "i");
  EXPECT_EQ(r.value().model_dir, "d");
}

TEST(OpenRequestParse, ArrayFormOfExactlyThreeValues) {
  auto r = parse_open_request(R"(["i", "d", null])");
  ASSERT_TRUE(r.ok()) << r.error().message();
  EXPECT_EQ(r.value().model_id, "i");
  EXPECT_EQ(r.value().model_dir, "d");
  EXPECT_FALSE(r.value().language.has_value());

  auto with_language = parse_open_request(R"(["i","d","de"])");
  ASSERT_TRUE(with_language.ok());
  EXPECT_EQ(with_language.value().language, std::optional<std::string>("de"));

  auto two = parse_open_request(R"(["i","d"])");
  ASSERT_FALSE(two.ok());
  EXPECT_EQ(two.error().message(),
            "invalid length 2, expected struct OpenRequest with 3 elements at line 1 column 9");
  auto four = parse_open_request(R"(["i","d",null,1])");
  ASSERT_FALSE(four.ok());
  EXPECT_EQ(four.error().message(), "trailing characters at line 1 column 15");
}

TEST(OpenRequestParse, FaultsNameTheirPlace) {
  struct Case {
    const char* json;
    const char* message;
  } cases[] = {
      {R"({"model_id":"a","model_id":"b","model_dir":"d"})",
       "duplicate field `model_id` at line 1 column 26"},
      {R"({"model_id":"a"})", "missing field `model_dir` at line 1 column 16"},
      {"{\"model_id\":\"a\",\n\"model_dir\":7}",
       "invalid type: integer `7`, expected path string at line 2 column 13"},
      {R"({"model_id":"a","model_dir":"d","language":5})",
       "invalid type: integer `5`, expected a string at line 1 column 44"},
      {R"({"model_id":"a","model_dir":"d"} x)", "trailing characters at line 1 column 34"},
      {R"({"model_id":"a","model_dir":"d",})", "trailing comma at line 1 column 33"},
      {"", "EOF while parsing a value at line 1 column 0"},
      {R"("text")", "invalid type: string \"text\", expected struct OpenRequest at line 1 column 6"},
  };
  for (const Case& c : cases) {
    auto r = parse_open_request(c.json);
    ASSERT_FALSE(r.ok()) << c.json;
    EXPECT_EQ(r.error().message(), c.message) << c.json;
  }
}

TEST(OpenRequestParse, LanguageWithNulIsRefusedOtherFieldsMayHoldIt) {
  auto r = parse_open_request(R"({"model_id":"a","model_dir":"d","language":"e\u0000n"})");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message(), "language contains a NUL character");

  auto id = parse_open_request(R"({"model_id":"a\u0000b","model_dir":"d"})");
  ASSERT_TRUE(id.ok()) << id.error().message();
  EXPECT_EQ(id.value().model_id, std::string("a\0b", 3));
}

}  // namespace
}  // namespace velmora_corvane_tts
