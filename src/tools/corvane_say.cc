// corvane-say: speaks a text through the helper, into a WAV file or as raw
// 16-bit PCM on standard output. Long texts go sentence by sentence, with
// the next requests already queued at the helper while a sentence's audio is
// written, so that the first audio comes after the first sentence.
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/coding.h"
#include "common/text.h"
#include "platform/platform.h"
#include "tools/sentence_splitter.h"
#include "tools/tool_support.h"
#include "tts/corvane_tts_protocol.h"
#include "velmora_corvane/synthesizer.h"

namespace velmora_corvane_tts::tools {
namespace {

using velmora_corvane::Result;
using velmora_corvane::Speech;

constexpr const char* kUsage = R"(usage: corvane-say --model-dir DIR [options] [TEXT...]

Speaks TEXT (the arguments joined by spaces, or standard input when there are
none) with the velmora-corvane-tts helper.

  -o, --output FILE    write one WAV file; without it, raw signed 16-bit
                       little-endian mono PCM goes to standard output and its
                       rate to standard error ("corvane-say: 24000 Hz"):
                         corvane-say --model-dir DIR Hello | aplay -f S16_LE -r 24000
                       (Kokoro models speak at 24000 Hz, Supertonic at 44100)
  --model-dir DIR      the model directory (required; best absolute)
  --model-id ID        kokoro-82m-v1.1-int8 (default) or supertonic-3-int8
  --voice N            speaker number (default 0)
  --speed X            0.5 to 2.0 (default 1.0)
  --language L         default en
  --helper PATH        the helper (default: velmora-corvane-tts beside this program)
  -h, --help           this text

Long texts are split into sentences (and sentences over 10,000 characters
between words), one request each, written as each arrives.

Exit status: 0 spoken; 1 the helper refused or failed (its message on
standard error); 2 a usage error; 3 the output could not be written.
)";

constexpr int kInFlight = 3;  // requests queued at the helper at once

// Audio as it goes out: a WAV file whose sizes are set at the end, or raw
// PCM.
class AudioSink {
 public:
  explicit AudioSink(std::FILE* file, bool wav) : file_(file), wav_(wav) {}

  bool write(const Speech& speech) {
    if (!started_) {
      started_ = true;
      rate_ = speech.sample_rate();
      if (wav_) {
        std::string header = wav_header(rate_, 0xFFFFFFFFu - 36);
        if (std::fwrite(header.data(), 1, header.size(), file_) != header.size()) return false;
      } else {
        std::fprintf(stderr, "corvane-say: %u Hz\n", rate_);
      }
    }
    auto samples = speech.samples();
    data_bytes_ += samples.size() * 2;
    return std::fwrite(samples.data(), 2, samples.size(), file_) == samples.size() &&
           std::fflush(file_) == 0;
  }

  // Sets the sizes when the output can be rewound (a pipe keeps the
  // "unknown" sizes, which readers of streamed WAV accept).
  bool close() {
    if (wav_ && started_ && data_bytes_ <= 0xFFFFFFFFu - 36 && std::fseek(file_, 0, SEEK_SET) == 0) {
      std::string header = wav_header(rate_, static_cast<uint32_t>(data_bytes_));
      if (std::fwrite(header.data(), 1, header.size(), file_) != header.size()) return false;
    }
    return std::fflush(file_) == 0;
  }

  bool started() const { return started_; }

 private:
  static std::string wav_header(uint32_t rate, uint32_t data_bytes) {
    std::string h = "RIFF";
    put_fixed32(h, 36 + data_bytes);
    h += "WAVEfmt ";
    put_fixed32(h, 16);
    h += std::string("\x01\x00\x01\x00", 4);  // PCM, mono
    put_fixed32(h, rate);
    put_fixed32(h, rate * 2);
    h += std::string("\x02\x00\x10\x00", 4);  // block align 2, 16 bits
    h += "data";
    put_fixed32(h, data_bytes);
    return h;
  }

  std::FILE* file_;
  bool wav_;
  bool started_ = false;
  uint32_t rate_ = 0;
  uint64_t data_bytes_ = 0;
};

int run(int argc, char** argv) {
  ToolArgs args("corvane-say", kUsage);
  std::string output, model_dir, model_id = "kokoro-82m-v1.1-int8", language = "en", helper;
  std::string voice = "0", speed = "1.0";
  std::vector<std::string> words;
  if (!args.parse(argc, argv,
                  {{"-o", &output}, {"--output", &output}, {"--model-dir", &model_dir},
                   {"--model-id", &model_id}, {"--voice", &voice}, {"--speed", &speed},
                   {"--language", &language}, {"--helper", &helper}},
                  &words)) {
    return args.status();
  }
  if (model_dir.empty()) return usage_error("corvane-say", "--model-dir is required");
  auto voice_number = parse_number<int32_t>(voice);
  auto speed_number = parse_number<float>(speed);
  if (!voice_number) return usage_error("corvane-say", "--voice takes a whole number");
  if (!speed_number) return usage_error("corvane-say", "--speed takes a number");

  std::string text;
  if (words.empty()) {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
  }
  auto splitter = make_sentence_splitter(kMaxTextChars);
  if (!splitter.ok()) return fail("corvane-say", splitter.error().message(), 1);
  std::vector<std::string> sentences = splitter.value()->split(to_valid_utf8(text));
  if (sentences.empty()) return usage_error("corvane-say", "there is no text to speak");

  std::FILE* file = stdout;
  if (!output.empty()) {
    file = platform::open_file(output, "wb");
    if (file == nullptr) {
      return fail("corvane-say", "cannot write " + output + ": " + std::strerror(errno), 3);
    }
  }
  AudioSink sink(file, !output.empty());

  velmora_corvane::HelperOptions options;
  options.helper_path = helper;
  velmora_corvane::Synthesizer synth(options);

  // Workers take sentences in order, at most kInFlight ahead of the writer;
  // the writer (this thread) writes each reply as soon as it is next.
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::optional<Result<Speech>>> done(sentences.size());
  size_t next = 0, written = 0;
  bool stop = false;
  auto worker = [&] {
    std::unique_lock lock(mutex);
    while (true) {
      cv.wait(lock, [&] { return stop || next >= sentences.size() || next < written + kInFlight; });
      if (stop || next >= sentences.size()) return;
      size_t mine = next++;
      lock.unlock();
      velmora_corvane::SynthesisRequest request{model_id, model_dir, *voice_number,
                                                language, *speed_number, sentences[mine]};
      Result<Speech> speech = synth.synthesize(request);
      lock.lock();
      done[mine] = std::move(speech);
      cv.notify_all();
    }
  };
  std::vector<std::thread> workers;
  for (int i = 0; i < kInFlight; ++i) workers.emplace_back(worker);

  int status = 0;
  std::string failure;
  {
    std::unique_lock lock(mutex);
    while (written < sentences.size()) {
      cv.wait(lock, [&] { return done[written].has_value(); });
      Result<Speech> speech = std::move(*done[written]);
      done[written].reset();
      if (!speech.ok()) {
        failure = speech.error().message();
        status = 1;
        break;
      }
      lock.unlock();
      bool ok = sink.write(speech.value());
      lock.lock();
      if (!ok) {
        failure = std::string("cannot write the audio: ") + std::strerror(errno);
        status = 3;
        break;
      }
      ++written;
      cv.notify_all();
    }
    stop = true;
    cv.notify_all();
  }
  for (std::thread& t : workers) t.join();
  if (status == 0 && !sink.close()) {
    failure = std::string("cannot write the audio: ") + std::strerror(errno);
    status = 3;
  }
  if (file != stdout) std::fclose(file);
  if (status != 0) return fail("corvane-say", failure, status);
  return 0;
}

}  // namespace
}  // namespace velmora_corvane_tts::tools

int main(int argc, char** argv) {
  return velmora_corvane_tts::tools::tool_main(argc, argv, velmora_corvane_tts::tools::run);
}
