// HTTP authentication of the accounts of accounts.txt: Basic (RFC 7617) and Digest
// (RFC 7616, MD5 and SHA-256, qop "auth") with nonces the service made, that expire,
// and whose counts may not be used twice.
#ifndef LUMORA_TOOLS_VENDOR_HTTP_AUTH_H_
#define LUMORA_TOOLS_VENDOR_HTTP_AUTH_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "accounts.h"

namespace vendor {

enum class AuthScheme {
  kBasic,
  kDigest,     // SHA-256 offered first, then MD5
  kDigestMd5,  // MD5 only
};

inline constexpr char kAuthRealm[] = "lumora-vendor";

// What a request brings to be checked.
struct AuthRequest {
  std::string_view method;
  std::string_view target;         // as sent: Digest's "uri" must be exactly this
  std::string_view authorization;  // the Authorization header, empty when absent
};

class HttpAuth {
 public:
  HttpAuth();

  // Whether |request| carries the credentials of one of |accounts| under |scheme|.
  // Otherwise |challenges| holds the WWW-Authenticate values to answer 401 with.
  [[nodiscard]] bool Check(AuthScheme scheme, const AuthRequest& request,
                           const std::vector<Account>& accounts,
                           std::vector<std::string>* challenges);

 private:
  enum class NonceState { kBad, kStale, kFresh };
  // A nonce made at |now| (seconds since 1970), unique by |serial|, signed with the secret.
  std::string NewNonce(std::int64_t now, std::uint64_t serial) const;
  // Whether |nonce| is one of ours and still fresh; a fresh one's |count| must be higher
  // than any count it was used with before.
  NonceState UseNonce(const std::string& nonce, std::uint32_t count);
  bool CheckDigest(AuthScheme scheme, const AuthRequest& request,
                   const std::vector<Account>& accounts, bool* stale);

  std::string secret_;  // random, for the service's lifetime: signs the nonces
  std::atomic<std::uint64_t> serial_{0};
  std::mutex mutex_;
  std::map<std::string, std::uint32_t> counts_;  // fresh nonce -> highest count used
};

}  // namespace vendor

#endif  // LUMORA_TOOLS_VENDOR_HTTP_AUTH_H_
