// The install tree as an application ships it: installed from this build
// with `cmake --install` into a temporary prefix, moved somewhere else and
// run from there with an empty environment; and the C library and C++
// runtime versions that the shipped files need, against the floor the
// README states.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/stream_test_util.h"
#include "support/child_process.h"
#include "support/tts_model_suite.h"

namespace velmora_corvane_tts::testing {
namespace {

namespace fs = std::filesystem;

const std::string kHelper = "bin/velmora-corvane-tts";
const std::string kRuntimeDir = "lib/velmora-corvane-tts";
const std::vector<std::string> kRuntimeLibraries = {"libsherpa-onnx-c-api.so",
                                                     "libonnxruntime.so"};

// Standard output of a tool; fails the test when the tool fails.
std::string tool_output(const std::vector<std::string>& argv) {
  ChildResult r = run_child(argv, "");
  EXPECT_EQ(r.exit_code, 0) << argv[0] << ": " << r.err;
  return r.out;
}

// Every capture of `re`'s first group in `text`.
std::vector<std::string> all_matches(const std::string& text, const std::string& re) {
  std::vector<std::string> found;
  std::regex pattern(re);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
       it != std::sregex_iterator(); ++it) {
    found.push_back((*it)[1]);
  }
  return found;
}

// The RPATH and RUNPATH entries of an ELF file's dynamic section, as written.
std::vector<std::string> search_paths(const std::string& file) {
  return all_matches(tool_output({"/usr/bin/readelf", "-d", file}),
                     R"(Library (?:runpath|rpath): \[([^\]]*)\])");
}

class InstalledTree : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_ = scratch_.path() + "/installed";
    ChildResult r =
        run_child({VCT_CMAKE_COMMAND, "--install", VCT_BINARY_DIR, "--prefix", prefix_}, "");
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  }

  TempDir scratch_;
  std::string prefix_;
};

TEST_F(InstalledTree, HoldsTheStrippedHelperTheLinkedRuntimeAndTheDocuments) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(prefix_)) {
    if (!entry.is_directory()) files.insert(fs::relative(entry.path(), prefix_).string());
  }
  // The client library's files: client_package_test.cc builds against them.
  std::erase_if(files, [](const std::string& f) {
    return f.starts_with("include/velmora_corvane/") || f.starts_with("lib/cmake/VelmoraCorvane/") ||
           f == "lib/pkgconfig/velmora-corvane-client.pc" || f == "lib/libvelmora_corvane_client.a";
  });
  std::set<std::string> expected = {kHelper,
                                    "bin/corvane-say",
                                    "bin/corvane-listen",
                                    "bin/corvane-check-model",
                                    "share/doc/velmora-corvane-tts/README.md",
                                    "share/doc/velmora-corvane-tts/LICENSE",
                                    "share/doc/velmora-corvane-tts/THIRD-PARTY-NOTICES"};
  for (const char* guide :
       {"protocol", "models", "shipping", "robustness", "benchmarks", "windows"}) {
    expected.insert(std::string("share/doc/velmora-corvane-tts/docs/") + guide + ".md");
  }
  for (const std::string& library : kRuntimeLibraries) expected.insert(kRuntimeDir + "/" + library);
  EXPECT_EQ(files, expected);

  for (const std::string& library : kRuntimeLibraries) {
    EXPECT_TRUE(read_file(prefix_ + "/" + kRuntimeDir + "/" + library) ==
                read_file(std::string(VCT_SHERPA_DIR) + "/" + library))
        << library << " is not the file the build linked against";
  }

  std::string sections = tool_output({"/usr/bin/readelf", "-S", "--wide", prefix_ + "/" + kHelper});
  EXPECT_EQ(sections.find(".debug_info"), std::string::npos);
  EXPECT_EQ(sections.find(".symtab"), std::string::npos);
  EXPECT_NE(sections.find(".gnu_debuglink"), std::string::npos);
}

TEST_F(InstalledTree, AMovedCopyRunsWithAnEmptyEnvironmentFromAnotherDirectory) {
  const std::string moved = scratch_.path() + "/elsewhere/app";
  fs::create_directories(fs::path(moved).parent_path());
  fs::rename(prefix_, moved);
  const std::string helper = moved + "/" + kHelper;

  EXPECT_EQ(search_paths(helper), std::vector<std::string>{"$ORIGIN/../lib/velmora-corvane-tts"});
  // The build's own copy keeps its RUNPATH, and no empty entry (which the
  // dynamic linker would read as the current directory).
  for (const std::string& path : search_paths(helper_path())) {
    EXPECT_EQ(path.rfind(VCT_SHERPA_DIR, 0), 0u) << path;
    EXPECT_EQ(path.find(':'), std::string::npos) << path;
  }

  std::string ldd = tool_output({"/usr/bin/env", "-i", "/usr/bin/ldd", helper});
  EXPECT_EQ(ldd.find("not found"), std::string::npos) << ldd;
  for (const std::string& library : kRuntimeLibraries) {
    std::vector<std::string> found = all_matches(ldd, "\\s" + library + " => (\\S+)");
    ASSERT_EQ(found.size(), 1u) << ldd;
    EXPECT_EQ(fs::canonical(found[0]), fs::canonical(moved + "/" + kRuntimeDir + "/" + library));
  }

  const std::string models = scratch_.path() + "/models";
  make_tts_model("kokoro", models + "/kokoro");
  make_stream_model(models + "/stream");
  make_stream_audio(models + "/low-high.wav", "--preset low-high");
  const std::string work = scratch_.path() + "/work";
  fs::create_directory(work);
  ChildOptions in_work;
  in_work.working_dir = work;

  // "Hi" goes through the runtime's espeak-ng, which finds its data in the
  // model directory and nowhere else.
  ChildResult synthesis =
      run_child({"/usr/bin/env", "-i", helper},
                tts_frame(tts_request(kKokoro, models + "/kokoro", 0, "Hi")), in_work);
  EXPECT_EQ(synthesis.exit_code, 0) << synthesis.err;
  std::vector<TtsReply> replies = parse_tts_replies(synthesis.out);
  ASSERT_EQ(replies.size(), 1u);
  ASSERT_EQ(replies[0].status, 0) << replies[0].payload;
  EXPECT_EQ(wav_info(replies[0].payload).sample_rate, 24000u);
  EXPECT_GT(wav_info(replies[0].payload).samples, 0u);

  ChildResult smoke = run_child({"/usr/bin/env", "-i", helper, "--stream-stt-smoke",
                                 models + "/stream", models + "/low-high.wav"},
                                "", in_work);
  EXPECT_EQ(smoke.exit_code, 0) << smoke.err;
  EXPECT_NE(smoke.out.find(" final=LOW HIGH\n"), std::string::npos) << smoke.out;
}

// A dotted version as numbers, for ordering.
std::vector<int> version(const std::string& dotted) {
  std::vector<int> parts;
  for (const std::string& part : all_matches(dotted, "([0-9]+)")) parts.push_back(std::stoi(part));
  return parts;
}

// The newest version of `family` (GLIBC or GLIBCXX) among the versions that
// `file` requires of the libraries it loads.
std::string newest_required(const std::string& file, const std::string& family) {
  std::string info = tool_output({"/usr/bin/readelf", "-V", "--wide", file});
  size_t needs = info.find("Version needs section");
  if (needs == std::string::npos) return "";
  std::string newest;
  for (const std::string& v : all_matches(info.substr(needs), "Name: " + family + "_([0-9.]+)\\s")) {
    if (newest.empty() || version(v) > version(newest)) newest = v;
  }
  return newest;
}

TEST_F(InstalledTree, NeedsNoNewerGlibcOrLibstdcxxThanTheReadmeStates) {
  std::string readme = read_file(prefix_ + "/share/doc/velmora-corvane-tts/README.md");
  std::vector<std::string> files = {kHelper};
  for (const std::string& library : kRuntimeLibraries) files.push_back(kRuntimeDir + "/" + library);
  for (const std::string family : {"GLIBC", "GLIBCXX"}) {
    std::vector<std::string> stated = all_matches(readme, "`" + family + "_([0-9.]+)`");
    ASSERT_FALSE(stated.empty()) << "the README states no `" << family << "_...` floor";
    for (const std::string& file : files) {
      std::string needed = newest_required(prefix_ + "/" + file, family);
      std::cout << file << " needs " << family << "_" << needed << "\n";
      for (const std::string& s : stated) {
        EXPECT_LE(version(needed), version(s)) << file << " needs " << family << "_" << needed
                                               << ", the README states " << family << "_" << s;
      }
    }
  }
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
