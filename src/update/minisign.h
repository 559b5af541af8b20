// Minisign signatures (Ed25519), as the minisign tool makes and checks them.
//
// A public key file holds an "untrusted comment:" line and the key line: base64 of
// "Ed", the 8-byte key id and the 32-byte public key. A signature file holds four
// lines: "untrusted comment: ...", base64 of the algorithm ("ED": the signature is of
// the BLAKE2b-512 digest of the file, minisign's default; "Ed": of the file itself),
// the key id and the 64-byte signature; "trusted comment: TEXT"; and base64 of the
// global signature, made by the same key over the signature's 64 bytes followed by
// TEXT. Both signatures must hold.
//
// Every input here is hostile: sizes are bounded, base64 is decoded strictly (no
// padding errors, no trailing bytes), and nothing is trusted before it is verified.
#ifndef LUMORA_UPDATE_MINISIGN_H_
#define LUMORA_UPDATE_MINISIGN_H_

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace update::minisign {

using KeyId = std::array<std::uint8_t, 8>;

struct PublicKey {
  KeyId id{};
  std::array<std::uint8_t, 32> key{};
};

struct Signature {
  bool prehashed = false;  // "ED": of the file's BLAKE2b-512 digest
  KeyId key_id{};
  std::array<std::uint8_t, 64> signature{};
  std::string trusted_comment;  // the text after "trusted comment: "
  std::array<std::uint8_t, 64> global_signature{};
};

// The secret half of a key pair: the key id and the 64-byte Ed25519 secret key (whose
// last 32 bytes are the public key).
struct SecretKey {
  KeyId id{};
  std::array<std::uint8_t, 64> key{};
};

// Larger key or signature files are never read.
inline constexpr std::size_t kMaxKeyFileBytes = 64 * 1024;
inline constexpr std::size_t kMaxSignatureFileBytes = 64 * 1024;
// A trusted comment longer than this is refused (minisign's own limit is 1024).
inline constexpr std::size_t kMaxTrustedCommentBytes = 1024;

// Starts libsodium once; false when it cannot be used.
[[nodiscard]] bool Ready();

// One key line (base64). Invalid when it is not a minisign Ed25519 public key.
base::Status ParsePublicKey(std::string_view line, PublicKey* key);

// Every key of a key file's text: each line that is not empty and not an
// "untrusted comment:" line must be a key line. Invalid on the first that is not, or
// when the text holds no key.
base::Status ParsePublicKeys(std::string_view text, std::vector<PublicKey>* keys);

// The keys of the key file at |path| (UTF-8), read as a regular file of at most
// kMaxKeyFileBytes.
base::Status ReadPublicKeys(const std::string& path, std::vector<PublicKey>* keys);

// A signature file's text. Invalid when it is not in the form above.
base::Status ParseSignature(std::string_view text, Signature* signature);

enum class Check {
  kGood,
  kUnknownKey,    // made by a key that is not among the trusted ones
  kBadSignature,  // the key is trusted, but the file or the trusted comment was changed
};

// Checks |signature| of |message| (the signed file's bytes) against |keys|.
Check Verify(const Signature& signature, std::string_view message,
             const std::vector<PublicKey>& keys);

// What a release's trusted comment says: "release=N expires=YYYY-MM-DDTHH:MM:SSZ"
// (UTC), words separated by blanks, other words ignored.
struct ReleaseTerms {
  std::uint64_t release = 0;
  std::time_t expires = 0;
};
// Invalid when either is missing, given twice or not in its form.
base::Status ParseReleaseTerms(std::string_view comment, ReleaseTerms* terms);
// |time| as the trusted comment writes it; false when it is not in the form.
[[nodiscard]] bool ParseUtcTime(std::string_view text, std::time_t* time);
// A release number: 1 to 19 decimal digits and nothing else; false otherwise.
[[nodiscard]] bool ParseDecimal(std::string_view text, std::uint64_t* value);
// |time| in the form ParseUtcTime reads, the year always in four digits (0320, not
// 320); empty for a time whose year has more than four.
std::string FormatUtcTime(std::time_t time);

// A secret key file as `minisign -G -W` writes it (not encrypted). An encrypted one is
// refused with a message that says so.
base::Status ParseSecretKey(std::string_view text, SecretKey* key);

// A signature file's text for |message|, prehashed ("ED"), with |trusted_comment|
// (one line of at most kMaxTrustedCommentBytes).
base::Status Sign(const SecretKey& key, std::string_view message, std::string_view trusted_comment,
                  std::string* signature_file);

// A new key pair, as the texts of its public and (unencrypted) secret key files.
base::Status GenerateKeyPair(std::string* public_file, std::string* secret_file);

}  // namespace update::minisign

#endif  // LUMORA_UPDATE_MINISIGN_H_
