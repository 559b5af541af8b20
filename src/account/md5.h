// The MD5 message digest (RFC 1321), written out as hexadecimal text. The account's
// web requests carry digests: the salted password at sign-in and the user id when the
// purchased list is fetched.
#ifndef LUMORA_ACCOUNT_MD5_H_
#define LUMORA_ACCOUNT_MD5_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace account {

// An MD5 computation over bytes given in any number of pieces.
class Md5 {
 public:
  Md5();
  void Update(std::string_view bytes);
  // The 16 bytes of the digest; the object is spent afterwards.
  std::array<std::uint8_t, 16> Finish();

 private:
  void Transform(const std::uint8_t block[64]);

  std::uint32_t state_[4];
  std::uint64_t bit_count_ = 0;
  std::uint8_t buffer_[64];
};

// The digest of |bytes| as 32 lower-case hexadecimal digits.
std::string Md5Hex(std::string_view bytes);

// The digest of the zero-terminated |text|, its bytes exactly as they stand (the code
// page), as 32 lower-case hexadecimal digits in one buffer of this module's: every call
// overwrites it, so a caller that needs a result after the next call copies it first.
// Main thread only.
const char* MD5String(const char* text);

}  // namespace account

#endif  // LUMORA_ACCOUNT_MD5_H_
