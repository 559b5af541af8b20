// The state of one run of a transfer (net::CInetFile), shared with curl's callbacks on
// the transfer's worker thread: where the body goes, what the answer announced, how far
// the body got and what stopped it. Opening the output file for a 200 is here
// (transfer_run.cpp); continuing a partial file is in transfer_resume.cpp.
#ifndef LUMORA_NET_TRANSFER_RUN_H_
#define LUMORA_NET_TRANSFER_RUN_H_

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "base/unique_file.h"
#include "net/inet_file.h"
#include "net/output_file.h"

namespace net {

struct TransferRun {
  CURL* easy = nullptr;
  std::string output_path;  // native
  OutputFile file;
  const std::atomic<bool>* cancel = nullptr;
  std::atomic<std::uint32_t>* bytes_received = nullptr;
  std::atomic<std::uint32_t>* expected_length = nullptr;
  const TransferNotify* notify = nullptr;  // null: no messages
  int kind = 0;
  std::uint64_t id = 0;
  std::chrono::milliseconds stall_limit{0};
  // HTTP authentication (CInetFile::user); no user: none.
  const std::string* user = nullptr;
  const std::string* password = nullptr;
  bool make_folders = false;
  std::uint64_t body_limit = 0;           // 0: none
  std::vector<std::string> made_folders;  // outermost first
  base::UniqueFd kept;                    // the lock of a body kept (kind 2)
  // Kind 2 resumed: |output_path| is the partial file, |have| the bytes it held when the
  // request asked for the rest of them with |validator|. |restart| is set when the answer
  // cannot continue them: the run starts again from zero.
  bool resume = false;
  std::uint64_t have = 0;
  std::string validator;
  bool restart = false;

  // Of the answer whose headers are being read: its Content-Length (0 when absent, at
  // most 2^32 - 1), whether it had one and its full value, its validators and range.
  std::uint32_t content_length = 0;
  bool has_length = false;
  std::uint64_t announced = 0;
  std::string etag, last_modified, content_range;
  // The body bytes of the answer taken so far.
  std::uint64_t answer_bytes = 0;
  // What stopped the transfer early, or how far it got.
  bool opened = false;
  bool bad_status = false;
  long status = 0;  // the HTTP status of the last answer, 0 when none came
  bool create_failed = false;
  bool write_failed = false;
  bool cancelled = false;
  bool stalled = false;
  bool too_large = false;
  // An answer came over https: a later hop of plain http is refused (|downgraded|).
  bool secure = false;
  bool downgraded = false;
  char curl_error[CURL_ERROR_SIZE] = "";
  // Why the HTTP layer failed, when it can be said (code page); empty otherwise.
  std::string failure;
  curl_off_t last_received = -1;
  std::chrono::steady_clock::time_point last_change = std::chrono::steady_clock::now();
  // Bytes in the file that no progress message has reported yet, and when the last
  // one went (none yet: the first bytes are reported at once).
  std::uint64_t unreported = 0;
  bool reported = false;
  std::chrono::steady_clock::time_point last_report;

  // Reports the unreported bytes, unless a progress message went less than
  // CInetFile::kProgressInterval ago; |now| reports them whatever the time.
  void ReportProgress(bool now);
  // Forgets the answer whose headers were read, before the next one.
  void NewAnswer();
  // The status is known to be 200, or 206 for the range asked: the expected length is
  // taken and the output file made (or continued), the body counted from zero (or from
  // the bytes the partial file holds).
  [[nodiscard]] base::Status Open(long status);

  // Kind 2 resumed (transfer_resume.cpp). Opens and locks the partial file, and decides
  // whether its bytes can be continued (they can when it holds some and a usable
  // validator was kept for them).
  [[nodiscard]] base::Status OpenPartialFile();
  // The partial file: a 206 that continues its bytes appends to it, anything else (a
  // 200) fills it again from zero under the answer's validator.
  [[nodiscard]] base::Status OpenPartial(long status);
  // The answer could not continue the partial file, and nothing of it was written: the
  // file starts again from zero, for a request without a range.
  [[nodiscard]] base::Status StartAgainFromZero();

  static std::uint32_t Clamp(std::uint64_t n) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(n, UINT32_MAX));
  }
};

}  // namespace net

#endif  // LUMORA_NET_TRANSFER_RUN_H_
