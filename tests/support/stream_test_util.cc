#include "support/stream_test_util.h"

#include <algorithm>
#include <filesystem>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>

#include <gtest/gtest.h>

namespace velmora_corvane_tts::testing {

std::string shell_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// The generators and speech tools are Linux programs, and the Windows build
// of the tests starts no processes (see child_process.cc).
#if !defined(_WIN32)
void make_stream_model(const std::string& dir, const std::string& extra_args) {
  std::string command = "/usr/bin/python3 " +
                        shell_quote(source_dir() + "/tests/fixtures/make_stream_model.py") + " " +
                        shell_quote(dir) + " " + extra_args + " >/dev/null";
  ASSERT_EQ(run_shell(command), 0) << command;
}

void make_stream_audio(const std::string& out, const std::string& args) {
  std::string command = "/usr/bin/python3 " +
                        shell_quote(source_dir() + "/tests/fixtures/make_stream_audio.py") + " " +
                        shell_quote(out) + " " + args;
  ASSERT_EQ(run_shell(command), 0) << command;
}
#endif  // !_WIN32

std::string real_model_dir() {
  return (std::filesystem::path(source_dir()) / ".." / "shared" / "realmodels" /
          "kws-zipformer-gigaspeech-3.3M-en")
      .string();
}

bool link_unpatched_real_model(const std::string& dir) {
  const std::filesystem::path real = real_model_dir();
  const std::filesystem::path unpatched =
      real / "upstream-unpatched" / "encoder-epoch-12-avg-2-chunk-16-left-64.int8.onnx";
  if (!std::filesystem::exists(unpatched)) return false;
  std::filesystem::create_symlink(unpatched, dir + "/encoder.int8.onnx");
  for (const char* f : {"decoder.int8.onnx", "joiner.int8.onnx", "tokens.txt"}) {
    std::filesystem::create_symlink(real / f, dir + "/" + f);
  }
  return true;
}

#if !defined(_WIN32)
bool can_speak() {
  return run_shell("command -v espeak-ng >/dev/null && command -v sox >/dev/null") == 0;
}

void speak(const std::string& sentence, const std::string& wav) {
  std::string raw = wav + ".espeak.wav";
  std::string command = "espeak-ng -v en-us -s 150 -w " + shell_quote(raw) + " " +
                        shell_quote(sentence) + " && sox -D " + shell_quote(raw) +
                        " -r 16000 -c 1 -b 16 " + shell_quote(wav) + " pad 0.3 0.3";
  ASSERT_EQ(run_shell(command), 0) << command;
}
#endif  // !_WIN32

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string open_frame(uint64_t id, const std::string& model_dir, const std::string& model_id) {
  std::string json = "{\"model_id\":\"" + model_id + "\",\"model_dir\":\"" + model_dir + "\"}";
  return frame(0, id, json);
}

std::string finish_frame(uint64_t id) { return frame(2, id); }
std::string cancel_frame(uint64_t id) { return frame(3, id); }

std::string audio_frames(uint64_t id, const std::string& raw_f32, size_t block) {
  std::string out;
  for (size_t at = 0; at < raw_f32.size(); at += 4 * block) {
    out += frame(1, id, raw_f32.substr(at, 4 * block));
  }
  return out;
}

Reply opened(uint64_t id) { return {0, id, ""}; }
Reply partial(uint64_t id, const std::string& text) { return {1, id, text}; }
Reply final_reply(uint64_t id, const std::string& text) { return {2, id, text}; }
Reply error_reply(uint64_t id, const std::string& text) { return {3, id, text}; }

}  // namespace velmora_corvane_tts::testing

namespace velmora_corvane_tts::wire {

std::ostream& operator<<(std::ostream& os, const StreamReply& r) {
  static const char* names[] = {"Opened", "Partial", "Final", "Error"};
  os << (r.tag < 4 ? names[r.tag] : "tag " + std::to_string(r.tag)) << "(" << r.id << ", \""
     << r.payload << "\")";
  return os;
}

}  // namespace velmora_corvane_tts::wire
