#include "net/inet_file.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <limits>
#include <memory>
#include <string_view>

#include "net/partial_file.h"
#include "net/tls.h"
#include "platform/ansi.h"
#include "platform/callback_guard.h"
#include "platform/files.h"
#include "platform/status.h"
#include "platform/unique_file.h"

namespace net {
namespace {

using platform::Guarded;
using platform::PosixError;
using platform::Status;

// Transfers made in this process: the slot of each new one, and the source of ids.
std::atomic<std::uint32_t> g_transfers_made{0};
std::atomic<std::uint64_t> g_last_id{0};

constexpr int kMessageCount = 10;
constexpr long kMaxRedirects = 10;
// What curl hands the write callback at most at a time. As large as the command-line
// client's own buffer, so that a fast transfer costs about as many calls as it does.
constexpr long kReceiveBuffer = 128 * 1024;

// The messages of the codes 1 to 9, with the default message at index 0, in the code
// page. The texts stand here in UTF-8 and are converted once.
const std::array<std::string, kMessageCount>& Messages() {
  static const std::array<std::string, kMessageCount> messages = [] {
    constexpr const char* kUtf8[kMessageCount] = {
        CInetFile::kDefaultMessage,
        "URL解析错误, 请选择其他服务器进行尝试",
        "服务器拒绝连接, 请选择其他服务器进行尝试",
        "重定向失败, 请选择其他服务器进行尝试",
        "重定向URL解析错误, 请选择其他服务器进行尝试",
        "不是HTTP连接, 请选择其他服务器进行尝试",
        "取得服务器文件失败, 请选择其他服务器进行尝试",
        "创建本地文件失败",
        "主动取消连接",
        "URL不正确",
    };
    std::array<std::string, kMessageCount> converted;
    for (int i = 0; i < kMessageCount; ++i) converted[i] = ansi::FromUtf8Lossy(kUtf8[i]);
    return converted;
  }();
  return messages;
}

// libcurl is set up once for the process, before its first handle. Its result is not
// looked at: when the set-up failed, making a handle fails too, and the transfer ends
// as a failure of the HTTP layer.
void EnsureCurl() {
  static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)init;
}

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

// Makes the missing folders above |path|, outermost first; each one made is added to
// |made|. A folder that appears meanwhile counts as there.
Status MakeFoldersAbove(const std::string& path, std::vector<std::string>* made) {
  std::vector<std::string> missing;
  for (std::string folder = platform::FolderOf(path); folder != "/" && folder != ".";
       folder = platform::FolderOf(folder)) {
    struct stat st;
    if (::lstat(folder.c_str(), &st) == 0 || errno != ENOENT) break;
    missing.push_back(folder);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0777) == 0)
      made->push_back(*it);
    else if (errno != EEXIST)
      return PosixError(*it, errno);
  }
  return Status::Ok();
}

// Removes the folders of |made| (outermost first) that are empty, innermost first.
void RemoveFolders(const std::vector<std::string>& made) {
  for (auto it = made.rbegin(); it != made.rend(); ++it) (void)::rmdir(it->c_str());
}

// The output file: created once, written whole, closed when it goes.
class OutputFile {
 public:
  // |native_path| itself, created or truncated.
  [[nodiscard]] Status Create(const std::string& native_path) {
    path_ = native_path;
    file_.Reset(::open(native_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    return file_.valid() ? Status::Ok() : PosixError(path_, errno);
  }
  // A new file of its own beside |native_target|, locked while it is open.
  [[nodiscard]] Status CreateBeside(const std::string& native_target) {
    if (Status made = platform::CreateTemporaryFile(native_target, &file_, &path_); !made.ok())
      return made;
    own_ = true;
    return Status::Ok();
  }
  const std::string& path() const { return path_; }
  bool valid() const { return file_.valid(); }
  // All of |size| bytes.
  [[nodiscard]] Status WriteAll(const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(file_.get(), data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return PosixError(path_, errno);
      if (n == 0) return Status::IoError(path_ + ": nothing written");
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return Status::Ok();
  }
  // A partial file opened by OpenPartial, written where it is positioned; it stays
  // when the transfer fails.
  void Adopt(const std::string& native_path, platform::UniqueFd file) {
    path_ = native_path;
    file_ = std::move(file);
  }
  // Writes from |offset| on.
  [[nodiscard]] Status SeekTo(std::uint64_t offset) {
    return ::lseek(file_.get(), static_cast<off_t>(offset), SEEK_SET) >= 0
               ? Status::Ok()
               : PosixError(path_, errno);
  }
  // Drops what was written; writes start again at the beginning.
  [[nodiscard]] Status StartOver() {
    if (!file_.valid()) return Status::Ok();
    if (::ftruncate(file_.get(), 0) != 0) return PosixError(path_, errno);
    return SeekTo(0);
  }
  void Empty() { (void)StartOver(); }
  // The size of the open file (0 when none is open).
  std::uint64_t Size() const {
    struct stat st;
    return file_.valid() && ::fstat(file_.get(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size)
                                                           : 0;
  }
  // Closes the file, if open; fails when the system reports that its data did not all
  // reach the file. |lock|, when given, receives a duplicate of the descriptor, which
  // keeps the file's lock.
  [[nodiscard]] Status Close(platform::UniqueFd* lock = nullptr) {
    if (!file_.valid()) return Status::Ok();
    if (lock != nullptr) lock->Reset(::fcntl(file_.get(), F_DUPFD_CLOEXEC, 0));
    return ::close(file_.Release()) == 0 ? Status::Ok() : PosixError(path_, errno);
  }
  // Closes the file; a file of its own is removed first (while still locked).
  void Discard() {
    if (own_ && file_.valid()) (void)::unlink(path_.c_str());
    file_.Reset();
  }

 private:
  std::string path_;
  platform::UniqueFd file_;
  bool own_ = false;  // made by CreateBeside
};

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

// One run's state, shared with curl's callbacks on the worker thread.
struct Transfer {
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
  bool make_folders = false;
  std::uint64_t body_limit = 0;           // 0: none
  std::vector<std::string> made_folders;  // outermost first
  platform::UniqueFd kept;                // the lock of a body kept (kind 2)
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
  // kProgressInterval ago; |now| reports them whatever the time.
  void ReportProgress(bool now) {
    if (unreported == 0) return;
    const auto at = std::chrono::steady_clock::now();
    // A message's value has 32 bits: a sum that grows near them goes at once.
    if (!now && reported && at - last_report < CInetFile::kProgressInterval &&
        unreported < (std::uint64_t{1} << 31))
      return;
    if (notify != nullptr) {
      (*notify)(TransferMessage::kProgress, kind, static_cast<std::uint32_t>(unreported), id);
    }
    unreported = 0;
    reported = true;
    last_report = at;
  }

  // Forgets the answer whose headers were read, before the next one.
  void NewAnswer() {
    content_length = 0;
    has_length = false;
    announced = 0;
    etag.clear();
    last_modified.clear();
    content_range.clear();
  }

  // The status is known to be 200, or 206 for the range asked: the expected length is
  // taken and the output file made (or continued), the body counted from zero (or from
  // the bytes the partial file holds).
  [[nodiscard]] Status Open(long status) {
    if (resume) return OpenPartial(status);
    expected_length->store(content_length);
    if (body_limit != 0 && content_length > body_limit) {
      too_large = true;
      return Status::TooLarge(output_path);
    }
    Status made = Status::Ok();
    if (kind == CInetFile::kFile && make_folders)
      made = MakeFoldersAbove(output_path, &made_folders);
    if (made.ok())
      made = kind == CInetFile::kFile ? file.CreateBeside(output_path) : file.Create(output_path);
    if (!made.ok()) {
      create_failed = true;
      return made;
    }
    opened = true;
    bytes_received->store(0);
    return Status::Ok();
  }

  // The partial file: a 206 that continues its bytes appends to it, anything else (a
  // 200) fills it again from zero under the answer's validator.
  [[nodiscard]] Status OpenPartial(long status) {
    if (status == 206) {
      std::uint64_t first = 0, last = 0, size = 0;
      // The rest of the very file asked for, to its end, or nothing.
      const bool continues =
          have > 0 && ParseContentRange(content_range, &first, &last, &size) && first == have &&
          last + 1 == size && (!has_length || announced == size - have) &&
          (etag.empty() || !validator.starts_with('"') || etag == validator) &&
          (last_modified.empty() || validator.starts_with('"') || last_modified == validator);
      if (!continues) {
        restart = true;
        return Status::Invalid(output_path + ": the answer does not continue the file");
      }
      expected_length->store(Clamp(size));
      if (body_limit != 0 && size > body_limit) {
        too_large = true;
        return Status::TooLarge(output_path);
      }
      if (Status at = file.SeekTo(have); !at.ok()) {
        create_failed = true;
        return at;
      }
      opened = true;
      bytes_received->store(Clamp(have));
      return Status::Ok();
    }
    // A new body: the old validator goes before the bytes it stood for, the new one
    // comes once they are gone. One that cannot be kept costs only the next resume.
    RemoveValidator(output_path);
    if (Status emptied = file.StartOver(); !emptied.ok()) {
      create_failed = true;
      return emptied;
    }
    const std::string& kept = UsableValidator(etag) ? etag : last_modified;
    // With the whole length, when announced, so that a later start can tell its share.
    if (UsableValidator(kept)) (void)WriteValidator(output_path, kept, has_length ? announced : 0);
    expected_length->store(content_length);
    if (body_limit != 0 && content_length > body_limit) {
      too_large = true;
      return Status::TooLarge(output_path);
    }
    opened = true;
    bytes_received->store(0);
    return Status::Ok();
  }

  static std::uint32_t Clamp(std::uint64_t n) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(n, UINT32_MAX));
  }

  // "bytes FIRST-LAST/SIZE" with FIRST <= LAST < SIZE.
  static bool ParseContentRange(std::string_view text, std::uint64_t* first, std::uint64_t* last,
                                std::uint64_t* size) {
    if (!text.starts_with("bytes ")) return false;
    text.remove_prefix(6);
    const auto number = [&text](std::uint64_t* value, char end) {
      const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
      if (error != std::errc() || stop == text.data()) return false;
      text.remove_prefix(static_cast<std::size_t>(stop - text.data()));
      if (end == '\0') return text.empty();
      if (text.empty() || text.front() != end) return false;
      text.remove_prefix(1);
      return true;
    };
    return number(first, '-') && number(last, '/') && number(size, '\0') && *first <= *last &&
           *last < *size;
  }
};

long StatusOf(CURL* easy) {
  long status = 0;
  if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return 0;
  return status;
}

// Each header line of each answer (redirects and interim answers included). The line
// that ends a header block makes the output file when that answer is a 200.
std::size_t ReadHeader(Transfer& t, char* data, std::size_t bytes) {
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
    t.content_length = Transfer::Clamp(t.announced);
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

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) noexcept {
  // Anything thrown ends the transfer as a failure of the HTTP layer.
  return Guarded("reading a header", std::size_t{0},
                 [&] { return ReadHeader(*static_cast<Transfer*>(user), data, size * count); });
}

// The body, as it arrives. It is taken in chunks of kChunk bytes, the cancel flag read
// after each; the chunks that came in one call are written with one system call, and
// reported once they are in the file, joined with others in one progress message at
// most every kProgressInterval.
std::size_t TakeBody(Transfer& t, char* data, std::size_t bytes) {
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

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) noexcept {
  // Anything thrown ends the transfer as a failure of the HTTP layer.
  return Guarded("receiving a body", std::size_t{0},
                 [&] { return TakeBody(*static_cast<Transfer*>(user), data, size * count); });
}

// Called by curl while it works, and about once a second while nothing arrives: the
// cancel flag and the stall limit are looked at here, and bytes held back from an
// earlier progress message are reported once their time has come.
int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) noexcept {
  Transfer& t = *static_cast<Transfer*>(user);
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
  Transfer& t = *static_cast<Transfer*>(user);
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

// Parses |url| into |parsed|; Invalid unless it is an http or https URL with a host.
// |secure| tells which.
Status ParseHttpUrl(const std::string& url, CURLU* parsed, bool* secure) {
  if (url.find('\0') != std::string::npos) return Status::Invalid("a zero byte in the URL");
  if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_ALLOW_SPACE) != CURLUE_OK)
    return Status::Invalid("not a URL: " + url);
  char* raw = nullptr;
  if (curl_url_get(parsed, CURLUPART_SCHEME, &raw, 0) != CURLUE_OK)
    return Status::Invalid("no scheme: " + url);
  const std::unique_ptr<char, CurlFree> scheme(raw);
  *secure = std::string_view(scheme.get()) == "https";
  if (!*secure && std::string_view(scheme.get()) != "http")
    return Status::Invalid("not http or https: " + url);
  return Status::Ok();
}

// The message of a failure of the HTTP layer that names its reason: a redirect refused,
// a certificate that does not verify, a failed handshake. Empty for other failures,
// which keep the default message.
std::string FailureOf(const Transfer& t, CURLcode done) {
  const std::string detail = t.curl_error[0] != '\0' ? t.curl_error : curl_easy_strerror(done);
  if (t.downgraded) return Messages()[3] + " (a redirect from https to http is refused)";
  // The URL given was http or https: another scheme can only come from a redirect.
  if (done == CURLE_UNSUPPORTED_PROTOCOL) {
    return Messages()[3] +
           (t.secure ? " (a redirect from https to another scheme is refused: "
                     : " (a redirect to another scheme is refused: ") +
           detail + ")";
  }
  if (done == CURLE_PEER_FAILED_VERIFICATION) {
    long verified = 0;
    (void)curl_easy_getinfo(t.easy, CURLINFO_SSL_VERIFYRESULT, &verified);
    const std::string reason = CertificateFailure(verified);
    return Messages()[0] + " (" +
           (reason.empty() ? "certificate verify failed: " + detail : reason) + ")";
  }
  if (done == CURLE_SSL_CONNECT_ERROR || done == CURLE_SSL_CACERT_BADFILE ||
      done == CURLE_SSL_CERTPROBLEM || done == CURLE_SSL_CIPHER)
    return Messages()[0] + " (TLS handshake failed: " + detail + ")";
  return {};
}

// Makes the header list: |lines| in order. False when memory runs out.
bool MakeHeaders(const std::vector<std::string>& lines,
                 std::unique_ptr<curl_slist, ListDeleter>* headers) {
  headers->reset();
  for (const std::string& line : lines) {
    curl_slist* grown = curl_slist_append(headers->get(), line.c_str());
    if (grown == nullptr) return false;
    (void)headers->release();
    headers->reset(grown);
  }
  return true;
}

// Kind 2 resumed: opens and locks the partial file, and decides whether its bytes can
// be continued (they can when it holds some and a usable validator was kept for them).
Status OpenPartialFile(Transfer& t) {
  if (t.output_path.empty()) return Status::Invalid("no partial file for this target");
  if (t.make_folders) {
    if (Status made = MakeFoldersAbove(t.output_path, &t.made_folders); !made.ok()) return made;
  }
  platform::UniqueFd fd;
  std::uint64_t size = 0;
  if (Status opened = OpenPartial(t.output_path, &fd, &size); !opened.ok()) return opened;
  t.file.Adopt(t.output_path, std::move(fd));
  t.validator = size > 0 ? ReadValidator(t.output_path) : std::string();
  t.have = t.validator.empty() ? 0 : size;
  return Status::Ok();
}

// The run of one transfer; its result code. A failure of the HTTP layer is
// kInternetError; every other failure has a message of its own.
int Fetch(Transfer& t, const std::string& url) {
  const std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  if (!parsed) return CInetFile::kInternetError;
  bool secure = false;
  if (!ParseHttpUrl(url, parsed.get(), &secure).ok()) return CInetFile::kBadUrl;
  if (t.resume && !OpenPartialFile(t).ok()) {
    t.create_failed = true;
    return CInetFile::kCannotCreate;
  }

  // Released before the header list and the parsed URL, which it refers to.
  std::unique_ptr<curl_slist, ListDeleter> headers;
  const std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) return CInetFile::kInternetError;
  CURL* h = t.easy = easy.get();
  // Redirects may go from http to https, never back, and never to another scheme.
  const char* redirects = secure ? "https" : "http,https";
  const bool set = curl_easy_setopt(h, CURLOPT_CURLU, parsed.get()) == CURLE_OK &&
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
  if (!set) return CInetFile::kInternetError;
  // The trust store of the environment, as OpenSSL itself takes it; libcurl does not
  // read these by itself.
  const std::string trust_file = TrustFile(), trust_folder = TrustFolder();
  if ((!trust_file.empty() &&
       curl_easy_setopt(h, CURLOPT_CAINFO, trust_file.c_str()) != CURLE_OK) ||
      (!trust_folder.empty() &&
       curl_easy_setopt(h, CURLOPT_CAPATH, trust_folder.c_str()) != CURLE_OK))
    return CInetFile::kInternetError;

  // At most two requests: the second, without a range, when the answer to the first
  // could not continue the partial file.
  CURLcode done = CURLE_OK;
  for (int request = 0; request < 2; ++request) {
    // The two headers of the request, in this order (then a range, when one is asked);
    // curl adds only Host.
    std::vector<std::string> lines = {"Accept: */*",
                                      std::string("User-Agent: ") + CInetFile::kUserAgent};
    if (t.have > 0) {
      lines.push_back("Range: bytes=" + std::to_string(t.have) + "-");
      lines.push_back("If-Range: " + t.validator);
    }
    if (!MakeHeaders(lines, &headers) ||
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()) != CURLE_OK)
      return CInetFile::kInternetError;
    done = curl_easy_perform(h);
    if (t.cancelled) return CInetFile::kCancelled;
    if (!t.restart) break;
    if (request == 1) return CInetFile::kInternetError;
    // Nothing of the first answer was written: the file starts again from zero.
    RemoveValidator(t.output_path);
    if (!t.file.StartOver().ok()) return CInetFile::kCannotCreate;
    t.have = 0;
    t.validator.clear();
    t.restart = false;
    t.NewAnswer();
    t.last_received = -1;
    t.last_change = std::chrono::steady_clock::now();
  }
  if (t.create_failed || t.write_failed) return CInetFile::kCannotCreate;
  if (t.bad_status || t.too_large) return CInetFile::kNotFound;
  if (done != CURLE_OK) {
    t.failure = FailureOf(t, done);
    return CInetFile::kInternetError;
  }
  const long status = StatusOf(h);
  if (status != 200 && !(status == 206 && t.opened)) return CInetFile::kNotFound;
  if (!t.opened && !t.Open(status).ok())
    return t.too_large ? CInetFile::kNotFound : CInetFile::kCannotCreate;
  // A body shorter than its Content-Length is a broken transfer, whatever the HTTP
  // layer made of it.
  if (t.has_length && t.answer_bytes != t.announced) return CInetFile::kInternetError;
  // The partial file is whole: its validator is of no more use.
  if (t.resume) RemoveValidator(t.output_path);
  // A body of its own stays locked, through a duplicate of its descriptor, until the
  // owner has taken it.
  if (!t.file.Close(t.kind == CInetFile::kFile ? &t.kept : nullptr).ok())
    return CInetFile::kCannotCreate;
  return CInetFile::kSuccess;
}

}  // namespace

CInetFile::CInetFile()
    : id_(g_last_id.fetch_add(1) + 1),
      slot_(static_cast<int>((g_transfers_made.fetch_add(1) + 1) % 11)),
      error_message_(Messages()[0]) {}

CInetFile::~CInetFile() {
  Cancel();
  Wait();
  DiscardBody();
}

const char* CInetFile::MessageOf(int code) {
  const auto& messages = Messages();
  return (code > 0 && code < kMessageCount ? messages[code] : messages[0]).c_str();
}

bool CInetFile::StartTransfer() {
  attempts_.fetch_add(1);
  Wait();
  DiscardBody();
  cancel_.store(false);
  return Start();
}

std::string CInetFile::GetErrorMessage() const {
  std::lock_guard<std::mutex> lock(message_mutex_);
  return error_message_;
}

std::string CInetFile::body_path() const {
  std::lock_guard<std::mutex> lock(message_mutex_);
  return body_path_;
}

void CInetFile::BodyTaken() { (void)TakeBody(); }

CInetFile::KeptBody CInetFile::TakeBody() {
  std::lock_guard<std::mutex> lock(message_mutex_);
  KeptBody kept;
  kept.path = std::move(body_path_);
  kept.lock = std::move(body_lock_);
  kept.made_folders = std::move(made_folders_);
  body_path_.clear();
  made_folders_.clear();
  return kept;
}

void CInetFile::KeptBody::Discard() {
  if (!path.empty()) (void)::unlink(path.c_str());
  path.clear();
  lock.Reset();
  RemoveFolders(made_folders);
  made_folders.clear();
}

void CInetFile::DiscardBody() { TakeBody().Discard(); }

bool CInetFile::RemovePartial(const std::string& local_path) {
  const std::string partial = PartialPathFor(local_path);
  return partial.empty() || RemovePartialFiles(ansi::NativePath(partial));
}

// The status callback of the Windows design only switched on a callback that did
// nothing; |status_callback| is carried but changes nothing here.
void CInetFile::Run() {
  EnsureCurl();
  Transfer t;
  // Kind 2's body is named after local_path + kBodySuffix, beside it.
  t.resume = kind == kFile && resume;
  if (t.resume) {
    const std::string partial = PartialPathFor(local_path);
    t.output_path = partial.empty() ? std::string() : ansi::NativePath(partial);
  } else {
    t.output_path = ansi::NativePath(kind == kFile ? local_path + kBodySuffix : local_path);
  }
  t.make_folders = make_folders;
  t.body_limit = body_limit;
  t.cancel = &cancel_;
  t.bytes_received = &bytes_received_;
  t.expected_length = &expected_length_;
  t.notify = notify ? &notify : nullptr;
  t.kind = kind;
  t.id = id_;
  t.stall_limit = std::chrono::milliseconds(std::max(stall_timeout_ms, 1));
  // Anything thrown ends the transfer as a failure of the HTTP layer.
  const int result = Guarded("a transfer", int{kInternetError}, [&] { return Fetch(t, url); });
  // Every byte counted is reported before the run ends (a cancelled one's too), and
  // before the end message.
  Guarded("reporting progress", [&] { t.ReportProgress(true); });
  if (result != kSuccess && result != kInternetError) {
    std::lock_guard<std::mutex> lock(message_mutex_);
    error_message_ = MessageOf(result);
  } else if (result == kInternetError && !t.failure.empty()) {
    std::lock_guard<std::mutex> lock(message_mutex_);
    error_message_ = t.failure;
  }
  // The file is closed (and curl's handle released) before the owner hears of the end.
  // A run that failed has its result already, and its own body and the folders made
  // for it go; a successful one closed the file itself and keeps a body of its own.
  if (result == kSuccess && kind == kFile) {
    std::lock_guard<std::mutex> lock(message_mutex_);
    body_path_ = t.file.path();
    body_lock_ = std::move(t.kept);
    made_folders_ = std::move(t.made_folders);
  } else if (result != kSuccess && t.resume) {
    // A partial file keeps what it holds, for the next run to continue; an empty one
    // this run opened goes (while still locked), with the folders made for it.
    if (t.file.valid() && t.file.Size() == 0) {
      (void)::unlink(t.output_path.c_str());
      RemoveValidator(t.output_path);
      t.file.Discard();
      RemoveFolders(t.made_folders);
    }
    t.file.Discard();
  } else if (result != kSuccess) {
    t.file.Discard();
    RemoveFolders(t.made_folders);
  }
  if (notify && !cancel_.load()) {
    notify(TransferMessage::kEnd, kind, static_cast<std::uint32_t>(result), id_);
  }
}

}  // namespace net
