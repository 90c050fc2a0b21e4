// A real streaming model on synthetic speech: stream mode and the smoke test
// must both recognise it, and agree.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <iostream>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/stream_test_util.h"
#include "support/child_process.h"

namespace velmora_corvane_tts::testing {
namespace {

namespace fs = std::filesystem;

const char* const kSentences[] = {
    "please turn on the lights in the kitchen",
    "how many people live in the city of london",
    "the meeting has been moved to next thursday afternoon",
    "call my mother and tell her i will be late",
};

std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) {
    std::transform(w.begin(), w.end(), w.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    words.push_back(w);
  }
  return words;
}

// Word-level edit distance.
size_t word_errors(const std::vector<std::string>& ref, const std::vector<std::string>& hyp) {
  std::vector<size_t> row(hyp.size() + 1);
  for (size_t j = 0; j <= hyp.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= ref.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= hyp.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (ref[i - 1] == hyp[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[hyp.size()];
}

// The samples of a 16-bit mono PCM WAV file as little-endian floats, scaled
// the way the runtime's WAV reader scales them (divided by 32768).
std::string wav_to_raw_f32(const std::string& wav) {
  std::string raw;
  size_t at = 12;
  while (at + 8 <= wav.size()) {
    uint32_t size = decode_fixed32(wav.data() + at + 4);
    if (wav.compare(at, 4, "data") == 0) {
      for (size_t i = at + 8; i + 1 < at + 8 + size && i + 1 < wav.size(); i += 2) {
        auto v = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint8_t>(wav[i]) |
                                                            static_cast<uint8_t>(wav[i + 1]) << 8));
        float f = static_cast<float>(v) / 32768.0f;
        char bytes[4];
        std::memcpy(bytes, &f, 4);
        raw.append(bytes, 4);
      }
      break;
    }
    at += 8 + size + (size & 1);
  }
  return raw;
}

TEST(RealModel, StreamAndSmokeModesRecogniseSynthesisedSpeechAlike) {
  const fs::path model = real_model_dir();
  if (!fs::exists(model / "encoder.int8.onnx")) {
    GTEST_SKIP() << "the real streaming model is not beside the source tree";
  }
  if (!can_speak()) GTEST_SKIP() << "espeak-ng and sox are needed to synthesise the test speech";
  TempDir scratch;
  std::vector<std::string> wavs;
  for (size_t i = 0; i < std::size(kSentences); ++i) {
    std::string wav = scratch.path() + "/s" + std::to_string(i) + ".wav";
    speak(kSentences[i], wav);
    wavs.push_back(wav);
  }

  // Stream mode: one recogniser for all recordings, 100 ms per Audio request.
  std::string input;
  for (uint64_t id = 0; id < wavs.size(); ++id) {
    input += open_frame(id, model.string(), "kws-zipformer") +
             audio_frames(id, wav_to_raw_f32(read_file(wavs[id]))) + finish_frame(id);
  }
  ChildResult served = run_child({helper_path(), "--stream-stt"}, input);
  ASSERT_EQ(served.exit_code, 0) << served.err;
  std::vector<std::string> stream_finals;
  for (const Reply& r : parse_replies(served.out)) {
    ASSERT_NE(r.tag, 3) << r.payload;
    if (r.tag == 2) stream_finals.push_back(r.payload);
  }
  ASSERT_EQ(stream_finals.size(), wavs.size());

  size_t errors = 0;
  size_t words = 0;
  for (size_t i = 0; i < wavs.size(); ++i) {
    ChildResult smoked = run_child({helper_path(), "--stream-stt-smoke", model.string(), wavs[i]}, "");
    const std::string marker = "STREAM-STT-SMOKE: decode_ms=";
    size_t line = smoked.out.rfind(marker);
    ASSERT_NE(line, std::string::npos) << smoked.out << smoked.err;
    size_t final_at = smoked.out.find(" final=", line);
    ASSERT_NE(final_at, std::string::npos);
    std::string smoke_final = smoked.out.substr(final_at + 7);
    ASSERT_TRUE(smoke_final.ends_with("\n"));
    smoke_final.pop_back();
    EXPECT_EQ(smoke_final, stream_finals[i]) << kSentences[i];
    EXPECT_EQ(smoked.exit_code, smoke_final.empty() ? 1 : 0);

    std::vector<std::string> ref = words_of(kSentences[i]);
    size_t e = word_errors(ref, words_of(stream_finals[i]));
    std::cout << "[ real model ] " << kSentences[i] << " -> " << stream_finals[i] << " (" << e
              << "/" << ref.size() << ")\n";
    errors += e;
    words += ref.size();
  }
  double wer = static_cast<double>(errors) / static_cast<double>(words);
  std::cout << "[ real model ] WER " << errors << "/" << words << " = " << wer << "\n";
  EXPECT_LE(wer, 0.7);
}

}  // namespace
}  // namespace velmora_corvane_tts::testing
