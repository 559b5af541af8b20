#include "update/release_trust.h"

#include <vector>

#include "base/ansi.h"
#include "base/files.h"
#include "update/update_files.h"

namespace update {
bool ReleaseTrust::Enabled() const { return base::PathExists(ansi::NativePath(keys_path_)); }

ReleaseCheck ReleaseTrust::Check(const std::string& manifest_path,
                                 const std::string& signature_path,
                                 const InstalledRelease& installed, std::time_t now) const {
  ReleaseCheck check;
  std::vector<minisign::PublicKey> keys;
  if (!minisign::ReadPublicKeys(ansi::NativePath(keys_path_), &keys).ok()) {
    check.verdict = Verdict::kNoKeys;
    return check;
  }
  std::string text;
  if (signature_path.empty() ||
      !base::ReadRegularFile(ansi::NativePath(signature_path), minisign::kMaxSignatureFileBytes,
                             &text)
           .ok() ||
      text.empty()) {
    check.verdict = Verdict::kUnsigned;
    return check;
  }
  minisign::Signature signature;
  if (!minisign::ParseSignature(text, &signature).ok()) {
    check.verdict = Verdict::kBadSignature;
    return check;
  }
  std::string manifest;
  if (!base::ReadRegularFile(ansi::NativePath(manifest_path), CUpdateFiles::kMaxFileBytes,
                             &manifest)
           .ok()) {
    check.verdict = Verdict::kAltered;
    return check;
  }
  switch (minisign::Verify(signature, manifest, keys)) {
    case minisign::Check::kGood:
      break;
    case minisign::Check::kUnknownKey:
      check.verdict = Verdict::kUnknownKey;
      return check;
    case minisign::Check::kBadSignature:
      check.verdict = Verdict::kAltered;
      return check;
  }
  // Only now is the comment known to be the publisher's.
  if (!minisign::ParseReleaseTerms(signature.trusted_comment, &check.terms).ok()) {
    check.verdict = Verdict::kNoTerms;
    return check;
  }
  if (base::Status read = installed.Read(&check.installed); !read.ok()) {
    // The first signed release of this data folder has nothing to be older than.
    if (!read.IsNotFound()) {
      check.verdict = Verdict::kNoInstalled;
      return check;
    }
  } else if (check.terms.release < check.installed) {
    check.verdict = Verdict::kReplay;
    return check;
  }
  if (now > check.terms.expires) {
    check.verdict = Verdict::kExpired;
    return check;
  }
  check.verdict = Verdict::kTrusted;
  return check;
}

std::string VerdictText(const ReleaseCheck& check) {
  switch (check.verdict) {
    case Verdict::kTrusted:
      return "签名有效";
    case Verdict::kNoKeys:
      return "发布密钥文件无法读取";
    case Verdict::kUnsigned:
      return "没有签名";
    case Verdict::kBadSignature:
      return "签名文件格式无效";
    case Verdict::kUnknownKey:
      return "签名密钥不受信任";
    case Verdict::kAltered:
      return "签名不符，文件已被改动";
    case Verdict::kNoTerms:
      return "签名未注明版本号和有效期";
    case Verdict::kNoInstalled:
      return "已安装版本记录无法读取";
    case Verdict::kReplay:
      return "版本 " + std::to_string(check.terms.release) + " 早于已安装的版本 " +
             std::to_string(check.installed);
    case Verdict::kExpired:
      return "已于 " + minisign::FormatUtcTime(check.terms.expires) + " 过期";
  }
  return "没有签名";
}

}  // namespace update
