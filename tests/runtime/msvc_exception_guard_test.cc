// The guard against exceptions raised here with the records an MSVC throw
// passes along, written out byte by byte as the x64 compiler lays them out,
// so that every path of its filter is reached without the runtime. (The
// runtime's own throws: speech_runtime_test, and the end-to-end suites on
// the Windows helper.)
#include "runtime/msvc_exception_guard.h"

#include <windows.h>

#include <cstring>

#include <gtest/gtest.h>

namespace velmora_corvane_tts::runtime {
namespace {

// what() of the fake std::exception: the Microsoft x64 convention passes
// `this` as the first argument.
const char* what_boom(const void*) { return "boom"; }
const void* const kExceptionVtable[] = {nullptr, reinterpret_cast<const void*>(&what_boom)};

// The thrown object: its std::exception part 8 bytes in.
struct Thrown {
  uint64_t own_field = 0;
  const void* const* exception_vtable = kExceptionVtable;
};

// ThrowInfo, its catchable-type list, two catchable types and their type
// descriptors, at offsets from the block's start, which stands in for the
// image base.
class ThrowRecords {
 public:
  explicit ThrowRecords(bool derives_from_std_exception) {
    put(0, 0);                          // ThrowInfo: attributes,
    put(12, 16);                        // ... its catchable-type list
    put(16, derives_from_std_exception ? 2 : 1);
    put(20, 32);
    put(24, 60);
    catchable_type(32, 96, 0);          // the thrown type itself
    catchable_type(60, 160, 8);         // std::exception, 8 bytes in
    type_descriptor(96, ".?AVfailure@sample@@");
    type_descriptor(160, ".?AVexception@std@@");
  }
  ULONG_PTR base() const { return reinterpret_cast<ULONG_PTR>(block_); }

 private:
  void put(size_t at, int32_t v) { std::memcpy(block_ + at, &v, 4); }
  void catchable_type(size_t at, int32_t descriptor, int32_t displacement) {
    put(at + 4, descriptor);
    put(at + 8, displacement);
    put(at + 12, -1);  // not a virtual base
    put(at + 20, 8);   // size
  }
  void type_descriptor(size_t at, const char* name) { std::strcpy(block_ + at + 16, name); }

  alignas(8) char block_[256] = {};
};

struct Raise {
  DWORD code;
  std::vector<ULONG_PTR> parameters;
};

void raise(void* arg) {
  const auto& r = *static_cast<const Raise*>(arg);
  ::RaiseException(r.code, 0, static_cast<DWORD>(r.parameters.size()), r.parameters.data());
}

TEST(MsvcExceptionGuard, CatchesMsvcThrowsWithTheirTextOnlyFromStdExceptions) {
  Thrown thrown;
  ThrowRecords with_base(true);
  ThrowRecords without_base(false);
  const ULONG_PTR object = reinterpret_cast<ULONG_PTR>(&thrown);
  const ULONG_PTR magic = 0x19930520;
  struct Case {
    Raise raise;
    const char* message;
  } cases[] = {
      {{kMsvcCxxExceptionCode, {magic, object, with_base.base(), with_base.base()}}, "boom"},
      {{kMsvcCxxExceptionCode, {magic, object, without_base.base(), without_base.base()}}, ""},
      {{kMsvcCxxExceptionCode, {magic, 0, 0, 0}}, ""},  // a rethrow carries no object
      {{kMsvcCxxExceptionCode, {}}, ""},
  };
  // Many times over: each catch must leave the stack as the call found it.
  for (int round = 0; round < 50; ++round) {
    for (Case& c : cases) {
      std::string message = "unchanged";
      EXPECT_FALSE(call_catching_msvc_exceptions(raise, &c.raise, message));
      EXPECT_EQ(message, c.message);
    }
  }
}

int g_passed_on = 0;
LONG WINAPI continue_after(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != 0xE0000001) return EXCEPTION_CONTINUE_SEARCH;
  ++g_passed_on;
  return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(MsvcExceptionGuard, OtherExceptionsPassItByUntouched) {
  // A continuable exception of another code reaches the process's last
  // filter, which resumes it; then the call returns normally.
  LPTOP_LEVEL_EXCEPTION_FILTER previous = ::SetUnhandledExceptionFilter(continue_after);
  Raise other{0xE0000001, {}};
  std::string message;
  EXPECT_TRUE(call_catching_msvc_exceptions(raise, &other, message));
  ::SetUnhandledExceptionFilter(previous);
  EXPECT_EQ(g_passed_on, 1);
}

}  // namespace
}  // namespace velmora_corvane_tts::runtime
