#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

extern char** environ;

namespace velmora_corvane_tts::testing {

ChildResult run_child(const std::vector<std::string>& argv, const std::string& input,
                      const ChildOptions& options) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
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

std::string helper_path() { return VCT_HELPER_PATH; }
std::string source_dir() { return VCT_SOURCE_DIR; }

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vct-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

int run_shell(const std::string& command) {
  int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void make_tts_model(const std::string& kind, const std::string& dir,
                    const std::string& extra_args) {
  std::string command = "/usr/bin/python3 '" + source_dir() + "/tests/fixtures/make_tts_model.py' " +
                        kind + " '" + dir + "' " + extra_args;
  ASSERT_EQ(run_shell(command), 0) << command;
}

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
