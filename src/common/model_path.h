// Model directories: how file names are joined onto them, and when two
// spellings name the same directory for the purpose of reusing a loaded model.
#ifndef VELMORA_CORVANE_TTS_COMMON_MODEL_PATH_H_
#define VELMORA_CORVANE_TTS_COMMON_MODEL_PATH_H_

#include <string>
#include <string_view>

namespace velmora_corvane_tts {

// `dir`, then "/" unless `dir` is empty or already ends with "/", then `file`.
// An empty directory yields the bare file name.
std::string join_model_path(std::string_view dir, std::string_view file);

// Component-wise equality without file-system access: repeated and trailing
// "/" and inner "." pieces are ignored, a leading "/" is a root component, a
// leading "." of a relative text is kept, ".." is compared like any name.
// So "models/en" == "models//en" == "models/./en" == "models/en/", while
// "./models/en" != "models/en" and "/m/a/../k" != "/m/k".
bool same_model_dir(std::string_view a, std::string_view b);

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_COMMON_MODEL_PATH_H_
