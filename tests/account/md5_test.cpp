// The program's own MD5 against the test suite of RFC 1321 and against GLib's.
#include "account/md5.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <random>

namespace account {

namespace {

TEST(Md5Test, TheSuiteOfRfc1321) {
  const std::pair<const char*, const char*> kSuite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [text, digest] : kSuite) EXPECT_STREQ(MD5String(text), digest) << text;
}

TEST(Md5Test, RandomInputsAgreeWithGlib) {
  std::mt19937 random(20261207);
  // Every length around the block and padding boundaries, then longer ones.
  for (std::size_t length = 0; length < 300; length += length < 140 ? 1 : 37) {
    std::string bytes(length, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    gchar* expected = g_compute_checksum_for_data(
        G_CHECKSUM_MD5, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    EXPECT_EQ(account::Md5Hex(bytes), expected) << "length " << length;
    g_free(expected);
  }
  // Given in pieces, the digest is the same as given whole.
  std::string text(1000, 'x');
  for (char& c : text) c = static_cast<char>(random());
  account::Md5 pieces;
  for (std::size_t at = 0; at < text.size(); at += 7) pieces.Update(text.substr(at, 7));
  account::Md5 whole;
  whole.Update(text);
  EXPECT_EQ(pieces.Finish(), whole.Finish());
}

TEST(Md5Test, CodePageBytesAndTheSharedResult) {
  // 中文 in the code page (D6 D0 CE C4), digested byte for byte: not its UTF-8 form.
  const char* gb = "\xD6\xD0\xCE\xC4";
  const std::string digest = MD5String(gb);
  EXPECT_EQ(digest, account::Md5Hex("\xD6\xD0\xCE\xC4"));
  EXPECT_NE(digest, account::Md5Hex("中文"));
  EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(digest.size(), 32u);
  // One buffer: the second call's digest replaces the first.
  const char* first = MD5String("a");
  const char* second = MD5String("abc");
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace

}  // namespace account
