#include "tools/tool_support.h"

#include <cstdio>
#include <iostream>

#include "platform/platform.h"

namespace velmora_corvane_tts::tools {

int tool_main(int argc, char** argv, int (*run)(int, char**)) {
  platform::use_binary_standard_streams();
  std::vector<std::string> args = platform::command_line_arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  return run(static_cast<int>(args.size()), pointers.data());
}

int fail(std::string_view tool, std::string_view message, int status) {
  std::cerr << tool << ": " << message << "\n";
  return status;
}

int usage_error(std::string_view tool, std::string_view message) {
  return fail(tool, std::string(message) + " (see --help)", kUsageStatus);
}

bool ToolArgs::parse(int argc, char** argv, std::initializer_list<Option> options,
                     std::vector<std::string>* operands, std::initializer_list<Flag> flags) {
  bool only_operands = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (only_operands || arg.size() < 2 || arg[0] != '-') {
      operands->emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      only_operands = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      std::cout << usage_;
      status_ = 0;
      return false;
    }
    std::string_view name = arg.substr(0, arg.find('='));
    bool known = false;
    for (const Flag& flag : flags) {
      if (flag.name == arg) {
        *flag.value = true;
        known = true;
      }
    }
    for (const Option& option : options) {
      if (option.name != name) continue;
      known = true;
      if (name.size() < arg.size()) {
        *option.value = std::string(arg.substr(name.size() + 1));
      } else if (i + 1 < argc) {
        *option.value = argv[++i];
      } else {
        status_ = usage_error(tool_, std::string(name) + " needs a value");
        return false;
      }
    }
    if (!known) {
      status_ = usage_error(tool_, "unknown option " + std::string(name));
      return false;
    }
  }
  return true;
}

}  // namespace velmora_corvane_tts::tools
