// The update window: its set-up and end, its log, the pump of the transfer list and the
// transfers' messages, its buttons, and the main window's shelf downloads. The check for
// a release is in auto_update_check.cpp, the release itself in auto_update_release.cpp.
#include "update/auto_update_client_dlg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "base/ansi.h"
#include "update/download_folders.h"
#include "update/log_text.h"
#include "update/server_choice_mirror.h"

namespace update {
namespace {

using log_text::Number;
using log_text::Utf8;

// Log texts.
constexpr const char* kNoServerListUrl =
    "请输传递服务器列表参数 格式： ...exe http://..../..serverlist.txt auto";
constexpr const char* kTooManyDownloads = "最多只能有10个文件同时下载";
constexpr const char* kRunUnderWay = "更新正在进行，请稍后再试";

// |part| * 100 / |whole|, without overflow; 0 for an unknown whole.
int Percent(std::uint64_t part, std::uint64_t whole) {
  return whole == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(part * 100 / whole, 100));
}

}  // namespace

CAutoUpdateClientDlg::CAutoUpdateClientDlg(Platform platform, std::string server_list_url,
                                           bool auto_update, BaseFolders folders)
    : loop_(platform.loop),
      window_(platform.window),
      dialogs_(platform.dialogs),
      shell_(platform.shell),
      server_list_url_(std::move(server_list_url)),
      auto_update_(auto_update),
      choice_(std::make_unique<ServerChoiceMirror>()),
      manifest_(std::move(folders)),
      transfers_(loop_,
                 [this](net::TransferMessage message, net::CInetFile& transfer,
                        std::uint32_t value) { OnTransferMessage(message, transfer, value); }) {
  window_.SetEvents(this);
}

CAutoUpdateClientDlg::~CAutoUpdateClientDlg() {
  window_.SetEvents(nullptr);
  loop_.KillTimer(kPumpTimer);
  loop_.KillTimer(kFirstCheckTimer);
  // Each transfer is cancelled and its thread joined; a stalled one notices the cancel
  // within a second. A download's body goes with its transfer; the files of fetches
  // that had not ended go here.
  transfers_.DeleteAll();
  for (const std::string& path : fetch_files_) unlink(ansi::NativePath(path).c_str());
}

bool CAutoUpdateClientDlg::OnInitDialog() {
  window_.SetOverallProgress(0);
  window_.SetCurrentProgress(0);
  if (server_list_url_.empty()) {
    dialogs_.Message(kNoServerListUrl, "系统提示");
    return false;
  }
  BeginRun();
  return true;
}

void CAutoUpdateClientDlg::BeginRun() {
  FetchServerList();
  loop_.SetTimer(kPumpTimer, kPumpIntervalMs, [this] { Pump(); });
  auto_download_ = true;
  loop_.SetTimer(kFirstCheckTimer, kFirstCheckDelayMs, [this] {
    loop_.SetTimer(kPumpTimer, kPumpIntervalMs, [this] { Pump(); });
    CheckSelectedServer();
    loop_.KillTimer(kFirstCheckTimer);
  });
}

void CAutoUpdateClientDlg::StartRun(const std::string& server_list_url, bool auto_update) {
  std::lock_guard<std::recursive_mutex> lock(window_lock_);
  if (transfers_.HasUpdaterTransfers()) {
    Log(kRunUnderWay);
    return;
  }
  server_list_url_ = server_list_url;
  auto_update_ = auto_update;
  BeginRun();
}

void CAutoUpdateClientDlg::Log(const std::string& message) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%.2u:%.2u:%.2u ", static_cast<unsigned>(local.tm_hour),
                static_cast<unsigned>(local.tm_min), static_cast<unsigned>(local.tm_sec));
  window_.AddLog(stamp + message);
}

std::string CAutoUpdateClientDlg::MakeTemporaryFile() {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/XmlXXXXXX";
  const int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return {};
  close(fd);
  std::string core;
  if (!ansi::CorePath(path, &core)) {
    unlink(path.c_str());
    return {};
  }
  fetch_files_.insert(core);
  return core;
}

void CAutoUpdateClientDlg::RemoveFetchFile(const std::string& path) {
  if (fetch_files_.erase(path) != 0) unlink(ansi::NativePath(path).c_str());
}

void CAutoUpdateClientDlg::RememberFolder(const net::CInetFile& t) const {
  const std::string& record = manifest_.folders().download_folders;
  if (record.empty()) return;
  const std::string native = ansi::NativePath(t.local_path);
  const std::size_t slash = native.rfind('/');
  if (slash == std::string::npos) return;  // a path that is not absolute is refused anyway
  // A download goes on without the record: only what a kill leaves is at stake.
  (void)DownloadFolders(ansi::NativePath(record))
      .Remember(slash == 0 ? "/" : native.substr(0, slash));
}

void CAutoUpdateClientDlg::Pump() {
  std::lock_guard<std::recursive_mutex> lock(window_lock_);
  // Whether one started matters only to the timer, which pumps again.
  (void)transfers_.Pump([this](net::CInetFile& next) {
    if (next.kind == net::CInetFile::kFile) {
      Log("正在更新文件：" + Utf8(next.file_name));
      RememberFolder(next);
    }
  });
}

void CAutoUpdateClientDlg::OnTransferMessage(net::TransferMessage message, net::CInetFile& transfer,
                                             std::uint32_t value) {
  std::lock_guard<std::recursive_mutex> lock(window_lock_);
  if (message == net::TransferMessage::kProgress)
    OnProgress(transfer, value);
  else
    OnEnd(transfer, static_cast<int>(value));
}

void CAutoUpdateClientDlg::OnProgress(net::CInetFile& t, std::uint32_t bytes) {
  const std::uint32_t expected = t.expected_length();
  const std::uint32_t received = t.bytes_received();
  if (expected != 0) window_.SetCurrentProgress(Percent(received, expected));
  if (t.kind != net::CInetFile::kFile) return;
  overall_bytes_ += bytes;
  if (total_length_ != 0) window_.SetOverallProgress(Percent(overall_bytes_, total_length_));
  if (!transfers_.IsDownload(t) || flash_ == nullptr || expected == 0) return;
  // The movie hears of downloads at most every 100 ms, however many run.
  const std::uint64_t now = os::MainLoop::TickCount();
  if (reported_ && now - last_report_ms_ < 100) return;
  char value[16];
  std::snprintf(value, sizeof value, "|%03d", Percent(received, expected));
  SetMovie("DLRatio" + std::to_string(t.slot()), t.display_name + value);
  reported_ = true;
  last_report_ms_ = now;
}

void CAutoUpdateClientDlg::SetMovie(const std::string& name, const std::string& value) {
  if (flash_ != nullptr) flash_->SetVariable(name, value);
}

void CAutoUpdateClientDlg::OnEnd(net::CInetFile& t, int result) {
  const int kind = t.kind;
  switch (kind) {
    case net::CInetFile::kServerList:
      OnServerListEnd(t);
      break;
    case net::CInetFile::kManifest:
      OnManifestEnd(t, result);
      break;
    case kSignatureFetch:
      OnSignatureEnd(t, result);
      break;
    default:
      OnFileEnd(t, result);
      break;
  }
  installs_.erase(t.id());
  transfers_.Remove(t);
  // "更新完毕" belongs to the end of a release (FinishRelease).
  if (transfers_.GetCount() == 0) window_.EnableChoice(true);
}

bool CAutoUpdateClientDlg::InstallFile(net::CInetFile& t) {
  // A shelf download: the body of this transfer alone, in a file of its own beside the
  // target, goes with the transfer unless it is moved into place here. Its target lies
  // in the user's folder, outside the release's staging, digests and manifest flags.
  const std::string target = ansi::NativePath(t.local_path);
  const std::string body = t.body_path();
  const std::string name = Utf8(t.file_name);
  // The new file takes the old one's place in one rename, keeping its mode; what is
  // not a regular file there is never replaced.
  struct stat old;
  const bool exists = lstat(target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) {
    Log("删除文件失败 [" + name + "]");
    return false;
  }
  if (exists) chmod(body.c_str(), old.st_mode & 07777);
  if (body.empty() || rename(body.c_str(), target.c_str()) != 0) {
    Log("重命名文件失败 [" + name + "]");
    return false;
  }
  t.BodyTaken();
  Log("下载文件成功 [" + name + "]");
  return true;
}

bool CAutoUpdateClientDlg::AddDownload(const std::string& key, const std::string& file_name,
                                       const std::string& url, const std::string& local_path,
                                       const std::string& user, const std::string& password) {
  std::lock_guard<std::recursive_mutex> lock(window_lock_);
  // An empty key names no download: the updater's own transfers have none.
  if (key.empty()) return false;
  if (net::CInetFile* existing = transfers_.FindDownload(key)) {
    // Started again: a run still going is cancelled first, so the restart never waits
    // for it to finish on its own; the new run continues the partial file.
    RememberFolder(*existing);
    transfers_.Restart(*existing);
    return true;
  }
  // Only the movie's downloads count: the updater's files never take their places.
  if (transfers_.download_count() >= TransferQueue::kMaxDownloads) {
    dialogs_.Message(kTooManyDownloads, "");
    return false;
  }
  auto transfer = transfers_.Make(net::CInetFile::kFile, url, local_path);
  transfer->file_name = file_name;
  transfer->server_label = server_label_;
  transfer->display_name = key;
  transfer->force_overwrite = true;
  transfer->user = user;
  transfer->password = password;
  // A pause, a failure or a kill keeps what arrived, and the next run asks for the rest.
  transfer->resume = true;
  RememberFolder(*transfer);
  return transfers_.AddDownload(std::move(transfer)) != nullptr;
}

net::CInetFile* CAutoUpdateClientDlg::Stop(const std::string& key) {
  net::CInetFile* transfer = transfers_.FindDownload(key);
  if (transfer == nullptr) return nullptr;
  // A stopped download no longer runs: it sends no end message.
  transfers_.Stop(*transfer);
  return transfer;
}

bool CAutoUpdateClientDlg::StopDownload(const std::string& key) {
  std::lock_guard<std::recursive_mutex> lock(window_lock_);
  return Stop(key) != nullptr;
}

bool CAutoUpdateClientDlg::RemoveDownload(const std::string& key) {
  std::lock_guard<std::recursive_mutex> lock(window_lock_);
  net::CInetFile* transfer = Stop(key);
  if (transfer == nullptr) return false;
  installs_.erase(transfer->id());
  transfers_.Remove(*transfer);
  if (transfers_.GetCount() == 0) window_.EnableChoice(true);
  return true;
}

void CAutoUpdateClientDlg::OnManualUpdate() {
  auto_download_ = true;
  CheckSelectedServer();
}

void CAutoUpdateClientDlg::OnInstallNow() {
  std::lock_guard<std::recursive_mutex> lock(window_lock_);
  if (manifest_.GetCount() > 0) QueueUpdateFiles(server_label_);
}

void CAutoUpdateClientDlg::OnCloseUpdates() {
  loop_.KillTimer(kPumpTimer);
  window_.Hide();
}

void CAutoUpdateClientDlg::OnServerChosen(int item) {
  choice_->Select(item);
  loop_.SetTimer(kPumpTimer, kPumpIntervalMs, [this] { Pump(); });
  CheckSelectedServer();
}

}  // namespace update
