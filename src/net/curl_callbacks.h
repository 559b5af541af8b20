// curl's callbacks of a transfer's run (net::TransferRun, their user data), called on
// the transfer's worker thread. None lets an exception out: anything thrown ends the
// transfer as a failure of the HTTP layer.
#ifndef LUMORA_NET_CURL_CALLBACKS_H_
#define LUMORA_NET_CURL_CALLBACKS_H_

#include <curl/curl.h>

#include <cstddef>

#include "net/transfer_run.h"

namespace net {

// The status of the answer |easy| has read; 0 when none is known.
long StatusOf(CURL* easy);

// Each header line of each answer (redirects and interim answers included). The line
// that ends a header block makes the output file when that answer is a 200.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) noexcept;
// The body, as it arrives, written to the output file.
std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) noexcept;
// Called by curl while it works, and about once a second while nothing arrives: the
// cancel flag and the stall limit.
int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) noexcept;
// Called once a connection stands and before a request is sent on it: a redirect never
// leads from https back to plain http.
int BeforeRequest(void* user, char*, char*, int, int) noexcept;

}  // namespace net

#endif  // LUMORA_NET_CURL_CALLBACKS_H_
