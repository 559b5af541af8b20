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
  // Drops what was written.
  void Empty() {
    if (file_.valid()) (void)::ftruncate(file_.get(), 0);
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

  // The Content-Length of the answer whose headers are being read (0 when absent).
  std::uint32_t content_length = 0;
  // What stopped the transfer early, or how far it got.
  bool opened = false;
  bool bad_status = false;
  bool create_failed = false;
  bool write_failed = false;
  bool cancelled = false;
  bool stalled = false;
  bool too_large = false;
  curl_off_t last_received = -1;
  std::chrono::steady_clock::time_point last_change = std::chrono::steady_clock::now();

  // The status is known to be 200: the expected length is taken and the output file
  // made, the body counted from zero.
  [[nodiscard]] Status Open() {
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
    t.content_length = 0;
    return bytes;
  }
  std::string_view value;
  if (HeaderValue(line, "Content-Length", &value)) {
    std::uint64_t length = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
    const bool whole = error == std::errc() && end == value.data() + value.size();
    t.content_length = whole ? static_cast<std::uint32_t>(std::min<std::uint64_t>(
                                   length, std::numeric_limits<std::uint32_t>::max()))
                             : 0;
    return bytes;
  }
  if (line != "\r\n" && line != "\n") return bytes;
  // An interim answer, a redirect that is followed and a failure are told apart once
  // the transfer ends; only a 200 makes the file.
  if (StatusOf(t.easy) != 200) return bytes;
  return t.Open().ok() ? bytes : 0;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) noexcept {
  // Anything thrown ends the transfer as a failure of the HTTP layer.
  return Guarded("reading a header", std::size_t{0},
                 [&] { return ReadHeader(*static_cast<Transfer*>(user), data, size * count); });
}

// The body, as it arrives. It is written in chunks of kChunk bytes, the cancel flag
// read after each; the chunks that came in one call are written with one system call
// and reported in one progress message carrying their sum, after they are in the file.
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
    if (t.notify != nullptr) {
      (*t.notify)(TransferMessage::kProgress, t.kind, static_cast<std::uint32_t>(taken), t.id);
    }
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
// cancel flag and the stall limit are looked at here.
int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) noexcept {
  Transfer& t = *static_cast<Transfer*>(user);
  if (t.cancel->load(std::memory_order_relaxed)) {
    t.cancelled = true;
    return 1;
  }
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

// Parses |url| into |parsed|; Invalid unless it is an http URL with a host.
Status ParseHttpUrl(const std::string& url, CURLU* parsed) {
  if (url.find('\0') != std::string::npos) return Status::Invalid("a zero byte in the URL");
  if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_ALLOW_SPACE) != CURLUE_OK)
    return Status::Invalid("not a URL: " + url);
  char* raw = nullptr;
  if (curl_url_get(parsed, CURLUPART_SCHEME, &raw, 0) != CURLUE_OK)
    return Status::Invalid("no scheme: " + url);
  const std::unique_ptr<char, CurlFree> scheme(raw);
  if (std::string_view(scheme.get()) != "http") return Status::Invalid("not http: " + url);
  return Status::Ok();
}

// The run of one transfer; its result code. A failure of the HTTP layer is
// kInternetError; every other failure has a message of its own.
int Fetch(Transfer& t, const std::string& url) {
  const std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  if (!parsed) return CInetFile::kInternetError;
  if (!ParseHttpUrl(url, parsed.get()).ok()) return CInetFile::kBadUrl;

  // The two headers of the request, in this order; curl adds only Host.
  std::unique_ptr<curl_slist, ListDeleter> headers;
  const std::string agent = std::string("User-Agent: ") + CInetFile::kUserAgent;
  for (const char* header : {"Accept: */*", agent.c_str()}) {
    curl_slist* grown = curl_slist_append(headers.get(), header);
    if (grown == nullptr) return CInetFile::kInternetError;
    (void)headers.release();
    headers.reset(grown);
  }

  // Released before the header list and the parsed URL, which it refers to.
  const std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) return CInetFile::kInternetError;
  CURL* h = t.easy = easy.get();
  const bool set = curl_easy_setopt(h, CURLOPT_CURLU, parsed.get()) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http") == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http") == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
                   curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
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

  const CURLcode done = curl_easy_perform(h);
  if (t.cancelled) return CInetFile::kCancelled;
  if (t.create_failed || t.write_failed) return CInetFile::kCannotCreate;
  if (t.bad_status || t.too_large) return CInetFile::kNotFound;
  if (done != CURLE_OK) return CInetFile::kInternetError;
  if (StatusOf(h) != 200) return CInetFile::kNotFound;
  if (!t.opened && !t.Open().ok())
    return t.too_large ? CInetFile::kNotFound : CInetFile::kCannotCreate;
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

// The status callback of the Windows design only switched on a callback that did
// nothing; |status_callback| is carried but changes nothing here.
void CInetFile::Run() {
  EnsureCurl();
  Transfer t;
  // Kind 2's body is named after local_path + kBodySuffix, beside it.
  t.output_path = ansi::NativePath(kind == kFile ? local_path + kBodySuffix : local_path);
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
  if (result != kSuccess && result != kInternetError) {
    std::lock_guard<std::mutex> lock(message_mutex_);
    error_message_ = MessageOf(result);
  }
  // The file is closed (and curl's handle released) before the owner hears of the end.
  // A run that failed has its result already, and its own body and the folders made
  // for it go; a successful one closed the file itself and keeps a body of its own.
  if (result == kSuccess && kind == kFile) {
    std::lock_guard<std::mutex> lock(message_mutex_);
    body_path_ = t.file.path();
    body_lock_ = std::move(t.kept);
    made_folders_ = std::move(t.made_folders);
  } else if (result != kSuccess) {
    t.file.Discard();
    RemoveFolders(t.made_folders);
  }
  if (notify && !cancel_.load()) {
    notify(TransferMessage::kEnd, kind, static_cast<std::uint32_t>(result), id_);
  }
}

}  // namespace net
