#include "update/minisign.h"

#include <sodium.h>

#include <cstdio>
#include <cstring>

#include "base/files.h"

namespace update::minisign {
namespace {

using base::Status;

constexpr std::string_view kUntrusted = "untrusted comment:";
constexpr std::string_view kTrusted = "trusted comment: ";
constexpr std::size_t kSignatureBytes = 2 + 8 + 64;
constexpr std::size_t kPublicKeyBytes = 2 + 8 + 32;
// Algorithms (2), key derivation (2), checksum (2), salt (32), limits (8 + 8), then the
// key id (8), the secret key (64) and its checksum (32).
constexpr std::size_t kSecretKeyBytes = 2 + 2 + 2 + 32 + 8 + 8 + 8 + 64 + 32;
// minisign's defaults for the key derivation of an encrypted key; written as they are.
constexpr std::uint64_t kOpsLimit = 33554432;
constexpr std::uint64_t kMemLimit = 1073741824;

// Strict base64 of exactly |size| bytes.
bool Decode(std::string_view text, std::uint8_t* out, std::size_t size) {
  if (text.empty() || text.size() > 4 * ((size + 2) / 3)) return false;
  std::size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(out, size, text.data(), text.size(), nullptr, &length, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0)
    return false;
  return length == size && end == text.data() + text.size();
}

std::string Encode(const std::uint8_t* data, std::size_t size) {
  std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
  text.resize(std::strlen(text.c_str()));
  return text;
}

// The lines of |text| ("\n" or "\r\n" each), at most |max| of them; false when more.
bool SplitLines(std::string_view text, std::size_t max, std::vector<std::string_view>* lines) {
  lines->clear();
  while (!text.empty()) {
    if (lines->size() == max) return false;
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines->push_back(line);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return true;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool HasControl(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7f) return true;
  return false;
}

void StoreLe64(std::uint8_t* out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// BLAKE2b-256 of the algorithm, key id and secret key: the secret key file's checksum.
void SecretChecksum(const std::uint8_t* algorithm, const SecretKey& key, std::uint8_t out[32]) {
  crypto_generichash_state state;
  crypto_generichash_init(&state, nullptr, 0, 32);
  crypto_generichash_update(&state, algorithm, 2);
  crypto_generichash_update(&state, key.id.data(), key.id.size());
  crypto_generichash_update(&state, key.key.data(), key.key.size());
  crypto_generichash_final(&state, out, 32);
}

}  // namespace

bool ParseDecimal(std::string_view text, std::uint64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  std::uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  *value = n;
  return true;
}

bool Ready() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

Status ParsePublicKey(std::string_view line, PublicKey* key) {
  std::uint8_t raw[kPublicKeyBytes];
  if (!Ready() || !Decode(line, raw, sizeof raw) || raw[0] != 'E' || raw[1] != 'd')
    return Status::Invalid("not a minisign public key");
  std::memcpy(key->id.data(), raw + 2, 8);
  std::memcpy(key->key.data(), raw + 10, 32);
  return Status();
}

Status ParsePublicKeys(std::string_view text, std::vector<PublicKey>* keys) {
  keys->clear();
  std::vector<std::string_view> lines;
  if (!SplitLines(text, kMaxKeyFileBytes, &lines)) return Status::Invalid("too many lines");
  for (std::string_view line : lines) {
    if (line.empty() || StartsWith(line, kUntrusted)) continue;
    PublicKey key;
    if (Status parsed = ParsePublicKey(line, &key); !parsed.ok()) return parsed;
    keys->push_back(key);
  }
  if (keys->empty()) return Status::Invalid("no public key");
  return Status();
}

Status ReadPublicKeys(const std::string& path, std::vector<PublicKey>* keys) {
  keys->clear();
  std::string text;
  if (Status read = base::ReadRegularFile(path, kMaxKeyFileBytes, &text); !read.ok()) return read;
  return ParsePublicKeys(text, keys);
}

Status ParseSignature(std::string_view text, Signature* signature) {
  std::vector<std::string_view> lines;
  if (text.size() > kMaxSignatureFileBytes || !SplitLines(text, 5, &lines))
    return Status::Invalid("signature file too large");
  // A last empty line is the newline that ends the file.
  if (lines.size() == 5 && !lines[4].empty()) return Status::Invalid("signature: extra lines");
  if (lines.size() < 4 || !StartsWith(lines[0], kUntrusted) || !StartsWith(lines[2], kTrusted))
    return Status::Invalid("not a minisign signature");
  std::uint8_t raw[kSignatureBytes];
  if (!Ready() || !Decode(lines[1], raw, sizeof raw) || raw[0] != 'E' ||
      (raw[1] != 'D' && raw[1] != 'd'))
    return Status::Invalid("signature: not an Ed25519 signature");
  const std::string_view comment = lines[2].substr(kTrusted.size());
  if (comment.size() > kMaxTrustedCommentBytes || HasControl(comment))
    return Status::Invalid("signature: trusted comment too long or not one line");
  Signature parsed;
  parsed.prehashed = raw[1] == 'D';
  std::memcpy(parsed.key_id.data(), raw + 2, 8);
  std::memcpy(parsed.signature.data(), raw + 10, 64);
  parsed.trusted_comment = std::string(comment);
  if (!Decode(lines[3], parsed.global_signature.data(), parsed.global_signature.size()))
    return Status::Invalid("signature: bad global signature");
  *signature = std::move(parsed);
  return Status();
}

Check Verify(const Signature& signature, std::string_view message,
             const std::vector<PublicKey>& keys) {
  const PublicKey* key = nullptr;
  for (const PublicKey& k : keys)
    if (k.id == signature.key_id) key = &k;
  if (key == nullptr) return Check::kUnknownKey;
  if (!Ready()) return Check::kBadSignature;
  const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
  int checked;
  if (signature.prehashed) {
    unsigned char digest[crypto_generichash_BYTES_MAX];
    crypto_generichash(digest, sizeof digest, bytes, message.size(), nullptr, 0);
    checked = crypto_sign_verify_detached(signature.signature.data(), digest, sizeof digest,
                                          key->key.data());
  } else {
    checked = crypto_sign_verify_detached(signature.signature.data(), bytes, message.size(),
                                          key->key.data());
  }
  if (checked != 0) return Check::kBadSignature;
  std::string global(signature.signature.begin(), signature.signature.end());
  global += signature.trusted_comment;
  if (crypto_sign_verify_detached(signature.global_signature.data(),
                                  reinterpret_cast<const unsigned char*>(global.data()),
                                  global.size(), key->key.data()) != 0)
    return Check::kBadSignature;
  return Check::kGood;
}

bool ParseUtcTime(std::string_view text, std::time_t* time) {
  // YYYY-MM-DDTHH:MM:SSZ
  static constexpr std::string_view kForm = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kForm.size()) return false;
  for (std::size_t i = 0; i < kForm.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return false;
  }
  const auto number = [text](std::size_t at, std::size_t size) {
    int n = 0;
    for (std::size_t i = at; i < at + size; ++i) n = n * 10 + (text[i] - '0');
    return n;
  };
  std::tm fields{};
  fields.tm_year = number(0, 4) - 1900;
  fields.tm_mon = number(5, 2) - 1;
  fields.tm_mday = number(8, 2);
  fields.tm_hour = number(11, 2);
  fields.tm_min = number(14, 2);
  fields.tm_sec = number(17, 2);
  const std::tm asked = fields;
  const std::time_t t = timegm(&fields);
  // timegm moves a day 31 of a short month on: such a date is not one.
  if (t == static_cast<std::time_t>(-1) || fields.tm_year != asked.tm_year ||
      fields.tm_mon != asked.tm_mon || fields.tm_mday != asked.tm_mday ||
      fields.tm_hour != asked.tm_hour || fields.tm_min != asked.tm_min ||
      fields.tm_sec != asked.tm_sec)
    return false;
  *time = t;
  return true;
}

std::string FormatUtcTime(std::time_t time) {
  std::tm fields{};
  if (gmtime_r(&time, &fields) == nullptr) return std::string();
  const long long year = 1900LL + fields.tm_year;
  if (year < 0 || year > 9999) return std::string();
  char text[32];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02dZ", year, fields.tm_mon + 1,
                fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
  return text;
}

Status ParseReleaseTerms(std::string_view comment, ReleaseTerms* terms) {
  bool have_release = false, have_expires = false;
  ReleaseTerms parsed;
  while (!comment.empty()) {
    const std::size_t start = comment.find_first_not_of(" \t");
    if (start == std::string_view::npos) break;
    comment.remove_prefix(start);
    const std::size_t end = comment.find_first_of(" \t");
    const std::string_view word = comment.substr(0, end);
    comment = end == std::string_view::npos ? std::string_view() : comment.substr(end);
    if (StartsWith(word, "release=")) {
      if (have_release || !ParseDecimal(word.substr(8), &parsed.release))
        return Status::Invalid("trusted comment: bad release number");
      have_release = true;
    } else if (StartsWith(word, "expires=")) {
      if (have_expires || !ParseUtcTime(word.substr(8), &parsed.expires))
        return Status::Invalid("trusted comment: bad expiry time");
      have_expires = true;
    }
  }
  if (!have_release || !have_expires)
    return Status::Invalid("trusted comment: no release number or expiry time");
  *terms = parsed;
  return Status();
}

Status ParseSecretKey(std::string_view text, SecretKey* key) {
  std::vector<std::string_view> lines;
  if (text.size() > kMaxKeyFileBytes || !SplitLines(text, 3, &lines) || lines.size() < 2 ||
      !StartsWith(lines[0], kUntrusted))
    return Status::Invalid("not a minisign secret key file");
  std::uint8_t raw[kSecretKeyBytes];
  if (!Ready() || !Decode(lines[1], raw, sizeof raw) || std::memcmp(raw, "Ed", 2) != 0 ||
      std::memcmp(raw + 4, "B2", 2) != 0)
    return Status::Invalid("not a minisign secret key");
  if (std::memcmp(raw + 2, "Sc", 2) == 0)
    return Status::Invalid(
        "the secret key is encrypted: make an unencrypted one with `minisign -G -W` and keep "
        "it offline");
  if (raw[2] != 0 || raw[3] != 0) return Status::Invalid("secret key: unknown key derivation");
  constexpr std::size_t kAt = 2 + 2 + 2 + 32 + 8 + 8;
  SecretKey parsed;
  std::memcpy(parsed.id.data(), raw + kAt, 8);
  std::memcpy(parsed.key.data(), raw + kAt + 8, 64);
  // `minisign -W` leaves the checksum of an unencrypted key zero; the key is then
  // checked by its own halves: the public key derived from its seed is its second half.
  std::uint8_t checksum[32];
  SecretChecksum(raw, parsed, checksum);
  const bool unchecked = sodium_is_zero(raw + kAt + 8 + 64, 32) != 0;
  const bool same = unchecked || sodium_memcmp(checksum, raw + kAt + 8 + 64, 32) == 0;
  sodium_memzero(raw, sizeof raw);
  std::uint8_t derived_public[32], derived_secret[64];
  crypto_sign_seed_keypair(derived_public, derived_secret, parsed.key.data());
  const bool whole = sodium_memcmp(derived_public, parsed.key.data() + 32, 32) == 0;
  sodium_memzero(derived_secret, sizeof derived_secret);
  if (!same || !whole) {
    sodium_memzero(parsed.key.data(), parsed.key.size());
    return Status::Corrupt("secret key: wrong checksum");
  }
  *key = parsed;
  sodium_memzero(parsed.key.data(), parsed.key.size());
  return Status();
}

Status Sign(const SecretKey& key, std::string_view message, std::string_view trusted_comment,
            std::string* signature_file) {
  if (!Ready()) return Status::IoError("libsodium cannot be started");
  if (trusted_comment.size() > kMaxTrustedCommentBytes || HasControl(trusted_comment))
    return Status::Invalid("trusted comment too long or not one line");
  unsigned char digest[crypto_generichash_BYTES_MAX];
  crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(message.data()),
                     message.size(), nullptr, 0);
  std::uint8_t raw[kSignatureBytes] = {'E', 'D'};
  std::memcpy(raw + 2, key.id.data(), 8);
  crypto_sign_detached(raw + 10, nullptr, digest, sizeof digest, key.key.data());
  std::string global(reinterpret_cast<const char*>(raw + 10), 64);
  global += trusted_comment;
  std::uint8_t global_signature[64];
  crypto_sign_detached(global_signature, nullptr,
                       reinterpret_cast<const unsigned char*>(global.data()), global.size(),
                       key.key.data());
  *signature_file = "untrusted comment: signature from lumora-manifest secret key\n" +
                    Encode(raw, sizeof raw) + "\n" + std::string(kTrusted) +
                    std::string(trusted_comment) + "\n" +
                    Encode(global_signature, sizeof global_signature) + "\n";
  return Status();
}

Status GenerateKeyPair(std::string* public_file, std::string* secret_file) {
  if (!Ready()) return Status::IoError("libsodium cannot be started");
  SecretKey key;
  std::uint8_t public_key[32];
  crypto_sign_keypair(public_key, key.key.data());
  randombytes_buf(key.id.data(), key.id.size());
  std::uint8_t pub[kPublicKeyBytes] = {'E', 'd'};
  std::memcpy(pub + 2, key.id.data(), 8);
  std::memcpy(pub + 10, public_key, 32);
  // The id as minisign shows it: the 8 bytes read as a little-endian number, in hex.
  char id[17];
  for (int i = 0; i < 8; ++i) std::snprintf(id + 2 * i, 3, "%02X", key.id[7 - i]);
  *public_file = std::string("untrusted comment: minisign public key ") + id + "\n" +
                 Encode(pub, sizeof pub) + "\n";
  std::uint8_t sec[kSecretKeyBytes] = {'E', 'd', 0, 0, 'B', '2'};
  randombytes_buf(sec + 6, 32);
  StoreLe64(sec + 38, kOpsLimit);
  StoreLe64(sec + 46, kMemLimit);
  std::memcpy(sec + 54, key.id.data(), 8);
  std::memcpy(sec + 62, key.key.data(), 64);
  SecretChecksum(sec, key, sec + 126);
  *secret_file =
      "untrusted comment: minisign secret key (not encrypted)\n" + Encode(sec, sizeof sec) + "\n";
  sodium_memzero(sec, sizeof sec);
  sodium_memzero(key.key.data(), key.key.size());
  return Status();
}

}  // namespace update::minisign
