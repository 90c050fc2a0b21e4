// The few operating-system services the helper uses. Everything that touches
// file descriptors or handles, signals, error texts or processor counts lives
// behind this interface; each system has its own implementation file
// (platform_posix.cc, platform_windows.cc).
#ifndef VELMORA_CORVANE_TTS_PLATFORM_PLATFORM_H_
#define VELMORA_CORVANE_TTS_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora_corvane_tts::platform {

// Handle of an open input or output channel: a file descriptor on POSIX, a
// HANDLE on Windows.
#if defined(_WIN32)
using Channel = void*;
#else
using Channel = int;
#endif
// No channel (closed, or never opened).
#if defined(_WIN32)
inline constexpr Channel kNoChannel = nullptr;
#else
inline constexpr Channel kNoChannel = -1;
#endif

// Closes `channel` unless it is kNoChannel, and sets it to kNoChannel.
void close_channel(Channel& channel);

// Outcome of one read or write request: `count` bytes moved, or a non-zero
// operating-system error number in `error` (errno on POSIX, GetLastError()
// on Windows).
struct TransferResult {
  size_t count = 0;
  int error = 0;
};

// One read request of at most `size` bytes. A count of 0 with no error is the
// end of input; on Windows a pipe whose writer has gone is the end of input
// too. Requests that a signal interrupts are repeated.
TransferResult read_some(Channel channel, void* buffer, size_t size);

// One write request covering the buffers in order (a partial write is
// possible). Requests that a signal interrupts are repeated.
TransferResult write_some(Channel channel, std::span<const std::span<const uint8_t>> buffers);

// "{system text} (os error {number})" for an operating-system error number;
// the text is UTF-8 and ends without a line break.
std::string describe_os_error(int error);

// Call first in main. Makes a write to a pipe whose reader has gone fail with
// an error instead of ending the process (POSIX ignores SIGPIPE; Windows has
// no such signal), and makes the C runtime's standard streams carry bytes
// unchanged (Windows opens them in text mode).
void prepare_standard_streams();

// Makes the C runtime's standard streams carry bytes unchanged (Windows opens
// them in text mode: CRLF for LF on output, input ending at 0x1A). Nothing
// on POSIX; the handling of SIGPIPE is left as it is.
void use_binary_standard_streams();

// How the C library's allocator serves large blocks for the work that
// follows. The speech runtime allocates and frees tens of megabytes on every
// synthesis call (over 50 MiB for a long text), and memory that went back to
// the system costs a page fault on every page the next call touches.
enum class LargeBlocks {
  // Blocks of up to 32 MiB come from the heap, and up to 64 MiB of free heap
  // stays mapped: repeated work of moderate size faults nothing in.
  kReuse,
  // From 1 MiB up every block gets a mapping of its own, returned when it is
  // freed, and the free heap kept so far is given back first: one very large
  // piece of work peaks where the work alone puts it, at the price of a page
  // fault on every page it touches.
  kFresh,
  // Every block comes from the heap, none from a mapping of its own, and up
  // to 256 MiB of free heap stays mapped: very large work that recurs faults
  // nothing in from its second run on. What stays mapped after it is the
  // peak of the largest piece of work so far.
  kKeepAll,
};
// Does nothing on Windows, whose heap has no such settings (blocks from
// about 512 KiB up always get mappings of their own).
void serve_large_blocks(LargeBlocks how);

// The standard input channel.
Channel standard_input();

// Gives the caller a private channel to the process's original standard
// output and points the standard output channel at standard error, so that
// anything else in the process that prints cannot corrupt the caller's
// output. Returns the private channel. On Windows, a DLL's C runtime keeps
// the standard output it found when the DLL was loaded: call this before the
// speech runtime's DLLs load (they are delay-loaded at their first call).
Channel take_standard_output();

// Asks for a buffer of `bytes` on `channel` when it is a pipe, so that a
// large reply (a WAV file of megabytes) crosses it with fewer wake-ups of
// the reader and of the writer. Refusals and other kinds of channel leave it
// as it is; nothing about what is written changes. Does nothing on Windows,
// where the creator of a pipe chooses its buffer.
void widen_pipe(Channel channel, size_t bytes);

// Writes `text` to standard error, ignoring failures.
void write_standard_error(std::string_view text);

// Number of processors this process may run on, or 0 when unknown.
unsigned processors_online();

// True when `path` names an existing regular file (links followed). A path
// holding a NUL character names no file. Paths are UTF-8 (Windows converts
// them to UTF-16; a path that is not valid UTF-8 names no file there).
bool is_regular_file(const std::string& path);

// What this process finds at `path` (links followed).
enum class FileAccess {
  kAbsent,      // nothing, or not a regular file; also a path holding a NUL
  kUnreadable,  // a regular file that this process cannot open for reading
  kReadable,    // a regular file that it can
};
FileAccess regular_file_access(const std::string& path);

// Size in bytes of the existing regular file `path` (links followed), or
// std::nullopt when there is none.
std::optional<uint64_t> regular_file_size(const std::string& path);

// Reads the first out.size() bytes of the file `path` into `out`. False when
// the file cannot be opened or read, or is shorter.
bool read_file_start(const std::string& path, std::span<uint8_t> out);

// The absolute path of the running program (UTF-8), or std::nullopt when
// the system cannot say.
std::optional<std::string> executable_path();

// The program's arguments as UTF-8, argv[0] first, for main's `argc` and
// `argv`. POSIX: argv as given. Windows: the wide command line converted,
// since the C runtime's argv is in the ANSI code page and loses what it
// cannot hold.
std::vector<std::string> command_line_arguments(int argc, char** argv);

// The ending of a program's file name: ".exe" on Windows, none elsewhere.
#if defined(_WIN32)
inline constexpr std::string_view kProgramSuffix = ".exe";
#else
inline constexpr std::string_view kProgramSuffix = "";
#endif

// std::fopen for a UTF-8 path (Windows opens it through the wide API; its
// fopen reads paths in the ANSI code page). Sets errno on failure.
std::FILE* open_file(const std::string& path, const char* mode);

// The standard error channel.
Channel standard_error();

// True when `channel` is a terminal (a console on Windows).
bool is_terminal(Channel channel);

// A name for the code that ended a child (ExitOutcome::Kind::kEnded): the
// signal's name on POSIX ("SIGSEGV"), the exception code in hex on Windows
// ("0xC0000005").
std::string describe_end_code(int code);

}  // namespace velmora_corvane_tts::platform

#endif  // VELMORA_CORVANE_TTS_PLATFORM_PLATFORM_H_
