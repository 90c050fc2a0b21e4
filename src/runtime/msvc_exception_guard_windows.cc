#include "runtime/msvc_exception_guard.h"

#include <windows.h>

#include <cstring>

// The records an MSVC throw passes along, as the x64 compiler lays them out:
// the exception record's four parameters are a magic number, the thrown
// object, its ThrowInfo and the image base that the ThrowInfo's 32-bit
// offsets are relative to.
namespace velmora_corvane_tts::runtime {
namespace {

struct ThrowInfo {
  uint32_t attributes;
  int32_t destructor;  // the object's destructor, unused here
  int32_t forward_compat;
  int32_t catchable_types;
};

struct CatchableTypeArray {
  int32_t count;
  int32_t types[1];  // `count` entries
};

struct CatchableType {
  uint32_t properties;
  int32_t type;  // a TypeDescriptor
  int32_t member_displacement;
  int32_t vbtable_displacement;  // -1 when the base is not virtual
  int32_t displacement_in_vbtable;
  int32_t size;
  int32_t copy_function;
};

struct TypeDescriptor {
  const void* vtable;
  void* spare;
  char name[1];  // NUL-terminated decorated name
};

constexpr const char kStdException[] = ".?AVexception@std@@";
// Catchable types listed for one throw: the type and its bases, a few dozen
// at the most; more means the record is not what it claims to be.
constexpr int32_t kMostCatchableTypes = 64;

// What the guard and its filter share, found through the guard's frame.
struct GuardState {
  char message[1024];
};

template <typename T>
const T* at(uintptr_t image_base, int32_t offset) {
  return offset == 0 ? nullptr : reinterpret_cast<const T*>(image_base + static_cast<uint32_t>(offset));
}

bool is_msvc_magic(ULONG_PTR magic) {
  return magic == 0x19930520 || magic == 0x19930521 || magic == 0x19930522;
}

// The std::exception inside the thrown object, or null.
const void* std_exception_of(const EXCEPTION_RECORD& record) {
  if (record.NumberParameters < 4 || !is_msvc_magic(record.ExceptionInformation[0])) return nullptr;
  const char* object = reinterpret_cast<const char*>(record.ExceptionInformation[1]);
  const auto* info = reinterpret_cast<const ThrowInfo*>(record.ExceptionInformation[2]);
  uintptr_t base = record.ExceptionInformation[3];
  if (object == nullptr || info == nullptr || base == 0) return nullptr;  // a rethrow
  const auto* types = at<CatchableTypeArray>(base, info->catchable_types);
  if (types == nullptr || types->count <= 0 || types->count > kMostCatchableTypes) return nullptr;
  for (int32_t i = 0; i < types->count; ++i) {
    const auto* type = at<CatchableType>(base, types->types[i]);
    const auto* descriptor = type != nullptr ? at<TypeDescriptor>(base, type->type) : nullptr;
    if (descriptor == nullptr ||
        std::strncmp(descriptor->name, kStdException, sizeof kStdException) != 0) {
      continue;
    }
    ptrdiff_t offset = type->member_displacement;
    if (type->vbtable_displacement >= 0) {
      const char* vbtable = *reinterpret_cast<const char* const*>(object + type->vbtable_displacement);
      offset += type->vbtable_displacement +
                *reinterpret_cast<const int32_t*>(vbtable + type->displacement_in_vbtable);
    }
    return object + offset;
  }
  return nullptr;
}

// Calls what(), the second entry of std::exception's virtual table (the first
// is its deleting destructor); the Microsoft x64 convention passes `this`
// like a first argument.
void copy_what(const void* exception, GuardState& state) {
  using What = const char* (*)(const void*);
  const auto* vtable = *static_cast<const What* const*>(exception);
  const char* text = vtable != nullptr && vtable[1] != nullptr ? vtable[1](exception) : nullptr;
  if (text == nullptr) return;
  size_t n = strnlen(text, sizeof state.message - 1);
  std::memcpy(state.message, text, n);
  state.message[n] = '\0';
}

}  // namespace
}  // namespace velmora_corvane_tts::runtime

extern "C" {

int vct_msvc_guarded_call(void (*fn)(void*), void* arg, void* state);

// The scope's filter, called by __C_specific_handler while the system looks
// for a handler, before anything is unwound: the thrown object is still
// alive, so its text is copied now.
LONG vct_msvc_guard_filter(EXCEPTION_POINTERS* pointers, void* establisher_frame) {
  namespace rt = velmora_corvane_tts::runtime;
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  if (record.ExceptionCode != rt::kMsvcCxxExceptionCode) return EXCEPTION_CONTINUE_SEARCH;
  auto* state = *reinterpret_cast<rt::GuardState**>(static_cast<char*>(establisher_frame) + 32);
  if (const void* exception = rt::std_exception_of(record)) rt::copy_what(exception, *state);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // extern "C"

namespace velmora_corvane_tts::runtime {

bool call_catching_msvc_exceptions(void (*fn)(void*), void* arg, std::string& message) {
  GuardState state;
  state.message[0] = '\0';
  bool returned = vct_msvc_guarded_call(fn, arg, &state) != 0;
  message = returned ? std::string() : std::string(state.message);
  return returned;
}

}  // namespace velmora_corvane_tts::runtime
