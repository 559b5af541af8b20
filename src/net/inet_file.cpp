// A transfer's result codes and messages, its run on the worker thread (the requests
// and what their answers come to) and the body it keeps for its owner. The run's state
// is net::TransferRun; curl's side of it is in curl_easy and curl_callbacks.
#include "net/inet_file.h"

#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>

#include "base/ansi.h"
#include "base/callback_guard.h"
#include "base/folders.h"
#include "net/curl_callbacks.h"
#include "net/curl_easy.h"
#include "net/partial_file.h"
#include "net/transfer_run.h"

namespace net {
namespace {

using base::Guarded;

// Transfers made in this process: the slot of each new one, and the source of ids.
std::atomic<std::uint32_t> g_transfers_made{0};
std::atomic<std::uint64_t> g_last_id{0};

constexpr int kMessageCount = 10;

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

// Sends the request, and once more without a range when the answer could not continue
// the partial file. |headers| holds the request's header list for as long as the handle
// lives. kSuccess when the last answer is to be looked at (curl's result in |done|);
// the run's result otherwise.
int Perform(TransferRun& t, std::unique_ptr<curl_slist, ListDeleter>* headers, CURLcode* done) {
  for (int request = 0; request < 2; ++request) {
    // The two headers of the request, in this order (then a range, when one is asked);
    // curl adds only Host.
    std::vector<std::string> lines = {"Accept: */*",
                                      std::string("User-Agent: ") + CInetFile::kUserAgent};
    if (t.have > 0) {
      lines.push_back("Range: bytes=" + std::to_string(t.have) + "-");
      lines.push_back("If-Range: " + t.validator);
    }
    if (!MakeHeaders(lines, headers) ||
        curl_easy_setopt(t.easy, CURLOPT_HTTPHEADER, headers->get()) != CURLE_OK)
      return CInetFile::kInternetError;
    *done = curl_easy_perform(t.easy);
    if (t.cancelled) return CInetFile::kCancelled;
    if (!t.restart) break;
    if (request == 1) return CInetFile::kInternetError;
    // Nothing of the first answer was written: the file starts again from zero.
    if (!t.StartAgainFromZero().ok()) return CInetFile::kCannotCreate;
  }
  return CInetFile::kSuccess;
}

// The result of a run whose last request ended with |done|; the body, when taken, is
// closed (a body of its own kept locked).
int ResultOf(TransferRun& t, CURLcode done) {
  if (t.create_failed || t.write_failed) return CInetFile::kCannotCreate;
  if (t.bad_status || t.too_large) return CInetFile::kNotFound;
  if (done != CURLE_OK) {
    t.failure = FailureOf(t, done);
    return CInetFile::kInternetError;
  }
  const long status = StatusOf(t.easy);
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

// The run of one transfer; its result code. A failure of the HTTP layer is
// kInternetError; every other failure has a message of its own.
int Fetch(TransferRun& t, const std::string& url) {
  const std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  if (!parsed) return CInetFile::kInternetError;
  bool secure = false;
  if (!ParseHttpUrl(url, parsed.get(), &secure).ok()) return CInetFile::kBadUrl;
  if (t.resume && !t.OpenPartialFile().ok()) {
    t.create_failed = true;
    return CInetFile::kCannotCreate;
  }

  // Released before the header list and the parsed URL, which it refers to.
  std::unique_ptr<curl_slist, ListDeleter> headers;
  const std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) return CInetFile::kInternetError;
  t.easy = easy.get();
  if (!SetUpEasy(t.easy, parsed.get(), secure, t)) return CInetFile::kInternetError;
  CURLcode done = CURLE_OK;
  const int sent = Perform(t, &headers, &done);
  t.status = StatusOf(t.easy);
  if (sent != CInetFile::kSuccess) return sent;
  return ResultOf(t, done);
}

// A run that failed has its result already: its own body goes, with the folders made
// for it. A partial file keeps what it holds, for the next run to continue; an empty
// one this run opened goes (while still locked), with the folders made for it.
void DropFailedBody(TransferRun& t) {
  if (!t.resume) {
    t.file.Discard();
    base::RemoveEmptyFolders(t.made_folders);
    return;
  }
  if (t.file.valid() && t.file.Size() == 0) {
    // An empty file left behind is harmless; the next run replaces it.
    (void)::unlink(t.output_path.c_str());
    RemoveValidator(t.output_path);
    t.file.Discard();
    base::RemoveEmptyFolders(t.made_folders);
  }
  t.file.Discard();
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

// The body is handed over elsewhere; taking it here only lets it go.
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
  // A body that cannot be removed is a stray file in the temporary folder, nothing more.
  if (!path.empty()) (void)::unlink(path.c_str());
  path.clear();
  lock.Reset();
  base::RemoveEmptyFolders(made_folders);
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
  TransferRun t;
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
  if (!user.empty()) {
    t.user = &user;
    t.password = &password;
  }
  // Anything thrown ends the transfer as a failure of the HTTP layer.
  const int result = Guarded("a transfer", int{kInternetError}, [&] { return Fetch(t, url); });
  http_status_ = t.status;
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
  } else if (result != kSuccess) {
    DropFailedBody(t);
  }
  if (notify && !cancel_.load()) {
    notify(TransferMessage::kEnd, kind, static_cast<std::uint32_t>(result), id_);
  }
}

}  // namespace net