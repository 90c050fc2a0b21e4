#include "support/child_process.h"

// The Windows build of the tests (unit tests run under Wine) starts no
// processes: the parts that do are built on POSIX only.
#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

#include <gtest/gtest.h>

#if !defined(_WIN32)
extern char** environ;
#endif

namespace velmora_corvane_tts::testing {

#if !defined(_WIN32)

ChildResult run_child(const std::vector<std::string>& argv, const std::string& input,
                      const ChildOptions& options) {
  int in[2], out[2], err[2];
  // Close-on-exec, so that a child started by another thread at the same
  // time cannot hold these pipes open (and keep this child's input or
  // output from ending); dup2 gives the child its own three without it.
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe2: " << std::strerror(errno);
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
    posix_spawn_file_actions_addclose(&actions, fd);
  }
  if (!options.working_dir.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.working_dir.c_str());
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  ChildResult result;
  if (rc != 0) {
    ADD_FAILURE() << "posix_spawn " << argv[0] << ": " << std::strerror(rc);
    close(in[1]);
    close(out[0]);
    close(err[0]);
    return result;
  }
  if (options.close_stdout_early) {
    close(out[0]);
    out[0] = -1;
  }
  signal(SIGPIPE, SIG_IGN);
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  size_t written = 0;
  int in_fd = in[1];
  if (input.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  char buffer[65536];
  while (out[0] >= 0 || err[0] >= 0) {
    pollfd fds[3];
    int n = 0;
    int idx_in = -1, idx_out = -1, idx_err = -1;
    if (in_fd >= 0) { fds[n] = {in_fd, POLLOUT, 0}; idx_in = n++; }
    if (out[0] >= 0) { fds[n] = {out[0], POLLIN, 0}; idx_out = n++; }
    if (err[0] >= 0) { fds[n] = {err[0], POLLIN, 0}; idx_err = n++; }
    if (poll(fds, static_cast<nfds_t>(n), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (idx_in >= 0 && fds[idx_in].revents != 0) {
      size_t chunk = input.size() - written;
      if (options.write_chunk > 0 && chunk > options.write_chunk) chunk = options.write_chunk;
      ssize_t w = write(in_fd, input.data() + written, chunk);
      if (w > 0) written += static_cast<size_t>(w);
      if ((w < 0 && errno != EAGAIN) || written == input.size()) {
        close(in_fd);
        in_fd = -1;
      }
    }
    for (auto [idx, fd, sink] : {std::tuple{idx_out, &out[0], &result.out},
                                 std::tuple{idx_err, &err[0], &result.err}}) {
      if (idx >= 0 && fds[idx].revents != 0) {
        ssize_t r = read(*fd, buffer, sizeof buffer);
        if (r > 0) {
          sink->append(buffer, static_cast<size_t>(r));
        } else {
          close(*fd);
          *fd = -1;
        }
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}
#endif  // !_WIN32

std::string helper_path() {
  const char* wine = std::getenv("VCT_WINE_HELPER");
  return wine != nullptr && *wine != '\0' ? wine : VCT_HELPER_PATH;
}

bool helper_under_wine() { return helper_path() != VCT_HELPER_PATH; }

std::string native_helper_path() { return VCT_HELPER_PATH; }

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

std::string le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

uint32_t read_le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(s[at + i])) << (8 * i);
  return v;
}

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

std::string tts_frame(const std::string& body) {
  return le32(static_cast<uint32_t>(body.size())) + body;
}

std::string tts_request(const std::string& model_id, const std::string& model_dir, int sid,
                        const std::string& text, double speed, const std::string& language) {
  char speed_text[64];
  std::snprintf(speed_text, sizeof speed_text, "%.17g", speed);
  return "{\"model_id\":" + json_string(model_id) + ",\"model_dir\":" + json_string(model_dir) +
         ",\"sid\":" + std::to_string(sid) + ",\"language\":" + json_string(language) +
         ",\"speed\":" + speed_text + ",\"text\":" + json_string(text) + "}";
}

std::vector<TtsReply> parse_tts_replies(const std::string& out) {
  std::vector<TtsReply> replies;
  size_t at = 0;
  while (at < out.size()) {
    if (out.size() - at < 5) {
      ADD_FAILURE() << "partial reply header at byte " << at;
      break;
    }
    TtsReply r;
    r.status = static_cast<uint8_t>(out[at]);
    uint32_t n = read_le32(out, at + 1);
    if (out.size() - at - 5 < n) {
      ADD_FAILURE() << "partial reply payload at byte " << at;
      break;
    }
    r.payload = out.substr(at + 5, n);
    replies.push_back(std::move(r));
    at += 5 + n;
  }
  return replies;
}

WavInfo wav_info(const std::string& wav) {
  WavInfo info;
  if (wav.size() < 44) {
    ADD_FAILURE() << "not a WAV file: " << wav.substr(0, 200);
    return info;
  }
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(read_le32(wav, 4), wav.size() - 8);
  EXPECT_EQ(read_le32(wav, 40), wav.size() - 44);
  info.sample_rate = read_le32(wav, 24);
  info.samples = static_cast<uint32_t>((wav.size() - 44) / 2);
  if (wav.size() >= 46) {
    info.first = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint8_t>(wav[44]) |
                                                            static_cast<uint8_t>(wav[45]) << 8));
  }
  return info;
}

}  // namespace velmora_corvane_tts::testing

#if !defined(_WIN32)
namespace velmora_corvane_tts::testing {

InteractiveChild::InteractiveChild(const std::vector<std::string>& argv,
                                   const std::string& working_dir) {
  int in[2], out[2];
  if (pipe(in) != 0 || pipe(out) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  std::string err_path = scratch_.path() + "/stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
  if (!working_dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, working_dir.c_str());
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
    pid_ = pid;
  } else {
    ADD_FAILURE() << "spawn failed";
  }
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  in_ = in[1];
  out_ = out[0];
  signal(SIGPIPE, SIG_IGN);
}

InteractiveChild::~InteractiveChild() {
  if (pid_ > 0) finish();
  if (out_ >= 0) close(out_);
}

void InteractiveChild::send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(in_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ADD_FAILURE() << "the helper stopped reading";
      return;
    }
    done += static_cast<size_t>(n);
  }
}

std::string InteractiveChild::receive(size_t n) {
  std::string data;
  char buffer[65536];
  while (data.size() < n) {
    pollfd p{out_, POLLIN, 0};
    int ready = poll(&p, 1, 300000);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    ssize_t r = read(out_, buffer, std::min(sizeof buffer, n - data.size()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    data.append(buffer, static_cast<size_t>(r));
  }
  return data;
}

long InteractiveChild::minor_faults() const {
  std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
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
  TtsReply reply;
  std::string header = receive(5);
  if (header.size() != 5) {
    ADD_FAILURE() << "no reply";
    return reply;
  }
  reply.status = static_cast<uint8_t>(header[0]);
  reply.payload = receive(read_le32(header, 1));
  return reply;
}

void InteractiveChild::stop_reading() {
  if (out_ >= 0) close(out_);
  out_ = -1;
}

ChildResult InteractiveChild::finish_with_output() {
  ChildResult result;
  if (in_ >= 0) close(in_);
  in_ = -1;
  char buffer[65536];
  while (out_ >= 0) {
    ssize_t r = read(out_, buffer, sizeof buffer);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    result.out.append(buffer, static_cast<size_t>(r));
  }
  int status = 0;
  if (pid_ > 0) waitpid(pid_, &status, 0);
  pid_ = -1;
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  std::ifstream err(scratch_.path() + "/stderr", std::ios::binary);
  result.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  return result;
}

}  // namespace velmora_corvane_tts::testing
#endif  // !_WIN32
