#include "client/restart_policy.h"

#include <gtest/gtest.h>

namespace velmora_corvane {
namespace {

using std::chrono::milliseconds;

TEST(RestartPolicy, BacksOffOnlyWhileHelpersEndWithoutAnswering) {
  RestartPolicy policy(milliseconds(250), milliseconds(1000));
  RestartPolicy::Clock::time_point t{};
  auto wait_ms = [&] {
    return std::chrono::duration_cast<milliseconds>(policy.wait_before_start(t)).count();
  };
  EXPECT_EQ(wait_ms(), 0);
  policy.started();
  policy.answered();
  policy.ended(t);  // a request killed a working helper: start again at once
  EXPECT_EQ(wait_ms(), 0);
  policy.started();
  policy.ended(t);  // the fresh one died too
  EXPECT_EQ(wait_ms(), 250);
  t += milliseconds(100);
  EXPECT_EQ(wait_ms(), 150);
  t += milliseconds(150);
  EXPECT_EQ(wait_ms(), 0);
  const int expected[] = {500, 1000, 1000};  // doubled, then bounded
  for (int ms : expected) {
    policy.started();
    policy.ended(t);
    EXPECT_EQ(wait_ms(), ms);
    t += milliseconds(ms);
  }
  // One answer ends the run of failures.
  policy.started();
  policy.answered();
  policy.ended(t);
  EXPECT_EQ(wait_ms(), 0);
  policy.ended(t);  // could not be started
  EXPECT_EQ(wait_ms(), 250);
}

}  // namespace
}  // namespace velmora_corvane
