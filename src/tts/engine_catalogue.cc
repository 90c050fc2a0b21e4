#include "tts/engine_catalogue.h"

#include <array>

#include "common/coding.h"
#include "common/model_files.h"
#include "common/model_path.h"
#include "platform/platform.h"
#include "tts/corvane_tts_protocol.h"

namespace velmora_corvane_tts {

namespace {

// The runtime engine configuration of a catalogue model id, with every file
// joined onto `model_dir`; "Unsupported local speech model" for other ids.
Result<runtime::TtsEngineSettings> engine_settings(std::string_view model_id,
                                                   std::string_view dir) {
  // Every kind takes TtsEngineSettings' engine-wide values as they are.
  runtime::TtsEngineSettings settings;
  if (model_id == kKokoroModelId) {
    runtime::KokoroFiles k;
    k.model = join_model_path(dir, "model.int8.onnx");
    k.voices = join_model_path(dir, "voices.bin");
    k.tokens = join_model_path(dir, "tokens.txt");
    k.data_dir = join_model_path(dir, kEspeakDataDir);
    k.dict_dir = join_model_path(dir, "dict");
    k.lexicon = join_model_path(dir, "lexicon-us-en.txt") + "," +
                join_model_path(dir, "lexicon-zh.txt");
    settings.model = std::move(k);
  } else if (model_id == kSupertonicModelId) {
    runtime::SupertonicFiles s;
    s.duration_predictor = join_model_path(dir, "duration_predictor.int8.onnx");
    s.text_encoder = join_model_path(dir, "text_encoder.int8.onnx");
    s.vector_estimator = join_model_path(dir, "vector_estimator.int8.onnx");
    s.vocoder = join_model_path(dir, "vocoder.int8.onnx");
    s.tts_json = join_model_path(dir, "tts.json");
    s.unicode_indexer = join_model_path(dir, "unicode_indexer.bin");
    s.voice_style = join_model_path(dir, "voice.bin");
    settings.model = std::move(s);
  } else {
    return Error("Unsupported local speech model");
  }
  return settings;
}


// The first bytes of a phondata that espeak-ng accepts (its data files are
// kEspeakDataFiles): the data format version 1.51 writes (0x014801) and the
// sample rate, which the runtime requires to be 22,050 Hz. Other data ends
// the process inside the runtime: espeak-ng exits with status 1 on another
// version or a file it cannot read, the runtime with 255 on another rate,
// and an empty phontab or phonindex crashes it.
constexpr std::array<uint8_t, 8> kPhondataStart = {0x01, 0x48, 0x01, 0x00, 0x22, 0x56, 0x00, 0x00};

// True when every file `names` joined onto `dir` can be opened for reading.
// A missing file fails too, as the runtime's own check of the paths would.
template <size_t N>
bool all_readable(std::string_view dir, const std::array<std::string_view, N>& names) {
  for (std::string_view name : names) {
    if (platform::regular_file_access(join_model_path(dir, name)) !=
        platform::FileAccess::kReadable) {
      return false;
    }
  }
  return true;
}

bool espeak_data_usable(const std::string& data_dir) {
  if (!all_readable(data_dir, kEspeakDataFiles)) return false;
  for (std::string_view name : kEspeakDataFiles) {
    if (platform::regular_file_size(join_model_path(data_dir, name)).value_or(0) == 0) return false;
  }
  std::array<uint8_t, kPhondataStart.size()> start{};
  return platform::read_file_start(join_model_path(data_dir, "phondata"), start) &&
         start == kPhondataStart;
}

// True when the size of a file of whole little-endian 32-bit values shows
// that it cannot be one: empty, or not a multiple of 4 bytes.
bool not_whole_values(const std::string& path) {
  std::optional<uint64_t> size = platform::regular_file_size(path);
  return size.has_value() && (*size == 0 || *size % 4 != 0);
}

// True when a Supertonic voice.bin cannot be what its header says: shorter
// than the header of six little-endian int64 (voices, two style dimensions,
// voices again, two duration dimensions), a dimension that is not positive,
// two different voice counts, or a size other than the header plus the
// float32 styles the dimensions call for. Dimensions too large to multiply
// safely are left to the runtime.
bool voice_style_inconsistent(const std::string& path) {
  std::optional<uint64_t> size = platform::regular_file_size(path);
  if (!size.has_value()) return false;
  constexpr uint64_t kHeader = 48;
  std::array<uint8_t, kHeader> header{};
  if (*size < kHeader) return true;
  if (!platform::read_file_start(path, header)) return false;
  std::array<int64_t, 6> dims{};
  for (size_t i = 0; i < dims.size(); ++i) {
    dims[i] = static_cast<int64_t>(decode_fixed64(header.data() + 8 * i));
  }
  for (int64_t d : dims) {
    if (d <= 0) return true;
  }
  if (dims[0] != dims[3]) return true;
  constexpr int64_t kLargest = int64_t{1} << 20;
  for (int64_t d : dims) {
    if (d > kLargest) return false;
  }
  auto count = [&](size_t first) {
    return static_cast<uint64_t>(dims[first]) * static_cast<uint64_t>(dims[first + 1]) *
           static_cast<uint64_t>(dims[first + 2]);
  };
  return *size != kHeader + 4 * (count(0) + count(3));
}

// Files whose size alone shows that the runtime would end the whole process
// while loading them (it exits rather than report a load failure). Each rule
// only refuses files the runtime is certain to reject; anything it might
// accept goes on to the runtime.
bool certainly_unloadable(const runtime::TtsEngineSettings& settings) {
  if (const auto* k = std::get_if<runtime::KokoroFiles>(&settings.model)) {
    return not_whole_values(k->voices);
  }
  const auto& s = std::get<runtime::SupertonicFiles>(settings.model);
  return not_whole_values(s.unicode_indexer) || voice_style_inconsistent(s.voice_style);
}

}  // namespace

Result<runtime::OfflineTts> create_engine(std::string_view model_id, std::string_view model_dir,
                                          bool espeak_data_read) {
  auto settings = engine_settings(model_id, model_dir);
  if (!settings.ok()) return std::move(settings).error();
  const Error load_failure("Could not load the local speech model from " + std::string(model_dir));
  if (const auto* k = std::get_if<runtime::KokoroFiles>(&settings.value().model)) {
    if (!all_readable(model_dir, kKokoroFiles)) return load_failure;
    if (!espeak_data_read && !espeak_data_usable(k->data_dir)) return load_failure;
  } else if (!all_readable(model_dir, kSupertonicFiles)) {
    return load_failure;
  }
  if (certainly_unloadable(settings.value())) return load_failure;
  auto engine = runtime::OfflineTts::create(settings.value());
  if (!engine.ok()) return load_failure;
  return std::move(engine).value();
}

}  // namespace velmora_corvane_tts
