#include "runtime/runtime_trace.h"

#include <map>

#include "runtime/sherpa_abi.h"

namespace velmora_corvane_tts::testing {
namespace {

struct Kind {
  explicit Kind(const char* kind_name) : name(kind_name) {}
  const char* name;
  int created = 0;
  std::map<const void*, int> live;

  void created_as(const void* handle, const std::string& suffix = "") {
    if (handle == nullptr) {
      runtime_trace().push_back(std::string(name) + " null");
      return;
    }
    live[handle] = ++created;
    runtime_trace().push_back(std::string(name) + "+ " + std::to_string(created) + suffix);
  }
  void destroyed(const void* handle) {
    if (handle == nullptr) return;
    auto it = live.find(handle);
    if (it == live.end()) {
      runtime_trace().push_back(std::string(name) + "- unknown");
      return;
    }
    runtime_trace().push_back(std::string(name) + "- " + std::to_string(it->second));
    live.erase(it);
  }
  int number_of(const void* handle) const {
    auto it = live.find(handle);
    return it == live.end() ? 0 : it->second;
  }
};

Kind engines("engine"), audios("audio"), recognizers("recognizer"), streams("stream"),
    results("result");

// Records a throw out of the runtime and passes it on to the caller.
template <typename Fn>
auto traced_throw(const char* kind, Fn&& call) -> decltype(call()) {
  try {
    return call();
  } catch (...) {
    runtime_trace().push_back(std::string(kind) + " throws");
    throw;
  }
}

}  // namespace

std::vector<std::string>& runtime_trace() {
  static auto* trace = new std::vector<std::string>();
  return *trace;
}

void clear_runtime_trace() { runtime_trace().clear(); }

}  // namespace velmora_corvane_tts::testing

using namespace velmora_corvane_tts::testing;  // NOLINT: the trace's own state

extern "C" {

const SherpaOnnxOfflineTts* __real_SherpaOnnxCreateOfflineTts(const SherpaOnnxOfflineTtsConfig*);
void __real_SherpaOnnxDestroyOfflineTts(const SherpaOnnxOfflineTts*);
const SherpaOnnxGeneratedAudio* __real_SherpaOnnxOfflineTtsGenerateWithConfig(
    const SherpaOnnxOfflineTts*, const char*, const SherpaOnnxGenerationConfig*,
    SherpaOnnxGeneratedAudioProgressCallbackWithArg, void*);
void __real_SherpaOnnxDestroyOfflineTtsGeneratedAudio(const SherpaOnnxGeneratedAudio*);
const SherpaOnnxOnlineRecognizer* __real_SherpaOnnxCreateOnlineRecognizer(
    const SherpaOnnxOnlineRecognizerConfig*);
void __real_SherpaOnnxDestroyOnlineRecognizer(const SherpaOnnxOnlineRecognizer*);
const SherpaOnnxOnlineStream* __real_SherpaOnnxCreateOnlineStream(const SherpaOnnxOnlineRecognizer*);
void __real_SherpaOnnxDestroyOnlineStream(const SherpaOnnxOnlineStream*);
const char* __real_SherpaOnnxGetOnlineStreamResultAsJson(const SherpaOnnxOnlineRecognizer*,
                                                         const SherpaOnnxOnlineStream*);
void __real_SherpaOnnxDestroyOnlineStreamResultJson(const char*);

const SherpaOnnxOfflineTts* __wrap_SherpaOnnxCreateOfflineTts(const SherpaOnnxOfflineTtsConfig* c) {
  auto* h = traced_throw("engine", [&] { return __real_SherpaOnnxCreateOfflineTts(c); });
  engines.created_as(h);
  return h;
}

void __wrap_SherpaOnnxDestroyOfflineTts(const SherpaOnnxOfflineTts* h) {
  engines.destroyed(h);
  __real_SherpaOnnxDestroyOfflineTts(h);
}

const SherpaOnnxGeneratedAudio* __wrap_SherpaOnnxOfflineTtsGenerateWithConfig(
    const SherpaOnnxOfflineTts* e, const char* text, const SherpaOnnxGenerationConfig* g,
    SherpaOnnxGeneratedAudioProgressCallbackWithArg callback, void* arg) {
  auto* h = traced_throw("audio", [&] {
    return __real_SherpaOnnxOfflineTtsGenerateWithConfig(e, text, g, callback, arg);
  });
  audios.created_as(h, " on engine " + std::to_string(engines.number_of(e)));
  return h;
}

void __wrap_SherpaOnnxDestroyOfflineTtsGeneratedAudio(const SherpaOnnxGeneratedAudio* h) {
  audios.destroyed(h);
  __real_SherpaOnnxDestroyOfflineTtsGeneratedAudio(h);
}

const SherpaOnnxOnlineRecognizer* __wrap_SherpaOnnxCreateOnlineRecognizer(
    const SherpaOnnxOnlineRecognizerConfig* c) {
  auto* h = traced_throw("recognizer", [&] { return __real_SherpaOnnxCreateOnlineRecognizer(c); });
  recognizers.created_as(h);
  return h;
}

void __wrap_SherpaOnnxDestroyOnlineRecognizer(const SherpaOnnxOnlineRecognizer* h) {
  recognizers.destroyed(h);
  __real_SherpaOnnxDestroyOnlineRecognizer(h);
}

const SherpaOnnxOnlineStream* __wrap_SherpaOnnxCreateOnlineStream(const SherpaOnnxOnlineRecognizer* r) {
  auto* h = traced_throw("stream", [&] { return __real_SherpaOnnxCreateOnlineStream(r); });
  streams.created_as(h, " on recognizer " + std::to_string(recognizers.number_of(r)));
  return h;
}

void __wrap_SherpaOnnxDestroyOnlineStream(const SherpaOnnxOnlineStream* h) {
  streams.destroyed(h);
  __real_SherpaOnnxDestroyOnlineStream(h);
}

const char* __wrap_SherpaOnnxGetOnlineStreamResultAsJson(const SherpaOnnxOnlineRecognizer* r,
                                                         const SherpaOnnxOnlineStream* s) {
  auto* h = traced_throw("result", [&] { return __real_SherpaOnnxGetOnlineStreamResultAsJson(r, s); });
  results.created_as(h);
  return h;
}

void __wrap_SherpaOnnxDestroyOnlineStreamResultJson(const char* h) {
  results.destroyed(h);
  __real_SherpaOnnxDestroyOnlineStreamResultJson(h);
}

}  // extern "C"
