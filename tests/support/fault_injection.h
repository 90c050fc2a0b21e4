// Cutting a recorded session short: runs the helper on every chosen prefix
// of its input and checks the exact outcome of each against the runs that
// end at request boundaries.
#ifndef VELMORA_CORVANE_TTS_TESTS_SUPPORT_FAULT_INJECTION_H_
#define VELMORA_CORVANE_TTS_TESTS_SUPPORT_FAULT_INJECTION_H_

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace velmora_corvane_tts::testing {

// True in a build with AddressSanitizer.
bool sanitized_build();
// True where each helper start costs several times more than a native one
// (under AddressSanitizer; under Wine, where loading a model takes twice as
// long too), so that the cut tests sample fewer offsets.
bool slow_helper_starts();

// Runs `argv` once for each prefix length in `cuts`, two children at a time;
// results in the order of `cuts`.
std::vector<ChildResult> run_prefixes(const std::vector<std::string>& argv,
                                      const std::string& input, const std::vector<size_t>& cuts);

// A session cut at byte offsets: `boundaries` are the offsets at which one
// request ends and the next begins (0 and the input size included).
// `fatal_for(boundary index, offset)` is the fatal line expected for a cut
// strictly inside the request that starts at boundaries[index].
struct CutPlan {
  std::string input;
  std::vector<size_t> boundaries;
  std::function<std::string(size_t, size_t)> fatal_for;
  // Offsets inside a request to try besides its boundaries; all when empty.
  std::function<bool(size_t, size_t)> sample = nullptr;
};

// The frames of a session one after another; `boundaries` receives the
// offset where each frame starts and, last, the size of the whole.
std::string join_frames(const std::vector<std::string>& frames, std::vector<size_t>& boundaries);

struct CutReport {
  size_t offsets = 0;   // prefixes run
  size_t failures = 0;  // prefixes whose outcome was not the expected one
};

// For every cut: a cut at a boundary must end with status 0, nothing on
// standard error, and exactly the replies of the requests before it; a cut
// inside a request must end with status 1, the fatal line as the last line of
// standard error, and again exactly the replies of the requests before it.
// The replies at each boundary must extend those at the previous one.
// Mismatches are reported as test failures.
CutReport check_cuts(const std::vector<std::string>& argv, const CutPlan& plan);

}  // namespace velmora_corvane_tts::testing

#endif  // VELMORA_CORVANE_TTS_TESTS_SUPPORT_FAULT_INJECTION_H_
