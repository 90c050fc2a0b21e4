// Fixed-width little-endian integers, the byte order of both wire formats,
// of WAV headers and of the model files the helper checks. Every place that
// writes or reads such an integer goes through here.
//
// encode_fixedN writes N/8 bytes at `dst`; decode_fixedN reads them at
// `src`. Both take raw byte pointers (char or unsigned char); the caller
// guarantees the bytes are there. put_fixedN appends to a string.
#ifndef VELMORA_CORVANE_TTS_COMMON_CODING_H_
#define VELMORA_CORVANE_TTS_COMMON_CODING_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora_corvane_tts {

template <typename Int, typename Byte>
inline void encode_fixed(Byte* dst, Int value) {
  static_assert(sizeof(Byte) == 1);
  for (size_t i = 0; i < sizeof(Int); ++i) {
    dst[i] = static_cast<Byte>(static_cast<uint8_t>(value >> (8 * i)));
  }
}

template <typename Int, typename Byte>
inline Int decode_fixed(const Byte* src) {
  static_assert(sizeof(Byte) == 1);
  uint64_t value = 0;
  for (size_t i = 0; i < sizeof(Int); ++i) {
    value |= static_cast<uint64_t>(static_cast<uint8_t>(src[i])) << (8 * i);
  }
  return static_cast<Int>(value);
}

template <typename Byte>
inline void encode_fixed16(Byte* dst, uint16_t value) { encode_fixed<uint16_t>(dst, value); }
template <typename Byte>
inline void encode_fixed32(Byte* dst, uint32_t value) { encode_fixed<uint32_t>(dst, value); }
template <typename Byte>
inline void encode_fixed64(Byte* dst, uint64_t value) { encode_fixed<uint64_t>(dst, value); }

template <typename Byte>
inline uint16_t decode_fixed16(const Byte* src) { return decode_fixed<uint16_t>(src); }
template <typename Byte>
inline uint32_t decode_fixed32(const Byte* src) { return decode_fixed<uint32_t>(src); }
template <typename Byte>
inline uint64_t decode_fixed64(const Byte* src) { return decode_fixed<uint64_t>(src); }

inline void put_fixed32(std::string& dst, uint32_t value) {
  char bytes[4];
  encode_fixed32(bytes, value);
  dst.append(bytes, sizeof bytes);
}

inline void put_fixed64(std::string& dst, uint64_t value) {
  char bytes[8];
  encode_fixed64(bytes, value);
  dst.append(bytes, sizeof bytes);
}

}  // namespace velmora_corvane_tts

#endif  // VELMORA_CORVANE_TTS_COMMON_CODING_H_
