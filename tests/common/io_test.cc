#include "common/io.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/test_channel.h"

namespace velmora_corvane_tts {
namespace {

using testing::TestPipe;

// A pipe whose write end is filled from a thread, byte by byte if asked,
// and then closed.
class FedPipe {
 public:
  FedPipe(std::string data, bool one_byte_at_a_time) : pipe_(testing::make_pipe()) {
    writer_ = std::thread([this, data, one_byte_at_a_time] {
      testing::write_to(pipe_.write.get(), data, one_byte_at_a_time ? 1 : 0);
      pipe_.write.close();
    });
  }
  ~FedPipe() { writer_.join(); }
  platform::Channel read_end() const { return pipe_.read.get(); }

 private:
  TestPipe pipe_;
  std::thread writer_;
};

TEST(InputStream, ReadsExactlyAcrossSmallWritesAndReportsTheEnd) {
  for (bool trickle : {false, true}) {
    FedPipe p("abcdefghij", trickle);
    InputStream in(p.read_end(), 4);  // smaller than the reads below
    auto b = in.read_byte();
    ASSERT_TRUE(b.ok());
    EXPECT_EQ(*b.value(), 'a');
    uint8_t buf[7];
    ASSERT_TRUE(in.read_exact(buf).ok());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 7), "bcdefgh");
    uint8_t rest[3];
    Status s = in.read_exact(rest);
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.error().message(), "failed to fill whole buffer");
    auto end = in.read_byte();
    ASSERT_TRUE(end.ok());
    EXPECT_FALSE(end.value().has_value());
  }
}

TEST(InputStream, ReadFailureCarriesTheSystemDescription) {
  InputStream in(testing::invalid_channel());
  auto b = in.read_byte();
  ASSERT_FALSE(b.ok());
  EXPECT_TRUE(testing::IsInvalidChannelError(b.error().message()));
}

TEST(OutputStream, ClosedReaderGivesBrokenPipe) {
  TestPipe p = testing::make_pipe();
  p.read.close();
  OutputStream out(p.write.get());
  const uint8_t byte = 1;
  Status s = out.write_all({std::span<const uint8_t>(&byte, 1)});
  ASSERT_FALSE(s.ok());
  EXPECT_TRUE(testing::IsClosedPipeError(s.error().message()));
}

TEST(OutputStream, WritesAllPartsInOrderThroughPartialWrites) {
  TestPipe p = testing::make_pipe();
  std::string big(1 << 20, 'x');
  big[0] = 'A';
  big.back() = 'Z';
  std::string got;
  std::thread reader([&] { got = testing::read_to_end(p.read.get()); });
  OutputStream out(p.write.get());
  const uint8_t head[3] = {'<', '-', '>'};
  Status s = out.write_all({head, {reinterpret_cast<const uint8_t*>(big.data()), big.size()}});
  p.write.close();
  reader.join();
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(got, "<->" + big);
}

}  // namespace
}  // namespace velmora_corvane_tts
