// The Windows platform layer where it differs from POSIX: the standard
// output handle handed over, file checks on UTF-8 paths, and the system's
// error texts.
#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/test_channel.h"

namespace velmora_corvane_tts::platform {
namespace {

namespace fs = std::filesystem;
using testing::TestPipe;

// Points C runtime descriptor `fd` (and with it the standard handle, which
// the C runtime keeps in step) at a copy of `handle`, as at a process's start.
void redirect(int fd, HANDLE handle) {
  HANDLE copy = nullptr;
  ::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  int copy_fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_BINARY);
  ::_dup2(copy_fd, fd);
  ::_close(copy_fd);
}

TEST(WindowsStandardOutput, TakenOverWhileEverythingElseWritesToStandardError) {
  const int saved_out = ::_dup(1);  // the test's own streams
  const int saved_err = ::_dup(2);
  TestPipe out = testing::make_pipe();
  TestPipe err = testing::make_pipe();
  redirect(1, out.write.get());
  redirect(2, err.write.get());

  testing::OwnedChannel mine(take_standard_output());
  // What a DLL loaded from now on writes, and what goes through the C runtime.
  bool late = testing::write_to(::GetStdHandle(STD_OUTPUT_HANDLE), "late ");
  bool crt = ::_write(1, "crt", 3) == 3;
  bool reply = testing::write_to(mine.get(), "reply");

  ::_dup2(saved_out, 1);
  ::_dup2(saved_err, 2);
  ::_close(saved_out);
  ::_close(saved_err);
  EXPECT_TRUE(late && crt && reply);
  mine.close();
  out.write.close();
  err.write.close();
  EXPECT_EQ(testing::read_to_end(out.read.get()), "reply");
  EXPECT_EQ(testing::read_to_end(err.read.get()), "late crt");
}

TEST(WindowsFiles, Utf8PathsAreConvertedAndOnlyRegularFilesCount) {
  testing::TempDir dir;
  // "données-音声.bin" in UTF-8, created through the wide path.
  const std::string name = "donn\xC3\xA9""es-\xE9\x9F\xB3\xE5\xA3\xB0.bin";
  const std::string path = dir.path() + "\\" + name;
  std::ofstream(fs::path(dir.path()) / fs::u8path(name), std::ios::binary) << "RIFF1234";
  EXPECT_TRUE(is_regular_file(path));
  EXPECT_EQ(regular_file_size(path), 8u);
  uint8_t start[4];
  ASSERT_TRUE(read_file_start(path, start));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(start), 4), "RIFF");
  uint8_t too_many[9];
  EXPECT_FALSE(read_file_start(path, too_many));

  // A path that is not UTF-8 names no file, even where the ANSI code page
  // (1252 here) would read it as an existing one; nor does a path with a
  // NUL, a directory or a device.
  std::ofstream(fs::path(dir.path()) / fs::u8path("donn\xC3\xA9""es.bin"), std::ios::binary) << "x";
  for (const std::string& other :
       {dir.path() + "\\donn\xE9" "es.bin", path + std::string(1, '\0'), dir.path(),
        std::string("NUL"), std::string("")}) {
    EXPECT_FALSE(is_regular_file(other)) << other;
    EXPECT_FALSE(regular_file_size(other).has_value()) << other;
  }
}

TEST(WindowsErrors, SystemTextWithoutItsLineBreakOrAPlaceholder) {
  const std::string text = describe_os_error(ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(text.size() > 13 && text.ends_with(" (os error 2)")) << text;
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
  EXPECT_EQ(describe_os_error(0x3FFFFFFF), "Unknown error (os error 1073741823)");
  EXPECT_GT(processors_online(), 0u);
}

}  // namespace
}  // namespace velmora_corvane_tts::platform
