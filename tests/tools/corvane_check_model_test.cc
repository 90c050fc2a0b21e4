// corvane-check-model on a good model, a model with a file missing, and a
// model the runtime ends the process on.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/tts_model_suite.h"

namespace velmora_corvane_tts::testing {
namespace {

const std::string kCheck = tool_path("corvane-check-model");

class CorvaneCheckModel : public TtsModelSuite {};

TEST_F(CorvaneCheckModel, AGoodModelIsUsable) {
  ChildResult r = run_child({kCheck, "--model-id", kKokoro, kokoro_dir()}, "");
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("files: all 9 present and readable\nhelper: synthesised"), std::string::npos)
      << r.out;
  EXPECT_TRUE(r.out.ends_with("usable: yes\n")) << r.out;
}

TEST_F(CorvaneCheckModel, MissingFilesAndAHelperThatDiesAreExplained) {
  const std::string dir = root() + "/broken";
  make_tts_model("kokoro", dir);
  std::filesystem::remove(dir + "/lexicon-zh.txt");
  ChildResult missing = run_child({kCheck, "--model-id", kKokoro, dir}, "");
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.out.find("missing: " + dir + "/lexicon-zh.txt\nusable: no\n"), std::string::npos)
      << missing.out;

  make_tts_model("kokoro", dir);
  std::ofstream(dir + "/tokens.txt", std::ios::app) << "a b c\n";  // ends the runtime
  ChildResult died = run_child({kCheck, "--model-id", kKokoro, dir}, "");
  EXPECT_EQ(died.exit_code, 1);
  // The runtime ends the process with exit(-1): Linux reports the status as
  // 255, Windows passes the whole code on.
  const std::string status = tools_under_wine() ? "-1" : "255";
  EXPECT_NE(died.out.find("helper: died: The helper exited with status " + status +
                          "\nlikely: the runtime ended the process on a model fault"),
            std::string::npos)
      << died.out;
  EXPECT_TRUE(died.out.ends_with("usable: no\n"));
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
