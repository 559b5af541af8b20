// The curl side of a transfer's run: libcurl's set-up, one easy handle's options, the
// URL, the request headers and the message of a failure of the HTTP layer.
#include "net/curl_easy.h"

#include <string_view>

#include "net/curl_callbacks.h"
#include "net/inet_file.h"
#include "net/tls.h"

namespace net {
namespace {

constexpr long kMaxRedirects = 10;
// What curl hands the write callback at most at a time. As large as the command-line
// client's own buffer, so that a fast transfer costs about as many calls as it does.
constexpr long kReceiveBuffer = 128 * 1024;

}  // namespace

void EnsureCurl() {
  // Once per process; when it fails, the first transfer fails and says so.
  [[maybe_unused]] static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
}

base::Status ParseHttpUrl(const std::string& url, CURLU* parsed, bool* secure) {
  if (url.find('\0') != std::string::npos) return base::Status::Invalid("a zero byte in the URL");
  if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_ALLOW_SPACE) != CURLUE_OK)
    return base::Status::Invalid("not a URL: " + url);
  char* raw = nullptr;
  if (curl_url_get(parsed, CURLUPART_SCHEME, &raw, 0) != CURLUE_OK)
    return base::Status::Invalid("no scheme: " + url);
  const std::unique_ptr<char, CurlFree> scheme(raw);
  *secure = std::string_view(scheme.get()) == "https";
  if (!*secure && std::string_view(scheme.get()) != "http")
    return base::Status::Invalid("not http or https: " + url);
  return base::Status::Ok();
}

bool SetUpEasy(CURL* h, CURLU* parsed, bool secure, TransferRun& t) {
  // Redirects may go from http to https, never back, and never to another scheme.
  const char* redirects = secure ? "https" : "http,https";
  const bool set = curl_easy_setopt(h, CURLOPT_CURLU, parsed) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, redirects) == CURLE_OK &&
                   // The peer is always verified, by name too.
                   curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_ERRORBUFFER, t.curl_error) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &BeforeRequest) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_PREREQDATA, &t) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
                   // No signals on a worker thread: the process has other threads.
                   curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_BUFFERSIZE, kReceiveBuffer) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_HEADERDATA, &t) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_WRITEDATA, &t) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t) == CURLE_OK;
  if (!set) return false;
  // Both kinds of HTTP authentication are offered, so curl first asks without and then
  // answers the kind the server's 401 names; a redirect to another host gets nothing.
  if (t.user != nullptr &&
      (curl_easy_setopt(h, CURLOPT_HTTPAUTH, CURLAUTH_BASIC | CURLAUTH_DIGEST) != CURLE_OK ||
       curl_easy_setopt(h, CURLOPT_USERNAME, t.user->c_str()) != CURLE_OK ||
       curl_easy_setopt(h, CURLOPT_PASSWORD, t.password->c_str()) != CURLE_OK))
    return false;
  // The trust store of the environment, as OpenSSL itself takes it; libcurl does not
  // read these by itself.
  const std::string trust_file = TrustFile(), trust_folder = TrustFolder();
  if ((!trust_file.empty() &&
       curl_easy_setopt(h, CURLOPT_CAINFO, trust_file.c_str()) != CURLE_OK) ||
      (!trust_folder.empty() &&
       curl_easy_setopt(h, CURLOPT_CAPATH, trust_folder.c_str()) != CURLE_OK))
    return false;
  return true;
}

bool MakeHeaders(const std::vector<std::string>& lines,
                 std::unique_ptr<curl_slist, ListDeleter>* headers) {
  headers->reset();
  for (const std::string& line : lines) {
    curl_slist* grown = curl_slist_append(headers->get(), line.c_str());
    if (grown == nullptr) return false;
    // The list is owned by |grown| now, which takes its place.
    (void)headers->release();
    headers->reset(grown);
  }
  return true;
}

std::string FailureOf(const TransferRun& t, CURLcode done) {
  const std::string detail = t.curl_error[0] != '\0' ? t.curl_error : curl_easy_strerror(done);
  if (t.downgraded)
    return std::string(CInetFile::MessageOf(3)) + " (a redirect from https to http is refused)";
  // The URL given was http or https: another scheme can only come from a redirect.
  if (done == CURLE_UNSUPPORTED_PROTOCOL) {
    return std::string(CInetFile::MessageOf(3)) +
           (t.secure ? " (a redirect from https to another scheme is refused: "
                     : " (a redirect to another scheme is refused: ") +
           detail + ")";
  }
  if (done == CURLE_PEER_FAILED_VERIFICATION) {
    long verified = 0;
    // Left 0 when unknown: the failure is then named generally.
    (void)curl_easy_getinfo(t.easy, CURLINFO_SSL_VERIFYRESULT, &verified);
    const std::string reason = CertificateFailure(verified);
    return std::string(CInetFile::MessageOf(0)) + " (" +
           (reason.empty() ? "certificate verify failed: " + detail : reason) + ")";
  }
  if (done == CURLE_SSL_CONNECT_ERROR || done == CURLE_SSL_CACERT_BADFILE ||
      done == CURLE_SSL_CERTPROBLEM || done == CURLE_SSL_CIPHER)
    return std::string(CInetFile::MessageOf(0)) + " (TLS handshake failed: " + detail + ")";
  return {};
}

}  // namespace net
