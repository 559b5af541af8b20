// Whether a fetched manifest is a release this program may install. A program with
// release-keys.pub beside it (one or more minisign public keys, for rotation) installs
// only a manifest signed by one of them, whose trusted comment names its release
// ("release=N") and an expiry time ("expires=YYYY-MM-DDTHH:MM:SSZ"): a release older
// than the installed one (a replay) or past its expiry (a freeze) is refused. A
// program without the file installs what it fetches unverified.
#ifndef LUMORA_UPDATE_RELEASE_TRUST_H_
#define LUMORA_UPDATE_RELEASE_TRUST_H_

#include <cstdint>
#include <ctime>
#include <string>

#include "update/installed_release.h"
#include "update/minisign.h"

namespace update {

enum class Verdict {
  kTrusted,
  kNoKeys,        // release-keys.pub is there but holds no readable key
  kUnsigned,      // no signature could be fetched
  kBadSignature,  // the signature file is not one
  kUnknownKey,    // signed by a key that is not trusted
  kAltered,       // the manifest or the trusted comment changed after signing
  kNoTerms,       // the trusted comment names no release number or expiry time
  kNoInstalled,   // the record of the installed release cannot be read
  kReplay,        // older than the installed release
  kExpired,       // past its expiry time
};

struct ReleaseCheck {
  Verdict verdict = Verdict::kUnsigned;
  minisign::ReleaseTerms terms;  // read from the trusted comment when it was verified
  std::uint64_t installed = 0;   // the installed release, for a replay
};

class ReleaseTrust {
 public:
  static constexpr const char* kKeyFileName = "release-keys.pub";

  // |keys_path|: the key file beside the program (core path).
  explicit ReleaseTrust(std::string keys_path) : keys_path_(std::move(keys_path)) {}

  // True when the key file is there: manifests must then be signed.
  bool Enabled() const;

  // Checks the manifest at |manifest_path| against the signature at |signature_path|
  // (core paths; an empty signature path: none was fetched) at the time |now|.
  ReleaseCheck Check(const std::string& manifest_path, const std::string& signature_path,
                     const InstalledRelease& installed, std::time_t now) const;

 private:
  std::string keys_path_;
};

// Why a manifest was refused, as the update log says it (UTF-8).
std::string VerdictText(const ReleaseCheck& check);

}  // namespace update

#endif  // LUMORA_UPDATE_RELEASE_TRUST_H_
