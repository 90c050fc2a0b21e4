// Windows only. The speech runtime's DLLs are built with MSVC, and the C++
// exceptions they throw are Windows structured exceptions with code
// 0xE06D7363 that GCC's catch clauses do not see: without a guard, one that
// leaves a runtime call ends the process. The guard is what MSVC compiles
// `__try { fn(arg); } __except (is_msvc_cxx_exception) {}` into: a small
// function with x64 unwind data naming the system's __C_specific_handler and
// a one-entry scope table (msvc_exception_guard_x64.S). When such an
// exception is thrown inside `fn`, the frames between the throw and the guard
// are unwound (the DLL's destructors run; the unwinding skips the destructors
// of GCC-compiled frames, which do not take part in foreign exceptions) and
// the guard returns. Every other exception passes the guard untouched.
#ifndef VELMORA_CORVANE_TTS_RUNTIME_MSVC_EXCEPTION_GUARD_H_
#define VELMORA_CORVANE_TTS_RUNTIME_MSVC_EXCEPTION_GUARD_H_

#include <cstdint>
#include <string>

namespace velmora_corvane_tts::runtime {

// Exception code of an MSVC C++ throw ('msc' | 0xE0000000).
inline constexpr uint32_t kMsvcCxxExceptionCode = 0xE06D7363;

// Calls fn(arg). True when it returned; false when an MSVC C++ exception left
// it, with the exception's what() text in `message` when the thrown type
// derives from std::exception (else `message` is empty).
//
// Precondition: `fn` and the GCC-compiled functions it calls on the way to
// the DLL own nothing that needs destroying (no std::string, no RAII owner):
// their frames are dropped without running destructors. The exception object
// itself is left as it is (its destructor is not run), which leaks what it
// owns: some hundred bytes per failure.
bool call_catching_msvc_exceptions(void (*fn)(void*), void* arg, std::string& message);

}  // namespace velmora_corvane_tts::runtime

#endif  // VELMORA_CORVANE_TTS_RUNTIME_MSVC_EXCEPTION_GUARD_H_
