#include "http_auth.h"

#include <glib.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <random>

#include "query.h"

namespace vendor {
namespace {

// How long a nonce stays fresh, in seconds; an older one is answered "stale=true".
constexpr std::int64_t kNonceLifetime = 300;
// Nonces remembered with their counts; past it, those no longer fresh are forgotten.
constexpr std::size_t kRememberedNonces = 4096;

std::string Hash(GChecksumType type, std::string_view text) {
  g_autofree gchar* hex =
      g_compute_checksum_for_data(type, reinterpret_cast<const guchar*>(text.data()), text.size());
  return hex != nullptr ? std::string(hex) : std::string();
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The credentials after |scheme| ("Basic", "Digest") in |header|, or nullopt for another
// scheme.
std::optional<std::string_view> Credentials(std::string_view header, std::string_view scheme) {
  header = TrimBlanks(header);
  if (header.size() <= scheme.size() ||
      !EqualsIgnoringCase(header.substr(0, scheme.size()), scheme) || header[scheme.size()] != ' ')
    return std::nullopt;
  return TrimBlanks(header.substr(scheme.size() + 1));
}

// Digest's "name=token" and "name="quoted"" pairs, names in lower case; nullopt when the
// list is malformed or names a parameter twice.
std::optional<std::map<std::string, std::string>> AuthParams(std::string_view text) {
  std::map<std::string, std::string> params;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ',')) ++i;
    if (i == text.size()) break;
    const std::size_t equals = text.find('=', i);
    if (equals == std::string_view::npos) return std::nullopt;
    std::string name(TrimBlanks(text.substr(i, equals - i)));
    for (char& c : name) c = static_cast<char>(g_ascii_tolower(c));
    i = equals + 1;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::string value;
    if (i < text.size() && text[i] == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        value += text[i];
      }
      if (i == text.size()) return std::nullopt;  // no closing quote
      ++i;
    } else {
      const std::size_t end = std::min(text.find(',', i), text.size());
      value = std::string(TrimBlanks(text.substr(i, end - i)));
      i = end;
    }
    if (name.empty() || !params.emplace(std::move(name), std::move(value)).second)
      return std::nullopt;
  }
  return params;
}

std::optional<std::string> Param(const std::map<std::string, std::string>& params,
                                 const char* name) {
  const auto found = params.find(name);
  if (found == params.end()) return std::nullopt;
  return found->second;
}

bool CheckBasic(std::string_view authorization, const std::vector<Account>& accounts) {
  const std::optional<std::string_view> credentials = Credentials(authorization, "Basic");
  if (!credentials || credentials->empty()) return false;
  const std::string encoded(*credentials);
  gsize size = 0;
  g_autofree guchar* decoded = g_base64_decode(encoded.c_str(), &size);
  const std::string pair(reinterpret_cast<const char*>(decoded), decoded != nullptr ? size : 0);
  for (const Account& account : accounts) {
    if (pair == account.name + ":" + account.password) return true;
  }
  return false;
}

}  // namespace

HttpAuth::HttpAuth() {
  std::random_device random;
  for (int i = 0; i < 8; ++i) secret_ += std::to_string(random());
}

std::string HttpAuth::NewNonce(std::int64_t now, std::uint64_t serial) const {
  const std::string text = std::to_string(now) + "-" + std::to_string(serial);
  return text + "-" + Hash(G_CHECKSUM_SHA256, secret_ + ":" + text).substr(0, 32);
}

HttpAuth::NonceState HttpAuth::UseNonce(const std::string& nonce, std::uint32_t count) {
  // "TIME-SERIAL-MAC"
  std::int64_t issued = 0;
  std::uint64_t serial = 0;
  const char* const end = nonce.data() + nonce.size();
  const auto [time_end, time_error] = std::from_chars(nonce.data(), end, issued);
  if (time_error != std::errc() || time_end == end || *time_end != '-') return NonceState::kBad;
  const auto [serial_end, serial_error] = std::from_chars(time_end + 1, end, serial);
  if (serial_error != std::errc() || NewNonce(issued, serial) != nonce) return NonceState::kBad;
  const std::int64_t now = std::time(nullptr);
  if (now - issued > kNonceLifetime || issued > now) return NonceState::kStale;
  std::lock_guard lock(mutex_);
  if (counts_.size() >= kRememberedNonces) {
    std::erase_if(counts_, [now](const auto& item) {
      return now - std::strtoll(item.first.c_str(), nullptr, 10) > kNonceLifetime;
    });
  }
  // Still full of fresh nonces: the oldest are forgotten (they are then refused as reused
  // only from their next count on, which a test service can afford).
  if (counts_.size() >= kRememberedNonces) counts_.clear();
  auto [found, added] = counts_.emplace(nonce, count);
  if (!added) {
    if (count <= found->second) return NonceState::kBad;
    found->second = count;
  }
  return NonceState::kFresh;
}

bool HttpAuth::CheckDigest(AuthScheme scheme, const AuthRequest& request,
                           const std::vector<Account>& accounts, bool* stale) {
  const std::optional<std::string_view> credentials = Credentials(request.authorization, "Digest");
  if (!credentials) return false;
  const auto params = AuthParams(*credentials);
  if (!params) return false;
  const auto user = Param(*params, "username"), realm = Param(*params, "realm"),
             nonce = Param(*params, "nonce"), uri = Param(*params, "uri"),
             response = Param(*params, "response"), qop = Param(*params, "qop"),
             nc = Param(*params, "nc"), cnonce = Param(*params, "cnonce");
  const std::string algorithm = Param(*params, "algorithm").value_or("MD5");
  GChecksumType type = G_CHECKSUM_MD5;
  if (EqualsIgnoringCase(algorithm, "SHA-256") && scheme == AuthScheme::kDigest) {
    type = G_CHECKSUM_SHA256;
  } else if (!EqualsIgnoringCase(algorithm, "MD5")) {
    return false;
  }
  if (!user || !realm || *realm != kAuthRealm || !nonce || !uri || *uri != request.target ||
      !response || qop != "auth" || !nc || nc->size() != 8 || !cnonce || cnonce->empty())
    return false;
  std::uint32_t count = 0;
  const auto [end, error] = std::from_chars(nc->data(), nc->data() + nc->size(), count, 16);
  if (error != std::errc() || end != nc->data() + nc->size()) return false;
  const Account* account = nullptr;
  for (const Account& candidate : accounts) {
    if (candidate.name == *user) account = &candidate;
  }
  if (account == nullptr) return false;
  const std::string ha1 = Hash(type, *user + ":" + kAuthRealm + ":" + account->password);
  const std::string ha2 = Hash(type, std::string(request.method) + ":" + *uri);
  const std::string expected =
      Hash(type, ha1 + ":" + *nonce + ":" + *nc + ":" + *cnonce + ":auth:" + ha2);
  if (*response != expected) return false;
  // The nonce is looked at last, so that a wrong password does not use up its count.
  const NonceState state = UseNonce(*nonce, count);
  *stale = state == NonceState::kStale;
  return state == NonceState::kFresh;
}

bool HttpAuth::Check(AuthScheme scheme, const AuthRequest& request,
                     const std::vector<Account>& accounts, std::vector<std::string>* challenges) {
  challenges->clear();
  if (scheme == AuthScheme::kBasic) {
    if (CheckBasic(request.authorization, accounts)) return true;
    challenges->push_back(std::string("Basic realm=\"") + kAuthRealm + "\", charset=\"UTF-8\"");
    return false;
  }
  bool stale = false;
  if (CheckDigest(scheme, request, accounts, &stale)) return true;
  const std::string nonce = NewNonce(std::time(nullptr), serial_.fetch_add(1));
  const auto challenge = [&](const char* algorithm) {
    return std::string("Digest realm=\"") + kAuthRealm +
           "\", qop=\"auth\", algorithm=" + algorithm + ", nonce=\"" + nonce + "\"" +
           (stale ? ", stale=true" : "");
  };
  // In the order of preference: a client takes the first it can answer.
  if (scheme == AuthScheme::kDigest) challenges->push_back(challenge("SHA-256"));
  challenges->push_back(challenge("MD5"));
  return false;
}

}  // namespace vendor
