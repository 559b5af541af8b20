// Minisign signature files, key files and trusted comments, and the release check built
// on them. The input is four parts separated by NUL bytes: a signature file, a key file
// (read as public keys and as a secret key), the signed manifest and the installed
// release record. A verdict of trust must agree with the parsers; a trusted comment that
// parses reads back the same once written again; a secret key that parses signs what
// its public half verifies, and a changed message then does not.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_files.h"
#include "update/installed_release.h"
#include "update/minisign.h"
#include "update/release_trust.h"

namespace {

namespace ms = update::minisign;

// The next part of |rest| up to a NUL (all of it when there is none).
std::string_view NextPart(std::string_view* rest) {
  const std::size_t end = rest->find('\0');
  const std::string_view part = rest->substr(0, end);
  rest->remove_prefix(end == std::string_view::npos ? rest->size() : end + 1);
  return part;
}

std::string Write(const char* name, std::string_view text) {
  return fuzz::WriteScratchFile(name, reinterpret_cast<const std::uint8_t*>(text.data()),
                                text.size());
}

// The release terms of |comment| read back after writing them in their own form.
void CheckTermsRoundTrip(std::string_view comment) {
  ms::ReleaseTerms terms;
  if (!ms::ParseReleaseTerms(comment, &terms).ok()) return;
  const std::string when = ms::FormatUtcTime(terms.expires);
  if (when.empty()) fuzz::Fail("an expiry time that cannot be written");
  ms::ReleaseTerms again;
  const std::string written =
      "release=" + std::to_string(terms.release) + " expires=" + std::string(when);
  if (!ms::ParseReleaseTerms(written, &again).ok() || again.release != terms.release ||
      again.expires != terms.expires)
    fuzz::Fail("release terms that do not read back: " + written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!ms::Ready()) fuzz::Fail("libsodium cannot be used");
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view signature_text = NextPart(&rest);
  const std::string_view key_text = NextPart(&rest);
  const std::string_view message = NextPart(&rest);
  const std::string_view installed_text = NextPart(&rest);

  ms::Signature signature;
  const bool signature_ok = ms::ParseSignature(signature_text, &signature).ok();
  if (signature_ok) {
    if (signature.trusted_comment.size() > ms::kMaxTrustedCommentBytes)
      fuzz::Fail("a trusted comment past its limit");
    if (signature.trusted_comment.find_first_of("\r\n") != std::string::npos)
      fuzz::Fail("a trusted comment of more than one line");
    CheckTermsRoundTrip(signature.trusted_comment);
  }
  CheckTermsRoundTrip(signature_text);
  std::time_t when = 0;
  // Only a crash or a sanitizer report counts.
  (void)ms::ParseUtcTime(signature_text, &when);

  std::vector<ms::PublicKey> keys;
  const bool keys_ok = ms::ParsePublicKeys(key_text, &keys).ok();
  if (keys_ok && keys.empty()) fuzz::Fail("a key file read with no key");
  std::vector<ms::PublicKey> read_keys;
  const bool read_ok = ms::ReadPublicKeys(Write("keys.pub", key_text), &read_keys).ok();
  if (read_ok != keys_ok || read_keys.size() != keys.size())
    fuzz::Fail("a key file read otherwise from its file than from its text");

  ms::Check check = ms::Check::kUnknownKey;
  if (signature_ok && keys_ok) {
    check = ms::Verify(signature, message, keys);
    bool known = false;
    for (const ms::PublicKey& key : keys) known = known || key.id == signature.key_id;
    if (!known && check != ms::Check::kUnknownKey) fuzz::Fail("verified by a key not given");
    if (check == ms::Check::kGood &&
        ms::Verify(signature, std::string(message) + "x", keys) == ms::Check::kGood)
      fuzz::Fail("a signature that holds for a changed message");
  }

  // The release check, on the same texts as files.
  const std::string manifest = Write("manifest.xml", message);
  const std::string signature_path = Write("manifest.xml.minisig", signature_text);
  const update::InstalledRelease installed(Write("installed-release.txt", installed_text));
  const std::time_t now = 1'800'000'000;  // a fixed time: the same input, the same verdict
  const update::ReleaseTrust trust(fuzz::ScratchFolder() + "/keys.pub");
  const update::ReleaseCheck verdict = trust.Check(manifest, signature_path, installed, now);
  // Every verdict has a text; only a crash counts.
  (void)update::VerdictText(verdict);
  if (verdict.verdict == update::Verdict::kTrusted) {
    ms::ReleaseTerms terms;
    std::uint64_t installed_release = 0;
    const base::Status had = installed.Read(&installed_release);
    if (check != ms::Check::kGood ||
        !ms::ParseReleaseTerms(signature.trusted_comment, &terms).ok() || now > terms.expires ||
        (had.ok() && terms.release < installed_release))
      fuzz::Fail("a release trusted that its signature, terms or record refuse");
  }

  // A secret key that parses signs what its public half verifies.
  ms::SecretKey secret;
  if (ms::ParseSecretKey(key_text, &secret).ok()) {
    ms::PublicKey public_key;
    public_key.id = secret.id;
    std::copy(secret.key.begin() + 32, secret.key.end(), public_key.key.begin());
    std::string made;
    if (!ms::Sign(secret, message, "release=1 expires=2030-01-01T00:00:00Z", &made).ok())
      fuzz::Fail("a parsed secret key that does not sign");
    ms::Signature own;
    if (!ms::ParseSignature(made, &own).ok()) fuzz::Fail("a signature made that does not parse");
    if (ms::Verify(own, message, {public_key}) != ms::Check::kGood)
      fuzz::Fail("a signature made that its key does not verify");
    if (ms::Verify(own, std::string(message) + "x", {public_key}) == ms::Check::kGood)
      fuzz::Fail("a signature made that holds for a changed message");
  }
  return 0;
}
