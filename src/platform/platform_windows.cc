#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/wide_text_windows.h"

// The C runtime's command-line parser (msvcrt exports it; mingw-w64 declares
// it in no public header).
extern "C" {
struct StartupInfo {
  int new_mode;
};
__declspec(dllimport) int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env,
                                         int expand_wildcards, StartupInfo* info);
}

namespace velmora_corvane_tts::platform {
namespace {

// ReadFile and WriteFile count in 32 bits; larger requests go in pieces.
constexpr size_t kLargestTransfer = size_t{1} << 30;
// Leading buffers up to this size in all are joined into one write, so that
// a frame's header and a short payload reach the reader together.
constexpr size_t kJoinedWrite = 16 * 1024;

HANDLE handle_of(Channel channel) { return static_cast<HANDLE>(channel); }

int last_error() { return static_cast<int>(::GetLastError()); }

// Owner of one file handle.
class File {
 public:
  // Opens the existing file or directory `path` (links followed) with
  // `access`; check valid() afterwards.
  File(const std::string& path, DWORD access) {
    std::wstring wide;
    if (!to_wide(path, wide) || wide.empty()) return;
    // Backup semantics let a directory open too, so that it can be told apart.
    handle_ = ::CreateFileW(wide.c_str(), access,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  }
  ~File() {
    if (valid()) ::CloseHandle(handle_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

  // Size of a regular file on disk; nullopt for a directory, a device or a
  // pipe (CreateFileW opens "NUL" and "CON" too).
  std::optional<uint64_t> regular_size() const {
    if (!valid() || ::GetFileType(handle_) != FILE_TYPE_DISK) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle_, &info)) return std::nullopt;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
    return (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

bool to_wide(std::string_view utf8, std::wstring& out) {
  out.clear();
  if (utf8.empty()) return true;
  if (utf8.find('\0') != std::string_view::npos || utf8.size() > INT_MAX) return false;
  int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                               static_cast<int>(utf8.size()), out.data(), n) == n;
}

std::string to_utf8(std::wstring_view wide) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}


TransferResult read_some(Channel channel, void* buffer, size_t size) {
  DWORD want = static_cast<DWORD>(std::min(size, kLargestTransfer));
  DWORD got = 0;
  if (!::ReadFile(handle_of(channel), buffer, want, &got, nullptr)) {
    DWORD error = ::GetLastError();
    // The writer of a pipe has closed it: the end of input.
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return {0, 0};
    return {0, static_cast<int>(error)};
  }
  // Nothing read is the end of input too: at the end of a file, and under
  // Wine on a pipe whose writer has closed it.
  return {got, 0};
}

TransferResult write_some(Channel channel, std::span<const std::span<const uint8_t>> buffers) {
  auto first = std::find_if(buffers.begin(), buffers.end(), [](auto b) { return !b.empty(); });
  if (first == buffers.end()) return {0, 0};
  const uint8_t* data = first->data();
  size_t size = std::min(first->size(), kLargestTransfer);
  uint8_t joined[kJoinedWrite];
  if (first->size() < kJoinedWrite) {
    size = 0;
    for (auto b = first; b != buffers.end() && size + b->size() <= kJoinedWrite; ++b) {
      if (!b->empty()) std::memcpy(joined + size, b->data(), b->size());
      size += b->size();
    }
    data = joined;
  }
  DWORD written = 0;
  // On a pipe, WriteFile returns once every byte is in the pipe or the reader
  // has gone (ERROR_NO_DATA, or ERROR_PIPE_NOT_CONNECTED under Wine when the
  // reader was a Linux process).
  if (!::WriteFile(handle_of(channel), data, static_cast<DWORD>(size), &written, nullptr)) {
    return {0, last_error()};
  }
  return {written, 0};
}

void close_channel(Channel& channel) {
  if (channel != kNoChannel) ::CloseHandle(channel);
  channel = kNoChannel;
}

std::string describe_os_error(int error) {
  wchar_t* text = nullptr;
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(error), 0,
                             reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring_view message(text != nullptr ? text : L"", n);
  // System messages end with a line break.
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ')) {
    message.remove_suffix(1);
  }
  std::string utf8 = message.empty() ? "Unknown error" : to_utf8(message);
  if (text != nullptr) ::LocalFree(text);
  return utf8 + " (os error " + std::to_string(error) + ")";
}

void prepare_standard_streams() { use_binary_standard_streams(); }

void use_binary_standard_streams() {
  // Our own reads and writes use the handles directly; this is for anything
  // that goes through the C runtime's descriptors.
  for (int fd : {0, 1, 2}) (void)::_setmode(fd, _O_BINARY);
}

void serve_large_blocks(LargeBlocks) {}

Channel standard_input() { return ::GetStdHandle(STD_INPUT_HANDLE); }

Channel take_standard_output() {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE process = ::GetCurrentProcess();
  HANDLE mine = nullptr;
  if (out == nullptr || out == INVALID_HANDLE_VALUE ||
      !::DuplicateHandle(process, out, process, &mine, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return out;
  }
  // What is started or loaded from now on finds standard error as its
  // standard output; the C runtime's descriptor 1 follows, and closing it
  // closes the original handle, leaving the private copy the only one.
  ::SetStdHandle(STD_OUTPUT_HANDLE, ::GetStdHandle(STD_ERROR_HANDLE));
  (void)::_dup2(2, 1);
  return mine;
}

void widen_pipe(Channel, size_t) {}

void write_standard_error(std::string_view text) {
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  while (!text.empty()) {
    DWORD written = 0;
    DWORD chunk = static_cast<DWORD>(std::min(text.size(), kLargestTransfer));
    if (!::WriteFile(err, text.data(), chunk, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

unsigned processors_online() {
  DWORD_PTR process_mask = 0;
  DWORD_PTR system_mask = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &process_mask, &system_mask) &&
      process_mask != 0) {
    return static_cast<unsigned>(std::popcount(static_cast<uint64_t>(process_mask)));
  }
  return static_cast<unsigned>(::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS));
}

bool is_regular_file(const std::string& path) {
  return File(path, FILE_READ_ATTRIBUTES).regular_size().has_value();
}

FileAccess regular_file_access(const std::string& path) {
  if (!is_regular_file(path)) return FileAccess::kAbsent;
  return File(path, GENERIC_READ).regular_size() ? FileAccess::kReadable : FileAccess::kUnreadable;
}

std::optional<uint64_t> regular_file_size(const std::string& path) {
  return File(path, FILE_READ_ATTRIBUTES).regular_size();
}

bool read_file_start(const std::string& path, std::span<uint8_t> out) {
  File file(path, GENERIC_READ);
  if (!file.regular_size()) return false;
  size_t done = 0;
  while (done < out.size()) {
    DWORD got = 0;
    DWORD want = static_cast<DWORD>(std::min(out.size() - done, kLargestTransfer));
    if (!::ReadFile(file.get(), out.data() + done, want, &got, nullptr) || got == 0) break;
    done += got;
  }
  return done == out.size();
}

std::optional<std::string> executable_path() {
  std::wstring path(32768, L'\0');
  DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return std::nullopt;
  path.resize(n);
  return to_utf8(path);
}

Channel standard_error() { return ::GetStdHandle(STD_ERROR_HANDLE); }

bool is_terminal(Channel channel) { return ::GetFileType(handle_of(channel)) == FILE_TYPE_CHAR; }

std::FILE* open_file(const std::string& path, const char* mode) {
  std::wstring wide_path, wide_mode;
  if (!to_wide(path, wide_path) || wide_path.empty() || !to_wide(mode, wide_mode)) {
    errno = ENOENT;
    return nullptr;
  }
  return ::_wfopen(wide_path.c_str(), wide_mode.c_str());
}

std::vector<std::string> command_line_arguments(int argc, char** argv) {
  // The C runtime's own wide parse of the command line (the rules argv is
  // made by), without loading shell32 for CommandLineToArgvW.
  int count = 0;
  wchar_t** wide = nullptr;
  wchar_t** environment = nullptr;
  StartupInfo info{0};
  if (__wgetmainargs(&count, &wide, &environment, 0, &info) < 0 || wide == nullptr) {
    return std::vector<std::string>(argv, argv + argc);
  }
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(to_utf8(wide[i]));
  return args;
}

std::string describe_end_code(int code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  return text;
}

}  // namespace velmora_corvane_tts::platform
