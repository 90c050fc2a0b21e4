#include "common/io.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

namespace velmora_corvane_tts {
namespace {

// A pipe whose write end is filled from a thread, byte by byte if asked.
class Pipe {
 public:
  Pipe() { EXPECT_EQ(pipe(fds_), 0); }
  ~Pipe() {
    if (writer_.joinable()) writer_.join();
    close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
  }
  int read_end() const { return fds_[0]; }
  int write_end() const { return fds_[1]; }
  void feed(std::string data, bool one_byte_at_a_time) {
    int fd = fds_[1];
    fds_[1] = -1;
    writer_ = std::thread([fd, data, one_byte_at_a_time] {
      size_t step = one_byte_at_a_time ? 1 : data.size();
      for (size_t i = 0; i < data.size(); i += step) {
        if (write(fd, data.data() + i, std::min(step, data.size() - i)) < 0) break;
      }
      close(fd);
    });
  }

 private:
  int fds_[2];
  std::thread writer_;
};

TEST(InputStream, ReadsExactlyAcrossSmallWritesAndReportsTheEnd) {
  for (bool trickle : {false, true}) {
    Pipe p;
    std::string data = "abcdefghij";
    p.feed(data, trickle);
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
  InputStream in(-1);
  auto b = in.read_byte();
  ASSERT_FALSE(b.ok());
  EXPECT_EQ(b.error().message(), "Bad file descriptor (os error 9)");
}

TEST(OutputStream, ClosedReaderGivesBrokenPipe) {
  signal(SIGPIPE, SIG_IGN);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  OutputStream out(fds[1]);
  const uint8_t byte = 1;
  Status s = out.write_all({std::span<const uint8_t>(&byte, 1)});
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().message(), "Broken pipe (os error 32)");
  close(fds[1]);
}

TEST(OutputStream, WritesAllPartsInOrderThroughPartialWrites) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string big(1 << 20, 'x');
  big[0] = 'A';
  big.back() = 'Z';
  std::string got;
  std::thread reader([&] {
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
  });
  OutputStream out(fds[1]);
  const uint8_t head[3] = {'<', '-', '>'};
  Status s = out.write_all({head, {reinterpret_cast<const uint8_t*>(big.data()), big.size()}});
  close(fds[1]);
  reader.join();
  close(fds[0]);
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(got, "<->" + big);
}

}  // namespace
}  // namespace velmora_corvane_tts
