#include "support/child_process.h"

// Running a child is the same everywhere; the shell, the fixture scripts and
// dropping privileges are POSIX only.
#if !defined(_WIN32)
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "common/coding.h"

namespace velmora_corvane_tts::testing {

ChildResult run_child(const std::vector<std::string>& argv, const std::string& input,
                      const ChildOptions& options) {
  wire::HelperProcess helper;
  if (int error = helper.start(argv, {options.working_dir, ""}); error != 0) {
    ADD_FAILURE() << "starting " << argv[0] << ": " << platform::describe_os_error(error);
    return {};
  }
  platform::Child& child = helper.child();
  if (options.close_stdout_early) child.close_output();
  ChildResult result;
  // Input, output and standard error each move on their own, so that the
  // child never waits on a full pipe that nobody empties.
  std::thread writer([&] {
    size_t chunk = options.write_chunk > 0 ? options.write_chunk : input.size();
    for (size_t at = 0; at < input.size(); at += chunk) {
      if (!helper.send(std::string_view(input).substr(at, chunk))) break;
    }
    child.close_input();
  });
  std::thread errors([&] {
    char buffer[65536];
    for (;;) {
      platform::TransferResult r = platform::read_some(child.error(), buffer, sizeof buffer);
      if (r.error != 0 || r.count == 0) break;
      result.err.append(buffer, r.count);
    }
  });
  result.out = helper.receive_all();
  writer.join();
  errors.join();
  platform::ExitOutcome outcome = *child.wait();
  if (outcome.kind == platform::ExitOutcome::Kind::kExited) {
    result.exit_code = outcome.code;
  } else {
    result.signal = outcome.code;
  }
  return result;
}

std::string helper_path() {
  const char* wine = std::getenv("VCT_WINE_HELPER");
  return wine != nullptr && *wine != '\0' ? wine : VCT_HELPER_PATH;
}

bool helper_under_wine() { return helper_path() != VCT_HELPER_PATH; }

std::string native_helper_path() { return VCT_HELPER_PATH; }

bool tools_under_wine() {
  const char* wine = std::getenv("VCT_WINE_TOOLS");
  return wine != nullptr && *wine != '\0';
}

std::string tool_path(const std::string& name) {
  if (tools_under_wine()) return std::string(std::getenv("VCT_WINE_TOOLS")) + "/" + name;
  const std::string helper = VCT_HELPER_PATH;
  return helper.substr(0, helper.rfind('/') + 1) + name;
}

std::string broken_pipe_description() {
  return helper_under_wine() ? "Pipe not connected. (os error 233)" : "Broken pipe (os error 32)";
}
std::string source_dir() { return VCT_SOURCE_DIR; }

TempDir::TempDir() {
#if defined(_WIN32)
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    auto dir = std::filesystem::temp_directory_path() / ("vct-test-" + std::to_string(random()));
    std::error_code ec;
    if (std::filesystem::create_directory(dir, ec)) path_ = dir.string();
  }
#else
  std::string pattern = (std::filesystem::temp_directory_path() / "vct-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
#endif
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

#if !defined(_WIN32)
int run_shell(const std::string& command) {
  int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::vector<std::string> unprivileged(const std::vector<std::string>& argv, std::string* why) {
  if (geteuid() != 0) return argv;
  std::vector<std::string> dropped = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                                      "--clear-groups"};
  dropped.insert(dropped.end(), argv.begin(), argv.end());
  if (access(dropped[0].c_str(), X_OK) != 0) {
    *why = "the tests run as root, and util-linux's setpriv is not there to drop to nobody";
    return {};
  }
  // An empty input ends any mode at once with status 0.
  ChildResult probe = run_child(dropped, "");
  if (probe.exit_code != 0) {
    *why = "the tests run as root, and nobody cannot run " + argv[0] + ": " + probe.err;
    return {};
  }
  return dropped;
}

void make_tts_model(const std::string& kind, const std::string& dir,
                    const std::string& extra_args) {
  std::string command = "/usr/bin/python3 '" + source_dir() + "/tests/fixtures/make_tts_model.py' " +
                        kind + " '" + dir + "' " + extra_args;
  ASSERT_EQ(run_shell(command), 0) << command;
}
#endif  // !_WIN32

}  // namespace velmora_corvane_tts::testing

namespace velmora_corvane_tts::testing {

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::string tts_request(const std::string& model_id, const std::string& model_dir, int sid,
                        const std::string& text, double speed, const std::string& language) {
  return wire::synthesis_request_json(
      {model_id, model_dir, sid, language, static_cast<float>(speed), text});
}

WavInfo wav_info(const std::string& wav) {
  WavInfo info;
  if (wav.size() < 44) {
    ADD_FAILURE() << "not a WAV file: " << wav.substr(0, 200);
    return info;
  }
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(decode_fixed32(wav.data() + 4), wav.size() - 8);
  EXPECT_EQ(decode_fixed32(wav.data() + 40), wav.size() - 44);
  info.sample_rate = decode_fixed32(wav.data() + 24);
  info.samples = static_cast<uint32_t>((wav.size() - 44) / 2);
  if (wav.size() >= 46) info.first = static_cast<int16_t>(decode_fixed16(wav.data() + 44));
  return info;
}

}  // namespace velmora_corvane_tts::testing

#if !defined(_WIN32)
namespace velmora_corvane_tts::testing {

InteractiveChild::InteractiveChild(const std::vector<std::string>& argv,
                                   const std::string& working_dir) {
  if (int error = helper_.start(argv, {working_dir, scratch_.path() + "/stderr"}); error != 0) {
    ADD_FAILURE() << "starting " << argv[0] << ": " << platform::describe_os_error(error);
  }
}

void InteractiveChild::send(const std::string& bytes) {
  if (!helper_.send(bytes)) ADD_FAILURE() << "the helper stopped reading";
}

long InteractiveChild::minor_faults() const {
  std::ifstream in("/proc/" + std::to_string(pid()) + "/stat");
  std::string stat;
  std::getline(in, stat);
  // "pid (name) state ppid ...": minflt is the 10th field, the 8th after the
  // name, whose closing parenthesis is the last one on the line.
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int i = 0; i < 8 && fields >> field; ++i) {
  }
  return fields ? std::atol(field.c_str()) : -1;
}

TtsReply InteractiveChild::receive_tts_reply() {
  std::optional<TtsReply> reply = helper_.receive_synthesis_reply();
  if (!reply.has_value()) ADD_FAILURE() << "no reply";
  return reply.value_or(TtsReply{});
}

ChildResult InteractiveChild::finish_with_output() {
  ChildResult result;
  platform::Child& child = helper_.child();
  child.close_input();
  result.out = helper_.receive_all();
  if (std::optional<platform::ExitOutcome> outcome = child.wait()) {
    if (outcome->kind == platform::ExitOutcome::Kind::kExited) {
      result.exit_code = outcome->code;
    } else {
      result.signal = outcome->code;
    }
  }
  std::ifstream err(scratch_.path() + "/stderr", std::ios::binary);
  result.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  return result;
}

}  // namespace velmora_corvane_tts::testing
#endif  // !_WIN32
