// The client library as an application uses it: installed with the helper
// into a temporary prefix, then the README's example program built against
// it twice, through find_package(VelmoraCorvane) and through pkg-config, and
// run to synthesise with the installed helper.
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "support/stream_test_util.h"
#include "support/child_process.h"

namespace velmora_corvane_tts::testing {
namespace {

namespace fs = std::filesystem;

// The C++ block of the README's section on the client library.
std::string readme_example() {
  std::string readme = read_file(source_dir() + "/README.md");
  size_t section = readme.find("## Using the client library (C++)");
  if (section == std::string::npos) return "";
  size_t start = readme.find("```cpp\n", section);
  size_t end = readme.find("```\n", start + 7);
  if (start == std::string::npos || end == std::string::npos) return "";
  return readme.substr(start + 7, end - start - 7);
}

void run_ok(const std::vector<std::string>& argv, const std::string& what) {
  ChildResult r = run_child(argv, "");
  ASSERT_EQ(r.exit_code, 0) << what << ":\n" << r.out << r.err;
}

TEST(ClientPackage, TheReadmeExampleBuildsAgainstTheInstalledPackageAndSynthesises) {
  TempDir scratch;
  const std::string prefix = scratch.path() + "/installed";
  run_ok({VCT_CMAKE_COMMAND, "--install", VCT_BINARY_DIR, "--prefix", prefix}, "install");
  std::string example = readme_example();
  ASSERT_FALSE(example.empty()) << "README.md has no C++ example in its client library section";
  const std::string app = scratch.path() + "/app";
  fs::create_directories(app);
  std::ofstream(app + "/main.cc") << example;
  std::ofstream(app + "/CMakeLists.txt")
      << "cmake_minimum_required(VERSION 3.25)\nproject(app CXX)\nset(CMAKE_CXX_STANDARD 20)\n"
         "find_package(VelmoraCorvane 0.1 REQUIRED)\nadd_executable(app main.cc)\n"
         "target_link_libraries(app PRIVATE VelmoraCorvane::client)\n";
  run_ok({VCT_CMAKE_COMMAND, "-S", app, "-B", app + "/build", "-G", "Ninja",
          "-DCMAKE_PREFIX_PATH=" + prefix},
         "configure");
  run_ok({VCT_CMAKE_COMMAND, "--build", app + "/build"}, "build");
  // The same program through pkg-config, with the plain compiler.
  ASSERT_EQ(run_shell("cd '" + app + "' && export PKG_CONFIG_PATH='" + prefix +
                      "/lib/pkgconfig' && c++ -std=c++20 main.cc -o app-pc "
                      "$(pkg-config --cflags --libs velmora-corvane-client)"),
            0);

  const std::string model = scratch.path() + "/kokoro";
  make_tts_model("kokoro", model);
  for (const std::string& program : {app + "/build/app", app + "/app-pc"}) {
    ChildResult r = run_child({program, prefix + "/bin/velmora-corvane-tts", model}, "");
    EXPECT_EQ(r.exit_code, 0) << program << ": " << r.err;
    EXPECT_EQ(r.out.compare(0, 4, "RIFF"), 0) << program;
    EXPECT_GT(r.out.size(), 44u) << program;
  }
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
