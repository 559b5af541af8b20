// curl's callbacks of a transfer's run, on its worker thread: each header line, the
// body as it arrives, the progress calls (cancel and stall) and the check made before
// each request (no redirect from https back to http).
#include "net/curl_callbacks.h"

#include <charconv>
#include <string_view>

#include "base/callback_guard.h"
#include "net/partial_file.h"

namespace net {
namespace {

using base::Guarded;

// Whether the header line |line| is named |name| (any letter case); its value then.
bool HeaderValue(std::string_view line, std::string_view name, std::string_view* value) {
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(line[i]) != lower(name[i])) return false;
  }
  line.remove_prefix(name.size() + 1);
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  while (!line.empty() &&
         (line.back() == '\r' || line.back() == '\n' || line.back() == ' ' || line.back() == '\t'))
    line.remove_suffix(1);
  *value = line;
  return true;
}

// Each header line of each answer (redirects and interim answers included). The line
// that ends a header block makes the output file when that answer is a 200.
std::size_t ReadHeader(TransferRun& t, char* data, std::size_t bytes) {
  const std::string_view line(data, bytes);
  if (t.opened) return bytes;  // trailers of the body
  if (line.starts_with("HTTP/")) {
    t.NewAnswer();
    return bytes;
  }
  std::string_view value;
  if (HeaderValue(line, "Content-Length", &value)) {
    std::uint64_t length = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
    t.has_length = error == std::errc() && end == value.data() + value.size();
    t.announced = t.has_length ? length : 0;
    t.content_length = TransferRun::Clamp(t.announced);
    return bytes;
  }
  if (t.resume) {
    // Kept only when short enough to be of use; a longer one is as good as none.
    const auto keep = [&value](std::string* field) {
      if (value.size() <= kMaxValidator + 64) field->assign(value);
    };
    if (HeaderValue(line, "ETag", &value)) keep(&t.etag);
    if (HeaderValue(line, "Last-Modified", &value)) keep(&t.last_modified);
    if (HeaderValue(line, "Content-Range", &value)) keep(&t.content_range);
  }
  if (line != "\r\n" && line != "\n") return bytes;
  // An interim answer, a redirect that is followed and a failure are told apart once
  // the transfer ends; only a 200 makes the file, or a 206 and a 416 to a range asked.
  const long status = StatusOf(t.easy);
  const bool ranged = t.resume && t.have > 0;
  if (ranged && status == 416) {
    t.restart = true;
    return 0;
  }
  if (status != 200 && !(ranged && status == 206)) return bytes;
  return t.Open(status).ok() ? bytes : 0;
}

// The body, as it arrives. It is taken in chunks of kChunk bytes, the cancel flag read
// after each; the chunks that came in one call are written with one system call, and
// reported once they are in the file, joined with others in one progress message at
// most every kProgressInterval.
std::size_t TakeBody(TransferRun& t, char* data, std::size_t bytes) {
  if (!t.opened) {
    // The body of a redirect being followed is dropped; any other answer but a 200
    // fails the status test, and its body is not read.
    const long status = StatusOf(t.easy);
    if (status >= 300 && status < 400) return bytes;
    t.bad_status = true;
    return 0;
  }
  if (t.body_limit != 0 && t.bytes_received->load() + std::uint64_t{bytes} > t.body_limit) {
    // Nothing of an answer larger than its reader takes is kept.
    t.too_large = true;
    t.file.Empty();
    return 0;
  }
  std::size_t taken = 0;
  bool stop = false;
  while (taken < bytes && !stop) {
    taken += std::min(CInetFile::kChunk, bytes - taken);
    stop = t.cancel->load(std::memory_order_relaxed);
  }
  if (taken > 0) {
    if (!t.file.WriteAll(data, taken).ok()) {
      t.write_failed = true;
      return 0;
    }
    t.bytes_received->fetch_add(static_cast<std::uint32_t>(taken));
    t.answer_bytes += taken;
    t.unreported += taken;
    t.ReportProgress(false);
  }
  if (stop) {
    t.cancelled = true;
    return 0;
  }
  return bytes;
}

}  // namespace

long StatusOf(CURL* easy) {
  long status = 0;
  if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return 0;
  return status;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) noexcept {
  // Anything thrown ends the transfer as a failure of the HTTP layer.
  return Guarded("reading a header", std::size_t{0},
                 [&] { return ReadHeader(*static_cast<TransferRun*>(user), data, size * count); });
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) noexcept {
  // Anything thrown ends the transfer as a failure of the HTTP layer.
  return Guarded("receiving a body", std::size_t{0},
                 [&] { return TakeBody(*static_cast<TransferRun*>(user), data, size * count); });
}

// Called by curl while it works, and about once a second while nothing arrives: the
// cancel flag and the stall limit are looked at here, and bytes held back from an
// earlier progress message are reported once their time has come.
int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) noexcept {
  TransferRun& t = *static_cast<TransferRun*>(user);
  if (t.cancel->load(std::memory_order_relaxed)) {
    t.cancelled = true;
    return 1;
  }
  // Anything thrown by the owner's notify ends the transfer as a failure of the HTTP layer.
  if (!Guarded("reporting progress", false, [&] {
        t.ReportProgress(false);
        return true;
      }))
    return 1;
  const auto now = std::chrono::steady_clock::now();
  if (received != t.last_received) {
    t.last_received = received;
    t.last_change = now;
    return 0;
  }
  if (now - t.last_change >= t.stall_limit) {
    t.stalled = true;
    return 1;
  }
  return 0;
}

// Called once a connection stands and before a request is sent on it: a redirect never
// leads from https back to plain http, however many hops on, and the request of such a
// hop is never sent.
int BeforeRequest(void* user, char*, char*, int, int) noexcept {
  TransferRun& t = *static_cast<TransferRun*>(user);
  char* effective = nullptr;
  if (curl_easy_getinfo(t.easy, CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK ||
      effective == nullptr)
    return CURL_PREREQFUNC_ABORT;
  const bool secure = std::string_view(effective).starts_with("https:");
  if (t.secure && !secure) {
    t.downgraded = true;
    return CURL_PREREQFUNC_ABORT;
  }
  t.secure = t.secure || secure;
  return CURL_PREREQFUNC_OK;
}

}  // namespace net
