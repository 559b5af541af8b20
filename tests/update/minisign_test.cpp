// Minisign signatures made by the real minisign tool, checked in process: both of its
// forms, keys of other signers, broken files and the release terms of the comment.
#include "update/minisign.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "../support/temp_dir.h"
#include "update/installed_release.h"
#include "update/release_trust.h"

namespace {

using update::minisign::Check;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class MinisignTest : public ::testing::Test {
 protected:
  MinisignTest() {
    dir_.Write("manifest.xml", "<xmlRoot/>\n");
    for (const char* name : {"a", "b"})
      Shell("minisign -G -W -p " + dir_ / (std::string(name) + ".pub") + " -s " +
            dir_ / (std::string(name) + ".sec") + " >/dev/null");
  }
  static void Shell(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  // The signature file minisign makes of the manifest with key |name|.
  std::string SignedBy(const std::string& name, const std::string& comment, bool legacy = false) {
    const std::string out = dir_ / (name + (legacy ? ".legacy" : ".sig"));
    Shell("minisign -S " + std::string(legacy ? "-l " : "") + "-s " + dir_ / (name + ".sec") +
          " -m " + dir_ / "manifest.xml" + " -x " + out + " -t '" + comment + "' >/dev/null");
    return ReadText(out);
  }
  std::vector<update::minisign::PublicKey> Keys(const std::string& name) {
    std::vector<update::minisign::PublicKey> keys;
    EXPECT_TRUE(update::minisign::ReadPublicKeys(dir_ / (name + ".pub"), &keys).ok());
    return keys;
  }
  Check VerifyText(const std::string& signature_text, const std::string& message,
                   const std::vector<update::minisign::PublicKey>& keys) {
    update::minisign::Signature signature;
    EXPECT_TRUE(update::minisign::ParseSignature(signature_text, &signature).ok());
    return update::minisign::Verify(signature, message, keys);
  }
  TempDir dir_;
};

TEST_F(MinisignTest, BothFormsVerifyAndAChangedFileOrCommentDoesNot) {
  const std::string manifest = ReadText(dir_ / "manifest.xml");
  for (bool legacy : {false, true}) {
    const std::string text = SignedBy("a", "release=3 expires=2030-01-01T00:00:00Z", legacy);
    update::minisign::Signature signature;
    ASSERT_TRUE(update::minisign::ParseSignature(text, &signature).ok());
    EXPECT_EQ(signature.prehashed, !legacy);
    EXPECT_EQ(signature.trusted_comment, "release=3 expires=2030-01-01T00:00:00Z");
    EXPECT_EQ(update::minisign::Verify(signature, manifest, Keys("a")), Check::kGood);
    EXPECT_EQ(update::minisign::Verify(signature, manifest + " ", Keys("a")), Check::kBadSignature);
    signature.trusted_comment = "release=9 expires=2030-01-01T00:00:00Z";
    EXPECT_EQ(update::minisign::Verify(signature, manifest, Keys("a")), Check::kBadSignature);
  }
  // A key of another signer has another id; with both keys trusted (a rotation) it holds.
  const std::string by_b = SignedBy("b", "release=3 expires=2030-01-01T00:00:00Z");
  EXPECT_EQ(VerifyText(by_b, manifest, Keys("a")), Check::kUnknownKey);
  std::vector<update::minisign::PublicKey> both;
  ASSERT_TRUE(
      update::minisign::ParsePublicKeys(ReadText(dir_ / "a.pub") + ReadText(dir_ / "b.pub"), &both)
          .ok());
  EXPECT_EQ(both.size(), 2u);
  EXPECT_EQ(VerifyText(by_b, manifest, both), Check::kGood);
  // Same id, another key: not the signer's.
  std::vector<update::minisign::PublicKey> forged = Keys("b");
  forged[0].key = Keys("a")[0].key;
  EXPECT_EQ(VerifyText(by_b, manifest, forged), Check::kBadSignature);
}

TEST_F(MinisignTest, BrokenFilesAreRefused) {
  const std::string good = SignedBy("a", "release=1 expires=2030-01-01T00:00:00Z");
  update::minisign::Signature signature;
  const std::size_t line2 = good.find('\n') + 1;
  for (const std::string& bad :
       {std::string(), good.substr(0, good.find("trusted comment")),
        good.substr(0, line2) + "!!" + good.substr(line2 + 2),    // not base64
        good.substr(0, line2) + good.substr(line2 + 4),           // too short
        good.substr(0, line2) + "AAAA" + good.substr(line2 + 4),  // no algorithm
        good + "one more line\n", std::string(100000, 'A')})
    EXPECT_FALSE(update::minisign::ParseSignature(bad, &signature).ok()) << bad;
  std::vector<update::minisign::PublicKey> keys;
  EXPECT_FALSE(update::minisign::ParsePublicKeys("untrusted comment: x\n", &keys).ok());
  EXPECT_FALSE(update::minisign::ParsePublicKeys("untrusted comment: x\nRWQ=\n", &keys).ok());
  EXPECT_FALSE(update::minisign::ParsePublicKey(good.substr(line2, good.find('\n', line2) - line2),
                                                &keys.emplace_back())
                   .ok());
  update::minisign::SecretKey secret;
  EXPECT_TRUE(update::minisign::ParseSecretKey(ReadText(dir_ / "a.sec"), &secret).ok());
  std::string altered = ReadText(dir_ / "a.sec");
  altered[altered.find('\n') + 100] ^= 1;
  EXPECT_FALSE(update::minisign::ParseSecretKey(altered, &secret).ok());
}

TEST(ReleaseTermsTest, TheCommentNamesARelaseAndAnExpiryInUtc) {
  update::minisign::ReleaseTerms terms;
  ASSERT_TRUE(update::minisign::ParseReleaseTerms(
                  "timestamp:1 release=12 file:m.xml expires=1970-01-02T00:00:01Z", &terms)
                  .ok());
  EXPECT_EQ(terms.release, 12u);
  EXPECT_EQ(terms.expires, 86401);
  for (const char* bad :
       {"release=1", "expires=2030-01-01T00:00:00Z",
        "release=1 release=2 expires=2030-01-01T00:00:00Z",
        "release=x expires=2030-01-01T00:00:00Z",
        "release=99999999999999999999 expires=2030-01-01T00:00:00Z",
        "release=1 expires=2030-02-30T00:00:00Z", "release=1 expires=2030-01-01 00:00:00Z",
        "release=1 expires=2030-01-01T00:00:00+01:00", "release= expires=2030-01-01T00:00:00Z"})
    EXPECT_FALSE(update::minisign::ParseReleaseTerms(bad, &terms).ok()) << bad;
  // An expiry is written back in the form it is read in, early years too (found by
  // fuzzing: year 0320 came back as "320-...").
  for (const char* when :
       {"0320-01-01T00:00:00Z", "1970-01-02T00:00:01Z", "2031-02-03T04:05:06Z"}) {
    std::time_t time = 0;
    ASSERT_TRUE(update::minisign::ParseUtcTime(when, &time)) << when;
    EXPECT_EQ(update::minisign::FormatUtcTime(time), when);
  }
}

TEST(InstalledReleaseTest, WrittenWholeAndReadBack) {
  TempDir dir;
  update::InstalledRelease release(dir / "data/installed-release.txt");
  std::uint64_t n = 0;
  EXPECT_TRUE(release.Read(&n).IsNotFound());
  ASSERT_TRUE(release.Write(41).ok());
  ASSERT_TRUE(release.Read(&n).ok());
  EXPECT_EQ(n, 41u);
  dir.Write("data/installed-release.txt", "4x\n");
  EXPECT_FALSE(release.Read(&n).ok());
}

}  // namespace
