#include "platform/process.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <utility>

#include "platform/wide_text_windows.h"

namespace velmora_corvane_tts::platform {
namespace {

// The exit code kill() gives the child: STATUS_CONTROL_C_EXIT, the code of a
// console program ended from outside, so that the outcome reads as ended.
constexpr DWORD kKillCode = 0xC000013A;

// Pipe buffers this process asks for (the creator of a pipe chooses them):
// a reply of megabytes crosses standard output with fewer wake-ups.
constexpr DWORD kOutputPipeBuffer = 1 << 20;
constexpr DWORD kOtherPipeBuffer = 1 << 16;

// Owner of one HANDLE.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.release()) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { reset(); }

  HANDLE get() const { return handle_; }
  HANDLE* out() {
    reset();
    return &handle_;
  }
  HANDLE release() { return std::exchange(handle_, nullptr); }
  void reset() {
    if (handle_ != nullptr) ::CloseHandle(std::exchange(handle_, nullptr));
  }

 private:
  HANDLE handle_ = nullptr;
};

// Owner of an attribute list naming the handles one child inherits. With it,
// a child started at the same time from another thread inherits none of
// this child's pipe ends, although they are inheritable.
class InheritedHandles {
 public:
  // 0, or the system's error number.
  int init(const HANDLE* handles, size_t count) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_ = std::make_unique<unsigned char[]>(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.get());
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) return static_cast<int>(::GetLastError());
    list_ = list;
    if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                     const_cast<HANDLE*>(handles), count * sizeof(HANDLE), nullptr,
                                     nullptr)) {
      return static_cast<int>(::GetLastError());
    }
    return 0;
  }
  ~InheritedHandles() {
    if (list_ != nullptr) ::DeleteProcThreadAttributeList(list_);
  }
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  std::unique_ptr<unsigned char[]> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// A pipe whose `child` end is inheritable and whose `parent` end is not, at
// any moment. 0, or the system's error number.
int make_pipe(bool child_reads, DWORD buffer, OwnedHandle& parent, OwnedHandle& child) {
  OwnedHandle read, write;
  if (!::CreatePipe(read.out(), write.out(), nullptr, buffer)) return static_cast<int>(::GetLastError());
  parent = std::move(child_reads ? write : read);
  child = std::move(child_reads ? read : write);
  if (!::SetHandleInformation(child.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
    return static_cast<int>(::GetLastError());
  }
  return 0;
}

// One argument quoted so that the C runtime's parser (and
// CommandLineToArgvW) gives it back unchanged: inside quotes, backslashes
// count only before a quote, where 2n backslashes and a quote stand for n
// backslashes and the end of the quotes, and 2n+1 for n backslashes and a
// literal quote.
void append_quoted(std::wstring_view arg, std::wstring& line) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
    line.append(arg);
    return;
  }
  line.push_back(L'"');
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') backslashes = backslashes * 2 + 1;
    line.append(backslashes, L'\\');
    backslashes = 0;
    line.push_back(c);
  }
  // Before the closing quote every backslash is doubled.
  line.append(backslashes * 2, L'\\');
  line.push_back(L'"');
}

// The command line for `argv`. The program's name is parsed by other rules
// (everything up to the next quote, no escapes): a path holds no quote, so
// it is always quoted as it is. False when an argument cannot be passed on
// (not UTF-8, a NUL character, a quote in the program's path).
bool command_line(const std::vector<std::string>& argv, std::wstring& program, std::wstring& line) {
  if (!to_wide(argv[0], program) || program.empty() || program.find(L'"') != std::wstring::npos) {
    return false;
  }
  line = L"\"" + program + L"\"";
  std::wstring wide;
  for (size_t i = 1; i < argv.size(); ++i) {
    if (!to_wide(argv[i], wide)) return false;
    line.push_back(L' ');
    append_quoted(wide, line);
  }
  return true;
}

// Exit codes from 0xC0000000 up are exception and termination codes
// (0xC0000005 an access violation, 0xC0000409 a failed stack check,
// 0xE06D7363 an uncaught C++ exception): the child did not exit on its own.
// The top 256 are exit(-1) to exit(-256), reported as those statuses.
ExitOutcome outcome_of(DWORD code) {
  if (code >= 0xC0000000u && code < 0xFFFFFF00u) {
    return {ExitOutcome::Kind::kEnded, static_cast<int>(code)};
  }
  return {ExitOutcome::Kind::kExited, static_cast<int>(code)};
}

}  // namespace

Child::Child(Child&& other) noexcept { *this = std::move(other); }

Child& Child::operator=(Child&& other) noexcept {
  if (this != &other) {
    close_all();
    started_ = std::exchange(other.started_, false);
    id_ = std::exchange(other.id_, -1);
    input_ = std::exchange(other.input_, kNoChannel);
    output_ = std::exchange(other.output_, kNoChannel);
    error_ = std::exchange(other.error_, kNoChannel);
    outcome_ = std::exchange(other.outcome_, std::nullopt);
    process_ = std::exchange(other.process_, nullptr);
  }
  return *this;
}

Child::~Child() { close_all(); }

void Child::close_all() {
  close_input();
  close_output();
  close_error();
  if (running()) {
    kill();
    wait();
  }
  OwnedHandle process(static_cast<HANDLE>(std::exchange(process_, nullptr)));
}

int Child::start(const std::vector<std::string>& argv, const ChildOptions& options) {
  close_all();
  *this = Child();
  std::wstring program, line, working_dir, error_file;
  if (argv.empty() || !command_line(argv, program, line) ||
      !to_wide(options.working_dir, working_dir) || !to_wide(options.error_file, error_file)) {
    return ERROR_INVALID_PARAMETER;
  }
  OwnedHandle in_parent, in_child, out_parent, out_child, err_parent, err_child;
  if (int error = make_pipe(true, kOtherPipeBuffer, in_parent, in_child)) return error;
  if (int error = make_pipe(false, kOutputPipeBuffer, out_parent, out_child)) return error;
  if (error_file.empty()) {
    if (int error = make_pipe(false, kOtherPipeBuffer, err_parent, err_child)) return error;
  } else {
    // Appending: every write goes to the end, as O_APPEND does.
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    DWORD access = options.append_error ? (FILE_APPEND_DATA | SYNCHRONIZE) : GENERIC_WRITE;
    err_child = OwnedHandle(::CreateFileW(error_file.c_str(), access,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          &inherit, options.append_error ? OPEN_ALWAYS : CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (err_child.get() == nullptr) return static_cast<int>(::GetLastError());
  }

  const HANDLE inherited[] = {in_child.get(), out_child.get(), err_child.get()};
  InheritedHandles handles;
  if (int error = handles.init(inherited, std::size(inherited))) return error;
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = in_child.get();
  startup.StartupInfo.hStdOutput = out_child.get();
  startup.StartupInfo.hStdError = err_child.get();
  startup.lpAttributeList = handles.get();
  PROCESS_INFORMATION info{};
  // No console at all: the child's standard streams are these pipes. A
  // parent without a console (a desktop application) would otherwise show a
  // console window, and a hidden one (CREATE_NO_WINDOW) costs a console host
  // process per child, which under Wine also holds this process's own
  // standard streams open.
  if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                        EXTENDED_STARTUPINFO_PRESENT | DETACHED_PROCESS, nullptr,
                        working_dir.empty() ? nullptr : working_dir.c_str(), &startup.StartupInfo,
                        &info)) {
    return static_cast<int>(::GetLastError());
  }
  OwnedHandle thread(info.hThread);
  started_ = true;
  id_ = static_cast<long>(info.dwProcessId);
  process_ = info.hProcess;
  input_ = in_parent.release();
  output_ = out_parent.release();
  error_ = err_parent.release();
  return 0;
}

void Child::close_input() { close_channel(input_); }
void Child::close_output() { close_channel(output_); }
void Child::close_error() { close_channel(error_); }

void Child::kill() {
  // Fails harmlessly when the child has ended on its own meanwhile.
  if (running()) ::TerminateProcess(static_cast<HANDLE>(process_), kKillCode);
}

std::optional<ExitOutcome> Child::wait(std::optional<std::chrono::milliseconds> timeout) {
  if (!started_ || outcome_.has_value()) return outcome_;
  DWORD limit = INFINITE;
  if (timeout.has_value()) {
    limit = static_cast<DWORD>(std::clamp<long long>(timeout->count(), 0, INFINITE - 1));
  }
  DWORD waited = ::WaitForSingleObject(static_cast<HANDLE>(process_), limit);
  if (waited == WAIT_TIMEOUT) return std::nullopt;
  DWORD code = 0;
  if (waited != WAIT_OBJECT_0 || !::GetExitCodeProcess(static_cast<HANDLE>(process_), &code)) {
    // The handle cannot say: nothing more to learn.
    outcome_ = ExitOutcome{ExitOutcome::Kind::kEnded, 0};
    return outcome_;
  }
  outcome_ = outcome_of(code);
  return outcome_;
}

TransferResult write_to_child(Channel input, std::span<const std::span<const uint8_t>> buffers) {
  // No SIGPIPE here: a write to a child that has gone fails with
  // ERROR_NO_DATA (ERROR_BROKEN_PIPE under Wine).
  return write_some(input, buffers);
}

bool wait_readable(Channel channel, std::chrono::milliseconds timeout) {
  // Anonymous pipes have no overlapped I/O and their handles are not
  // waitable: look at what the pipe holds, and sleep a moment between looks
  // (Windows rounds a sleep up to its timer's period, 1 to 16 ms).
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(static_cast<HANDLE>(channel), nullptr, 0, nullptr, &available, nullptr)) {
      return true;  // its end (the writer has gone) or an error: the read that follows reports it
    }
    if (available > 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ::Sleep(1);
  }
}

}  // namespace velmora_corvane_tts::platform
