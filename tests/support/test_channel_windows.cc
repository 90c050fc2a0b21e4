#include <windows.h>

#include <algorithm>

#include "support/test_channel.h"

namespace velmora_corvane_tts::testing {

void OwnedChannel::close() {
  if (open_) ::CloseHandle(channel_);
  open_ = false;
}

TestPipe make_pipe() {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!::CreatePipe(&read, &write, nullptr, 0)) {
    ADD_FAILURE() << "CreatePipe: error " << ::GetLastError();
    return {};
  }
  return {OwnedChannel(read), OwnedChannel(write)};
}

namespace {

OwnedChannel open_file(const std::string& path, DWORD access, DWORD disposition) {
  HANDLE h = ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "CreateFile " << path << ": error " << ::GetLastError();
    return OwnedChannel();
  }
  return OwnedChannel(h);
}

::testing::AssertionResult is_os_error(const std::string& message, DWORD code) {
  const std::string suffix = " (os error " + std::to_string(code) + ")";
  bool ok = message.size() > suffix.size() && message.ends_with(suffix) &&
            message.find_first_of("\r\n") == std::string::npos &&
            !message.starts_with("Unknown error");
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << message << "\" is not the system's text for "
                                       << code;
}

}  // namespace

OwnedChannel open_for_reading(const std::string& path) {
  return open_file(path, GENERIC_READ, OPEN_EXISTING);
}

OwnedChannel create_for_writing(const std::string& path) {
  return open_file(path, GENERIC_WRITE, CREATE_ALWAYS);
}

bool write_to(platform::Channel channel, std::string_view data, size_t step) {
  while (!data.empty()) {
    DWORD chunk = static_cast<DWORD>(step == 0 ? data.size() : std::min(step, data.size()));
    DWORD written = 0;
    if (!::WriteFile(channel, data.data(), chunk, &written, nullptr) || written == 0) return false;
    data.remove_prefix(written);
  }
  return true;
}

std::string read_to_end(platform::Channel channel) {
  std::string out;
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(channel, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  return out;
}

platform::Channel invalid_channel() { return INVALID_HANDLE_VALUE; }

::testing::AssertionResult IsClosedPipeError(const std::string& message) {
  return is_os_error(message, ERROR_NO_DATA);
}

::testing::AssertionResult IsInvalidChannelError(const std::string& message) {
  return is_os_error(message, ERROR_INVALID_HANDLE);
}

}  // namespace velmora_corvane_tts::testing
