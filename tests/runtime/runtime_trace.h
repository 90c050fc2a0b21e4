// A trace of the real runtime's create and destroy calls, for tests linked
// with -Wl,--wrap for each traced symbol: every call goes through a
// __wrap_ function here that records it and calls the runtime's own
// (__real_) function. Handles are numbered in order of creation per kind.
#ifndef VELMORA_CORVANE_TTS_TESTS_RUNTIME_RUNTIME_TRACE_H_
#define VELMORA_CORVANE_TTS_TESTS_RUNTIME_RUNTIME_TRACE_H_

#include <string>
#include <vector>

namespace velmora_corvane_tts::testing {

// Events, in order: "engine+ N", "engine null", "engine throws",
// "engine- N", "audio+ N on engine E", "audio null", "audio- N",
// "recognizer+ N", "recognizer null", "recognizer throws", "recognizer- N",
// "stream+ N on recognizer R", "stream- N", "result+ N", "result- N".
// A destroy of a handle the trace never saw created is "... unknown".
std::vector<std::string>& runtime_trace();
void clear_runtime_trace();

}  // namespace velmora_corvane_tts::testing

#endif  // VELMORA_CORVANE_TTS_TESTS_RUNTIME_RUNTIME_TRACE_H_
