// corvane-check-model: says whether the helper can use a model directory,
// and if not, why. It checks the files the helper needs, then has a helper
// (a child, so that a model that ends the runtime cannot end this tool)
// load the model and use it once: one short sentence for a synthesis model,
// a generated clip for a streaming model.
#include <chrono>
#include <cmath>
#include <iostream>
#include <mutex>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include "common/model_files.h"
#include "common/model_path.h"
#include "platform/platform.h"
#include "tools/tool_support.h"
#include "velmora_corvane/recognizer.h"
#include "velmora_corvane/synthesizer.h"

namespace velmora_corvane_tts::tools {
namespace {

constexpr const char* kUsage = R"(usage: corvane-check-model --model-id ID [options] DIR

Says whether the velmora-corvane-tts helper can use the model in DIR, and if
not, why: files missing or unreadable, what the speech runtime wrote on
standard error, whether the helper died (and the known faults that end it
that way) or hung. A synthesis model (kokoro-82m-v1.1-int8,
supertonic-3-int8) speaks one short sentence; any other id is taken as a
streaming recognition model, which decodes a generated one-second clip.

  --model-id ID        the model id (required)
  --timeout SECONDS    longest wait for the helper (default 120)
  --helper PATH        the helper (default: velmora-corvane-tts beside this program)
  -h, --help           this text

Exit status: 0 usable; 1 not usable (the report says why); 2 a usage error.
)";

enum class Kind { kKokoro, kSupertonic, kStreaming };

// Standard error lines of the runtime shown with a failure: the latest.
constexpr size_t kShownLines = 40;

// What a death of the helper most likely means for this kind of model: the
// faults the helper's own checks cannot see (docs/robustness.md).
std::string explain_end(Kind kind, const velmora_corvane::Error& error) {
  const std::string& how = error.message();
  // exit(-1) in the runtime: status 255 on POSIX, -1 on Windows. A bad
  // memory access: SIGSEGV or SIGBUS on POSIX, an access violation
  // (0xC0000005) or an in-page error (0xC0000006) on Windows.
  bool exited_255 = how.ends_with("status 255") || how.ends_with("status -1");
  bool crashed = false;
  for (const char* name : {"SIGSEGV", "SIGBUS", "0xC0000005", "0xC0000006"}) {
    crashed = crashed || how.find(name) != std::string::npos;
  }
  switch (kind) {
    case Kind::kKokoro:
      if (exited_255) {
        return "the runtime ended the process on a model fault: voices.bin of whole floats but "
               "not the size the model's metadata asks for, model metadata missing or invalid, "
               "or a tokens.txt line with more than two fields";
      }
      if (crashed) return "espeak-ng-data/ is damaged inside (a phontab or phonindex that is not the one of its phondata)";
      if (how.find("status 1") != std::string::npos) {
        return "espeak-ng could not start with the data in espeak-ng-data/";
      }
      break;
    case Kind::kSupertonic:
      if (exited_255) {
        return "the runtime ended the process on a model fault: tts.json without an integer "
               "ae.sample_rate, ae.base_chunk_size, ttl.chunk_compress_factor or "
               "ttl.latent_dim, or voice.bin styles over 64 MiB";
      }
      break;
    case Kind::kStreaming:
      if (exited_255) {
        return "the runtime ended the process on a model fault: encoder metadata without a "
               "required key or with a negative value, or a tokens.txt line with three fields";
      }
      if (crashed) return "the encoder's model_type metadata is missing or unknown";
      break;
  }
  return "an unknown fault";
}

int run(int argc, char** argv) {
  constexpr const char* kTool = "corvane-check-model";
  ToolArgs args(kTool, kUsage);
  std::string model_id, helper, timeout_text = "120";
  std::vector<std::string> dirs;
  if (!args.parse(argc, argv,
                  {{"--model-id", &model_id}, {"--timeout", &timeout_text}, {"--helper", &helper}},
                  &dirs)) {
    return args.status();
  }
  if (model_id.empty()) return usage_error(kTool, "--model-id is required");
  if (dirs.size() != 1) return usage_error(kTool, "give one model directory");
  auto timeout = parse_number<unsigned>(timeout_text);
  if (!timeout || *timeout == 0) return usage_error(kTool, "--timeout takes a positive whole number");
  const std::string& dir = dirs[0];
  const Kind kind = model_id == "kokoro-82m-v1.1-int8" ? Kind::kKokoro
                    : model_id == "supertonic-3-int8"  ? Kind::kSupertonic
                                                       : Kind::kStreaming;
  std::cout << "model: " << model_id << " in " << dir << " ("
            << (kind == Kind::kStreaming ? "streaming recognition" : "synthesis") << ")\n";

  // The files, from the helper's own lists.
  std::vector<std::string> files;
  auto add = [&](std::string_view base, std::span<const std::string_view> names) {
    for (std::string_view name : names) files.push_back(join_model_path(base, name));
  };
  if (kind == Kind::kKokoro) {
    add(dir, kKokoroFiles);
    add(join_model_path(dir, kEspeakDataDir), kEspeakDataFiles);
  } else if (kind == Kind::kSupertonic) {
    add(dir, kSupertonicFiles);
  } else {
    add(dir, kStreamModelFiles);
  }
  int faults = 0;
  for (const std::string& file : files) {
    switch (platform::regular_file_access(file)) {
      case platform::FileAccess::kAbsent:
        std::cout << "missing: " << file << "\n";
        ++faults;
        break;
      case platform::FileAccess::kUnreadable:
        std::cout << "unreadable: " << file << "\n";
        ++faults;
        break;
      case platform::FileAccess::kReadable:
        break;
    }
  }
  if (faults > 0) {
    std::cout << "usable: no\n";
    return 1;
  }
  std::cout << "files: all " << files.size() << " present and readable\n";

  std::mutex lines_mutex;
  std::vector<std::string> lines;
  velmora_corvane::HelperOptions options;
  options.helper_path = helper;
  options.timeout = std::chrono::seconds(*timeout);
  options.on_stderr_line = [&](std::string_view line) {
    std::lock_guard lock(lines_mutex);
    if (lines.size() == kShownLines) lines.erase(lines.begin());  // the latest are shown
    lines.emplace_back(line);
  };

  auto started = std::chrono::steady_clock::now();
  std::string done;
  std::optional<velmora_corvane::Error> failure;
  if (kind != Kind::kStreaming) {
    velmora_corvane::Synthesizer synth(options);
    auto speech = synth.synthesize({model_id, dir, 0, "en", 1.0f, "This is a test."});
    if (speech.ok()) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.2f",
                    static_cast<double>(speech.value().samples().size()) /
                        speech.value().sample_rate());
      done = "synthesised \"This is a test.\": " + std::string(seconds) + " s at " +
             std::to_string(speech.value().sample_rate()) + " Hz";
    } else {
      failure = speech.error();
    }
  } else {
    // One second of a 440 Hz tone, then one of silence.
    std::vector<float> clip(32000, 0.0f);
    for (size_t i = 0; i < 16000; ++i) {
      clip[i] = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440 * double(i) / 16000));
    }
    velmora_corvane::Recognizer recognizer(options);
    auto recording = recognizer.open(model_id, dir);
    velmora_corvane::Result<std::string> final_text =
        recording.ok() ? velmora_corvane::Result<std::string>("") : recording.error();
    if (recording.ok()) {
      auto fed = recording.value()->feed(clip);
      final_text = fed.ok() ? recording.value()->finish() : fed.error();
    }
    if (final_text.ok()) {
      done = "decoded a generated 2 s clip: final transcript \"" + final_text.value() + "\"";
    } else {
      failure = final_text.error();
    }
  }
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  started);
  std::vector<std::string> said;
  {
    std::lock_guard lock(lines_mutex);
    said = lines;
  }
  if (!failure) {
    std::cout << "helper: " << done << " (" << ms.count() << " ms, model load included)\n";
    std::cout << "usable: yes\n";
    return 0;
  }
  using velmora_corvane::ErrorKind;
  switch (failure->kind()) {
    case ErrorKind::kHelperExited:
      std::cout << "helper: died: " << failure->message() << "\n";
      std::cout << "likely: " << explain_end(kind, *failure) << "\n";
      break;
    case ErrorKind::kTimedOut:
      std::cout << "helper: hung: no answer within " << *timeout << " s; it was ended\n";
      if (kind == Kind::kStreaming) {
        std::cout << "likely: encoder metadata decode_chunk_len of 0 (the first audio never returns)\n";
      }
      break;
    case ErrorKind::kHelperUnavailable:
      std::cout << "helper: could not be started: " << failure->message() << "\n";
      break;
    default:
      std::cout << "helper: refused the model: " << failure->message() << "\n";
      break;
  }
  for (const std::string& line : said) std::cout << "runtime: " << line << "\n";
  std::cout << "usable: no\n";
  return 1;
}

}  // namespace
}  // namespace velmora_corvane_tts::tools

int main(int argc, char** argv) {
  return velmora_corvane_tts::tools::tool_main(argc, argv, velmora_corvane_tts::tools::run);
}
