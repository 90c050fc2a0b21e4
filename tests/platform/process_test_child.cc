// The child that tests/platform/process_test.cc starts: one small program
// with the same behaviour on every system.
//   args ARG...   writes each ARG (as the system handed it over, in UTF-8)
//                 followed by a NUL byte
//   echo STATUS   copies standard input to standard output, writes "err\n"
//                 to standard error, exits with STATUS
//   cwd           writes its working directory's last component, and "err\n"
//                 to standard error
//   exit STATUS   exits with STATUS (read as an unsigned 32-bit number)
//   sleep         sleeps 30 s
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace platform = velmora_corvane_tts::platform;

int main(int argc, char** argv) {
  platform::prepare_standard_streams();
  std::vector<std::string> args = platform::command_line_arguments(argc, argv);
  std::string mode = args.size() > 1 ? args[1] : "";
  auto status = [&] { return static_cast<int>(static_cast<uint32_t>(std::stoull(args.at(2)))); };
  if (mode == "args") {
    for (size_t i = 2; i < args.size(); ++i) std::fwrite(args[i].c_str(), 1, args[i].size() + 1, stdout);
    return 0;
  }
  if (mode == "echo") {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) std::fwrite(buffer, 1, n, stdout);
    std::fflush(stdout);
    std::fputs("err\n", stderr);
    return status();
  }
  if (mode == "cwd") {
    std::u8string name = std::filesystem::current_path().filename().u8string();
    std::fwrite(name.data(), 1, name.size(), stdout);
    std::fputs("err\n", stderr);
    return 0;
  }
  if (mode == "exit") std::exit(status());
  if (mode == "sleep") std::this_thread::sleep_for(std::chrono::seconds(30));
  return 0;
}
