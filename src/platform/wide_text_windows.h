// UTF-8 <-> UTF-16 for the Windows implementation files of the platform
// layer: the rest of the program speaks UTF-8, the system's wide functions
// UTF-16. Windows only.
#ifndef VELMORA_CORVANE_TTS_PLATFORM_WIDE_TEXT_WINDOWS_H_
#define VELMORA_CORVANE_TTS_PLATFORM_WIDE_TEXT_WINDOWS_H_

#include <string>
#include <string_view>

namespace velmora_corvane_tts::platform {

// UTF-16 for `utf8` in `out`; false when it holds a NUL character or is not
// valid UTF-8 (such a path or argument cannot be passed on).
bool to_wide(std::string_view utf8, std::wstring& out);

// UTF-8 for `wide` (unpaired surrogates become U+FFFD).
std::string to_utf8(std::wstring_view wide);

}  // namespace velmora_corvane_tts::platform

#endif  // VELMORA_CORVANE_TTS_PLATFORM_WIDE_TEXT_WINDOWS_H_
