// corvane-listen: transcribes a WAV file, or raw PCM from standard input,
// through the helper in stream mode. The partial transcript is shown as it
// changes (rewritten in place when standard error is a terminal); the final
// transcript goes to standard output.
#include <sndfile.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/tool_support.h"
#include "velmora_corvane/recognizer.h"

namespace velmora_corvane_tts::tools {
namespace {

constexpr const char* kUsage = R"(usage: corvane-listen --model-dir DIR [options] FILE.wav
       corvane-listen --model-dir DIR --raw [--rate N] [--format s16le|f32le] < audio

Transcribes speech with the velmora-corvane-tts helper's streaming model.
A WAV file (or any file libsndfile reads) may have any rate and channel
count: channels are mixed down and the audio is resampled to 16 kHz. With
--raw, mono samples come from standard input, e.g. a live microphone:
  arecord -f S16_LE -r 48000 -c 1 -t raw | corvane-listen --raw --rate 48000 --model-dir DIR

  --model-dir DIR      the streaming model directory (required; best absolute)
  --model-id ID        the application's name for the model (default "stream")
  --language L         passed on to the model
  --raw                read raw mono samples from standard input
  --rate N             their rate in Hz (default 16000)
  --format F           s16le (default) or f32le (floats; other rates than
                       16000 go through 16-bit samples)
  --helper PATH        the helper (default: velmora-corvane-tts beside this program)
  -h, --help           this text

The partial transcript is written to standard error as it changes: rewritten
in place on a terminal, one line each ("partial: TEXT") otherwise. The final
transcript is one line on standard output.

Exit status: 0 transcribed (possibly to an empty line); 1 the helper refused
or failed (its message on standard error); 2 a usage error; 3 the input could
not be read.
)";

constexpr size_t kBlockFrames = 4096;

struct SndfileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Feeds `samples` to the recording: floats at 16 kHz as they are, anything
// else as 16-bit PCM.
class Feeder {
 public:
  Feeder(velmora_corvane::Recording& recording, uint32_t rate) : recording_(recording), rate_(rate) {}

  velmora_corvane::Result<void> pcm(std::span<const int16_t> samples) {
    return recording_.feed(samples, rate_);
  }
  velmora_corvane::Result<void> floats(std::span<const float> samples) {
    if (rate_ == 16000) return recording_.feed(samples);
    pcm_.clear();
    for (float f : samples) {
      float scaled = f * 32768.0f;
      pcm_.push_back(static_cast<int16_t>(scaled >= 32767.0f    ? 32767
                                          : scaled <= -32768.0f ? -32768
                                                                : static_cast<int>(scaled)));
    }
    return recording_.feed(pcm_, rate_);
  }

 private:
  velmora_corvane::Recording& recording_;
  uint32_t rate_;
  std::vector<int16_t> pcm_;
};

int run(int argc, char** argv) {
  constexpr const char* kTool = "corvane-listen";
  ToolArgs args(kTool, kUsage);
  std::string model_dir, model_id = "stream", language, helper, rate_text = "16000",
                         format = "s16le";
  bool raw = false;
  std::vector<std::string> files;
  if (!args.parse(argc, argv,
                  {{"--model-dir", &model_dir}, {"--model-id", &model_id},
                   {"--language", &language}, {"--rate", &rate_text}, {"--format", &format},
                   {"--helper", &helper}},
                  &files, {{"--raw", &raw}})) {
    return args.status();
  }
  if (model_dir.empty()) return usage_error(kTool, "--model-dir is required");
  if (raw != files.empty()) return usage_error(kTool, "give one WAV file, or --raw");
  if (files.size() > 1) return usage_error(kTool, "give one WAV file");
  auto rate = parse_number<uint32_t>(rate_text);
  if (!rate || *rate == 0) return usage_error(kTool, "--rate takes a positive whole number");
  if (format != "s16le" && format != "f32le") return usage_error(kTool, "--format is s16le or f32le");

  // The file is opened here, where its UTF-8 name is converted for the
  // system, and libsndfile reads it through its descriptor.
  std::unique_ptr<std::FILE, FileCloser> file;
  std::unique_ptr<SNDFILE, SndfileCloser> sound;
  SF_INFO info{};
  if (!raw) {
    file.reset(platform::open_file(files[0], "rb"));
    if (!file) return fail(kTool, "cannot read " + files[0] + ": " + std::strerror(errno), 3);
    sound.reset(sf_open_fd(fileno(file.get()), SFM_READ, &info, SF_FALSE));
    if (!sound) return fail(kTool, "cannot read " + files[0] + ": " + sf_strerror(nullptr), 3);
    if (info.samplerate <= 0 || info.channels <= 0) return fail(kTool, files[0] + " has no audio", 3);
    *rate = static_cast<uint32_t>(info.samplerate);
  }

  const bool terminal = platform::is_terminal(platform::standard_error());
  velmora_corvane::HelperOptions options;
  options.helper_path = helper;
  velmora_corvane::Recognizer recognizer(options);
  size_t shown = 0;
  auto on_partial = [&](std::string_view text) {
    if (terminal) {
      std::fprintf(stderr, "\r\x1b[K%.*s", static_cast<int>(text.size()), text.data());
      shown = text.size();
    } else {
      std::fprintf(stderr, "partial: %.*s\n", static_cast<int>(text.size()), text.data());
    }
    std::fflush(stderr);
  };
  std::optional<std::string_view> lang;
  if (!language.empty()) lang = language;
  auto opened = recognizer.open(model_id, model_dir, lang, on_partial);
  if (!opened.ok()) return fail(kTool, opened.error().message(), 1);
  velmora_corvane::Recording& recording = *opened.value();
  Feeder feeder(recording, *rate);

  velmora_corvane::Result<void> fed;
  if (!raw) {
    const auto channels = static_cast<size_t>(info.channels);
    std::vector<int16_t> block(kBlockFrames * channels), mono(kBlockFrames);
    for (sf_count_t n; fed.ok() && (n = sf_readf_short(sound.get(), block.data(), kBlockFrames)) > 0;) {
      const auto frames = static_cast<size_t>(n);
      for (size_t f = 0; f < frames; ++f) {
        int sum = 0;
        for (size_t c = 0; c < channels; ++c) sum += block[f * channels + c];
        mono[f] = static_cast<int16_t>(sum / static_cast<int>(channels));
      }
      fed = feeder.pcm(std::span(mono).first(frames));
    }
  } else {
    const size_t width = format == "s16le" ? 2 : 4;
    std::vector<char> bytes(kBlockFrames * width);
    std::vector<int16_t> pcm;
    std::vector<float> floats;
    size_t held = 0;  // bytes of a sample cut by a read
    while (fed.ok()) {
      size_t n = std::fread(bytes.data() + held, 1, bytes.size() - held, stdin);
      if (n == 0) break;
      size_t whole = (held + n) / width * width;
      if (width == 2) {
        pcm.resize(whole / 2);
        std::memcpy(pcm.data(), bytes.data(), whole);
        fed = feeder.pcm(pcm);
      } else {
        floats.resize(whole / 4);
        std::memcpy(floats.data(), bytes.data(), whole);
        fed = feeder.floats(floats);
      }
      held = held + n - whole;
      std::memmove(bytes.data(), bytes.data() + whole, held);
    }
    if (std::ferror(stdin)) return fail(kTool, "cannot read standard input", 3);
  }
  if (!fed.ok()) return fail(kTool, fed.error().message(), 1);
  auto final_text = recording.finish();
  if (terminal && shown > 0) std::fprintf(stderr, "\r\x1b[K");
  if (!final_text.ok()) return fail(kTool, final_text.error().message(), 1);
  std::cout << final_text.value() << "\n" << std::flush;
  return 0;
}

}  // namespace
}  // namespace velmora_corvane_tts::tools

int main(int argc, char** argv) {
  return velmora_corvane_tts::tools::tool_main(argc, argv, velmora_corvane_tts::tools::run);
}
