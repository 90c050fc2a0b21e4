#include "support/fault_injection.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace velmora_corvane_tts::testing {

bool sanitized_build() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return false;
#endif
}

bool slow_helper_starts() { return sanitized_build() || helper_under_wine(); }

std::vector<ChildResult> run_prefixes(const std::vector<std::string>& argv,
                                      const std::string& input, const std::vector<size_t>& cuts) {
  std::vector<ChildResult> results(cuts.size());
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t i = next++; i < cuts.size(); i = next++) {
      results[i] = run_child(argv, input.substr(0, cuts[i]));
    }
  };
  std::thread other(worker);
  worker();
  other.join();
  return results;
}

namespace {

std::string last_line(const std::string& err) {
  if (err.empty() || err.back() != '\n') return err;
  size_t start = err.rfind('\n', err.size() - 2);
  return err.substr(start == std::string::npos ? 0 : start + 1);
}

}  // namespace

CutReport check_cuts(const std::vector<std::string>& argv, const CutPlan& plan) {
  CutReport report;
  const std::vector<size_t>& b = plan.boundaries;
  // The outcome at every boundary first: it is what the cuts inside the
  // following request must reproduce.
  std::vector<ChildResult> at_boundary = run_prefixes(argv, plan.input, b);
  for (size_t i = 0; i < b.size(); ++i) {
    const ChildResult& r = at_boundary[i];
    EXPECT_EQ(r.exit_code, 0) << "cut at boundary " << b[i] << ": " << r.err;
    EXPECT_EQ(r.err, "") << "cut at boundary " << b[i];
    if (i > 0) {
      EXPECT_EQ(r.out.substr(0, at_boundary[i - 1].out.size()), at_boundary[i - 1].out)
          << "replies before boundary " << b[i] << " changed";
    }
  }
  report.offsets += b.size();

  std::vector<size_t> cuts;
  std::vector<size_t> request_of;
  for (size_t i = 0; i + 1 < b.size(); ++i) {
    for (size_t at = b[i] + 1; at < b[i + 1]; ++at) {
      if (plan.sample && !plan.sample(i, at)) continue;
      cuts.push_back(at);
      request_of.push_back(i);
    }
  }
  std::vector<ChildResult> inside = run_prefixes(argv, plan.input, cuts);
  report.offsets += cuts.size();
  for (size_t k = 0; k < cuts.size(); ++k) {
    const ChildResult& r = inside[k];
    const std::string& want_out = at_boundary[request_of[k]].out;
    std::string want_err = plan.fatal_for(request_of[k], cuts[k]);
    bool ok = r.exit_code == 1 && r.out == want_out && last_line(r.err) == want_err;
    if (!ok) {
      ++report.failures;
      ADD_FAILURE() << "cut at byte " << cuts[k] << " (inside request " << request_of[k]
                    << "): exit " << r.exit_code << ", signal " << r.signal << ", "
                    << r.out.size() << " bytes out (want " << want_out.size()
                    << "), stderr: " << r.err;
      if (report.failures > 10) break;
    }
  }
  return report;
}

std::string join_frames(const std::vector<std::string>& frames, std::vector<size_t>& boundaries) {
  std::string input;
  boundaries = {0};
  for (const auto& f : frames) {
    input += f;
    boundaries.push_back(input.size());
  }
  return input;
}

}  // namespace velmora_corvane_tts::testing
