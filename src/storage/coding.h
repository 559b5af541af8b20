// Little-endian 32-bit integers, the one encoding of the packed store's numbers. The
// store, the packing tool and the tests read and write them through these, whatever
// the byte order of the machine.
#ifndef LUMORA_STORAGE_CODING_H_
#define LUMORA_STORAGE_CODING_H_

#include <cstdint>
#include <string>

namespace storage {

// Writes |value| into the four bytes at |out|.
inline void EncodeFixed32(char* out, std::uint32_t value) {
  out[0] = static_cast<char>(value & 0xff);
  out[1] = static_cast<char>((value >> 8) & 0xff);
  out[2] = static_cast<char>((value >> 16) & 0xff);
  out[3] = static_cast<char>((value >> 24) & 0xff);
}

// The value of the four bytes at |in|.
[[nodiscard]] inline std::uint32_t DecodeFixed32(const char* in) {
  const auto* b = reinterpret_cast<const unsigned char*>(in);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

// Appends the four bytes of |value| to |out|.
inline void PutFixed32(std::string* out, std::uint32_t value) {
  char bytes[4];
  EncodeFixed32(bytes, value);
  out->append(bytes, sizeof bytes);
}

}  // namespace storage

#endif  // LUMORA_STORAGE_CODING_H_
