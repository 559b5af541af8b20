// The curl side of a transfer's run: the set-up of libcurl and of one easy handle for a
// run (protocols, redirects, verification, the callbacks and the trust store), the
// parsing of the URL it fetches, its request headers and the message of a failure of
// the HTTP layer.
#ifndef LUMORA_NET_CURL_EASY_H_
#define LUMORA_NET_CURL_EASY_H_

#include <curl/curl.h>

#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "net/transfer_run.h"

namespace net {

struct EasyDeleter {
  void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
struct UrlDeleter {
  void operator()(CURLU* url) const noexcept { curl_url_cleanup(url); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
struct CurlFree {
  void operator()(char* text) const noexcept { curl_free(text); }
};

// libcurl is set up once for the process, before its first handle. Its result is not
// looked at: when the set-up failed, making a handle fails too, and the transfer ends
// as a failure of the HTTP layer.
void EnsureCurl();
// Parses |url| into |parsed|; Invalid unless it is an http or https URL with a host.
// |secure| tells which.
[[nodiscard]] base::Status ParseHttpUrl(const std::string& url, CURLU* parsed, bool* secure);
// Sets |easy| up to fetch |parsed| (|secure|: an https URL) for the run |t|, whose
// callbacks it calls. False when an option cannot be set.
[[nodiscard]] bool SetUpEasy(CURL* easy, CURLU* parsed, bool secure, TransferRun& t);
// Makes the header list: |lines| in order. False when memory runs out.
[[nodiscard]] bool MakeHeaders(const std::vector<std::string>& lines,
                               std::unique_ptr<curl_slist, ListDeleter>* headers);
// The message of a failure of the HTTP layer that names its reason: a redirect refused,
// a certificate that does not verify, a failed handshake. Empty for other failures,
// which keep the default message.
std::string FailureOf(const TransferRun& t, CURLcode done);

}  // namespace net

#endif  // LUMORA_NET_CURL_EASY_H_
