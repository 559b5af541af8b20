#include "account/md5.h"

#include <algorithm>
#include <cstring>

namespace account {
namespace {

constexpr std::uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// The left rotations of each round's four steps.
constexpr int kShifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

void Md5::Transform(const std::uint8_t block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i)
    x[i] = static_cast<std::uint32_t>(block[i * 4]) |
           static_cast<std::uint32_t>(block[i * 4 + 1]) << 8 |
           static_cast<std::uint32_t>(block[i * 4 + 2]) << 16 |
           static_cast<std::uint32_t>(block[i * 4 + 3]) << 24;
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int step = 0; step < 64; ++step) {
    const int round = step / 16;
    std::uint32_t f;
    int word;
    switch (round) {
      case 0:
        f = (b & c) | (~b & d);
        word = step;
        break;
      case 1:
        f = (d & b) | (~d & c);
        word = (5 * step + 1) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        word = (3 * step + 5) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        word = (7 * step) % 16;
        break;
    }
    const std::uint32_t rotated =
        RotateLeft(a + f + kSines[step] + x[word], kShifts[round][step % 4]);
    a = d;
    d = c;
    c = b;
    b += rotated;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md5::Update(std::string_view bytes) {
  std::size_t used = static_cast<std::size_t>((bit_count_ / 8) % 64);
  bit_count_ += static_cast<std::uint64_t>(bytes.size()) * 8;
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  std::size_t left = bytes.size();
  if (used > 0) {
    const std::size_t take = std::min(left, 64 - used);
    std::memcpy(buffer_ + used, p, take);
    used += take;
    p += take;
    left -= take;
    if (used < 64) return;
    Transform(buffer_);
  }
  for (; left >= 64; p += 64, left -= 64) Transform(p);
  std::memcpy(buffer_, p, left);
}

std::array<std::uint8_t, 16> Md5::Finish() {
  // Pad with one bit and zeros to 56 bytes of the last block, then the length in bits.
  std::uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(bit_count_ >> (8 * i));
  const std::size_t used = static_cast<std::size_t>((bit_count_ / 8) % 64);
  static const std::uint8_t kPadding[64] = {0x80};
  Update(std::string_view(reinterpret_cast<const char*>(kPadding),
                          used < 56 ? 56 - used : 120 - used));
  Update(std::string_view(reinterpret_cast<const char*>(length), 8));
  std::array<std::uint8_t, 16> digest;
  for (int i = 0; i < 16; ++i)
    digest[i] = static_cast<std::uint8_t>(state_[i / 4] >> (8 * (i % 4)));
  return digest;
}

std::string Md5Hex(std::string_view bytes) {
  Md5 md5;
  md5.Update(bytes);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::uint8_t byte : md5.Finish()) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

const char* MD5String(const char* text) {
  static char result[33];
  const std::string hex = Md5Hex(text == nullptr ? "" : text);
  std::memcpy(result, hex.c_str(), sizeof result);
  return result;
}

}  // namespace account
