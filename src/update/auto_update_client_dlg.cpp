#include "update/auto_update_client_dlg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "platform/ansi.h"
#include "platform/folder_lock.h"
#include "platform/shell_action.h"
#include "update/download_folders.h"
#include "update/file_digest.h"
#include "update/installed_release.h"
#include "update/release_journal.h"

namespace update {
namespace {

// Log texts.
constexpr const char* kFetchingServers = "正在连接获取服务器列表";
constexpr const char* kNoServers = "获得服务器列表失败";
constexpr const char* kUpToDate = "\r\n \r\n \r\n \r\n \r\n你当前的版本是最新的";
constexpr const char* kAllDone = "更新完毕";
constexpr const char* kNoServerListUrl =
    "请输传递服务器列表参数 格式： ...exe http://..../..serverlist.txt auto";
constexpr const char* kTooManyDownloads = "最多只能有10个文件同时下载";
constexpr const char* kRunUnderWay = "更新正在进行，请稍后再试";
constexpr const char* kNotVerified = "未找到发布密钥，更新文件未经签名验证";
constexpr const char* kUpdatedByPackages = "程序本身由系统的软件包更新，此处只更新数据文件";
constexpr int kRefusedEntryCode = 7;  // "创建本地文件失败": the file is never made

// Why a fetched manifest was not loaded, for the log.
const char* LoadErrorText(LoadError error) {
  switch (error) {
    case LoadError::kNone:
      break;
    case LoadError::kUnreadable:
      return "无法读取文件";
    case LoadError::kTooLarge:
      return "文件大小超过16 MB";
    case LoadError::kMalformed:
      return "不是有效的XML文档";
    case LoadError::kDoctype:
      return "含有DOCTYPE声明";
    case LoadError::kTooDeep:
      return "元素嵌套超过256层";
    case LoadError::kTooManyEntries:
      return "文件条目超过10000个";
  }
  return "无法读取文件";
}

std::string Utf8(const std::string& text) { return ansi::ToUtf8Lossy(text); }

// "%u" of the update texts.
std::string Number(std::uint64_t n) { return std::to_string(n); }

// |part| * 100 / |whole|, without overflow; 0 for an unknown whole.
int Percent(std::uint64_t part, std::uint64_t whole) {
  return whole == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(part * 100 / whole, 100));
}

}  // namespace

// The sorted combo box of servers as the core sees it: labels in byte order, each with
// its server; the window is told the result after every fill.
class CAutoUpdateClientDlg::ServerChoiceMirror : public net::ServerChoice {
 public:
  int AddString(const std::string& label) override {
    auto at = std::upper_bound(items_.begin(), items_.end(), label,
                               [](const std::string& l, const Item& i) { return l < i.label; });
    // Inserting may move the items: the position is taken from the new iterator.
    const auto inserted = items_.insert(at, Item{label, nullptr});
    return static_cast<int>(inserted - items_.begin());
  }
  void SetItemData(int item, const net::CServer* server) override {
    if (item >= 0 && item < static_cast<int>(items_.size())) items_[item].server = server;
  }
  void SetCurSel(int item) override {
    selected_ = item >= 0 && item < static_cast<int>(items_.size()) ? items_[item].server : nullptr;
  }
  void Clear() {
    items_.clear();
    selected_ = nullptr;
  }
  void Select(int item) { SetCurSel(item); }
  const net::CServer* selected() const { return selected_; }
  int SelectedItem() const {
    for (std::size_t i = 0; i < items_.size(); ++i)
      if (items_[i].server == selected_ && selected_ != nullptr) return static_cast<int>(i);
    return -1;
  }
  std::vector<std::string> Labels() const {
    std::vector<std::string> labels;
    for (const Item& i : items_) labels.push_back(Utf8(i.label));
    return labels;
  }

 private:
  struct Item {
    std::string label;
    const net::CServer* server;
  };
  std::vector<Item> items_;
  const net::CServer* selected_ = nullptr;
};

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

void CAutoUpdateClientDlg::FetchServerList() {
  window_.ClearLog();
  const std::string temp = MakeTemporaryFile();
  manifest_.Clear();
  window_.SetOverallProgress(0);
  window_.SetCurrentProgress(0);
  Log(kFetchingServers);
  overall_bytes_ = 0;
  auto transfer = transfers_.Make(net::CInetFile::kServerList, server_list_url_, temp);
  // A larger list is never read: its fetch stops there.
  transfer->body_limit = net::CServers::kMaxFileBytes;
  window_.EnableChoice(false);
  transfers_.Add(std::move(transfer));
}

void CAutoUpdateClientDlg::CheckSelectedServer() {
  const net::CServer* server = choice_->selected();
  if (server == nullptr) return;
  const std::string temp = MakeTemporaryFile();
  manifest_.Clear();
  window_.SetOverallProgress(0);
  window_.SetCurrentProgress(0);
  window_.ClearLog();
  Log("正在连接：" + Utf8(server->label()));
  overall_bytes_ = 0;
  auto transfer = transfers_.Make(net::CInetFile::kManifest, server->url(), temp);
  transfer->server_label = server->label();
  // A larger manifest is never read: its fetch stops there.
  transfer->body_limit = CUpdateFiles::kMaxFileBytes;
  window_.EnableChoice(false);
  transfers_.Add(std::move(transfer));
}

void CAutoUpdateClientDlg::Pump() {
  std::lock_guard<std::recursive_mutex> lock(window_lock_);
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
  const std::uint64_t now = platform::MainLoop::TickCount();
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

void CAutoUpdateClientDlg::RefillServerChoice() {
  choice_->Clear();
  servers_.FillComboBox(choice_.get());
  window_.SetServers(choice_->Labels(), choice_->SelectedItem());
}

void CAutoUpdateClientDlg::OnServerListEnd(net::CInetFile& t) {
  // A failed fetch leaves an empty file, and so no servers.
  const std::size_t count = servers_.ReadFile(t.local_path);
  if (count == 0) {
    CheckFailed(kNoServers);
  } else {
    Log("获取服务器列表成功,共取得 " + Number(count) + " 个可选服务器");
    RefillServerChoice();
    if (auto_update_) CheckSelectedServer();
  }
  RemoveFetchFile(t.local_path);
}

void CAutoUpdateClientDlg::OnManifestEnd(net::CInetFile& t, int result) {
  if (result != 0) {
    CheckFailed(Utf8(t.GetErrorMessage()) + "：" + Utf8(t.server_label));
    RemoveFetchFile(t.local_path);
    return;
  }
  Log("获取更新文件列表成功：" + Utf8(t.server_label));
  const ReleaseTrust trust(manifest_.folders().release_keys);
  if (manifest_.folders().release_keys.empty() || !trust.Enabled()) {
    if (!unverified_said_) Log(kNotVerified);
    unverified_said_ = true;
    ReadManifest(t.local_path, t.server_label, std::nullopt);
    return;
  }
  // Nothing of the release is read before its signature has been checked. The
  // signature's fetch starts at once, whatever else is listed.
  auto signature = transfers_.Make(kSignatureFetch, t.url + ".minisig", MakeTemporaryFile());
  signature->server_label = t.server_label;
  signature->body_limit = minisign::kMaxSignatureFileBytes;
  pending_manifests_[signature->id()] = PendingManifest{t.local_path, t.server_label};
  (void)transfers_.StartNow(std::move(signature));
}

void CAutoUpdateClientDlg::OnSignatureEnd(net::CInetFile& t, int result) {
  auto pending = pending_manifests_.find(t.id());
  if (pending == pending_manifests_.end()) return;
  const PendingManifest manifest = pending->second;
  pending_manifests_.erase(pending);
  const ReleaseCheck check =
      ReleaseTrust(manifest_.folders().release_keys)
          .Check(manifest.path, result == 0 ? t.local_path : std::string(),
                 InstalledRelease(manifest_.folders().installed_release), std::time(nullptr));
  RemoveFetchFile(t.local_path);
  if (check.verdict != Verdict::kTrusted) {
    CheckFailed("更新文件列表无效：" + Utf8(manifest.server_label) +
                ", 原因: " + VerdictText(check));
    RemoveFetchFile(manifest.path);
    return;
  }
  ReadManifest(manifest.path, manifest.server_label, check.terms.release);
}

void CAutoUpdateClientDlg::ReadManifest(const std::string& path, const std::string& label,
                                        std::optional<std::uint64_t> release) {
  loaded_release_.reset();
  if (!manifest_.Load(path)) {
    CheckFailed("更新文件列表无效：" + Utf8(label) +
                ", 原因: " + LoadErrorText(manifest_.GetLoadError()));
    RemoveFetchFile(path);
    return;
  }
  // A program of the system's packages keeps the data folder's release; its own files
  // are the package manager's.
  if (manifest_.folders().program_folder_is_system && !packages_said_) {
    Log(kUpdatedByPackages);
    packages_said_ = true;
  }
  std::string lacking;
  if (release && manifest_.FindEntryWithoutLengthOrDigest(&lacking)) {
    manifest_.Clear();
    CheckFailed("更新文件列表无效：" + Utf8(label) + ", 原因: 条目 [" + Utf8(lacking) +
                "] 缺少长度或SHA256");
    RemoveFetchFile(path);
    return;
  }
  // A release with an entry that is never installed is not recorded as installed.
  if (manifest_.GetRefused().empty()) loaded_release_ = release;
  // Entries whose names would leave their folder are never downloaded; without them
  // the release cannot be installed whole.
  refused_reason_.clear();
  for (const RefusedEntry& refused : manifest_.GetRefused()) {
    const std::string reason = "下载文件失败 [" + Utf8(refused.file_name) + "], 错误代码 [" +
                               Number(kRefusedEntryCode) + "]";
    Log(reason);
    if (refused_reason_.empty()) refused_reason_ = reason;
  }
  files_to_update_ = static_cast<std::uint32_t>(manifest_.CheckUpdates());
  total_length_ = manifest_.GetTotalLength();
  if (files_to_update_ != 0) {
    Log("需更新文件总数: " + Number(files_to_update_) +
        ", 文件总长度: " + Number(total_length_ / 1024) + " KB");
    SetMovie("UpdatedFile", "0");
    SetMovie("TotalUpdateFile", Number(files_to_update_));
  } else {
    Log(kUpToDate);
    // A signed release that needs nothing is the installed one.
    if (auto_download_) {
      release_to_record_ = loaded_release_;
      RecordInstalledRelease();
    }
  }
  server_label_ = label;
  if (auto_download_) {
    auto_download_ = false;
    QueueUpdateFiles(server_label_);
  }
  RemoveFetchFile(path);
}

void CAutoUpdateClientDlg::RecordInstalledRelease() {
  const std::string& file = manifest_.folders().installed_release;
  if (release_to_record_ && !file.empty() &&
      !InstalledRelease(file).Write(*release_to_record_).ok())
    Log("无法记录已安装的版本 " + Number(*release_to_record_));
  release_to_record_.reset();
}

void CAutoUpdateClientDlg::QueueUpdateFiles(const std::string& server_label) {
  if (manifest_.GetCount() == 0) return;
  release_to_record_ = loaded_release_;
  // The files queued here are one release, installed whole or not at all (files
  // queued while one is under way join it).
  if (!release_) {
    std::vector<std::string> own;
    for (const std::string& file : manifest_.folders().program_files)
      own.push_back(ansi::NativePath(file));
    release_ = std::make_unique<StagedRelease>(std::move(own));
    release_failure_.clear();
    release_installs_.clear();
  }
  if (release_failure_.empty()) release_failure_ = refused_reason_;
  while (std::unique_ptr<CUpdateFile> entry = manifest_.PopFront()) {
    ++release_pending_;
    // A patch from the installed file, when there is one, instead of the whole file: the
    // overall progress counts the bytes fetched.
    std::optional<UpdatePatch> patch = UpdatePatch::Choose(*entry);
    const std::uint64_t fetched = patch ? patch->length() : entry->length();
    if (patch)
      total_length_ = static_cast<std::uint32_t>(
          total_length_ - std::min<std::uint64_t>(total_length_, entry->length()) + fetched);
    auto transfer = transfers_.Make(net::CInetFile::kFile, patch ? patch->url() : entry->url(),
                                    entry->target_path());
    transfer->file_name = entry->file_name();
    transfer->server_label = server_label;
    transfer->set_expected_length(static_cast<std::uint32_t>(fetched));
    transfer->register_flag = entry->register_flag();
    transfer->unpack_flag = entry->zip_file();
    transfer->force_overwrite = entry->force_overwrite();
    transfer->execute_flag = entry->execute();
    transfer->execute_parameters = entry->execute_par();
    // The base folder and the folders of LocalPath are made only for a body to write.
    transfer->make_folders = true;
    installs_[transfer->id()] =
        Install{entry->file_version(), entry->sha256(), fetched, std::move(patch)};
    window_.EnableChoice(false);
    transfers_.Add(std::move(transfer));
  }
}

void CAutoUpdateClientDlg::OnFileEnd(net::CInetFile& t, int result) {
  const int engine_result = result;
  // A body shorter than the manifest's Length is a broken transfer: never installed.
  auto install = installs_.find(t.id());
  struct stat body;
  if (result == 0 && install != installs_.end() && install->second.length != 0 &&
      (stat(t.body_path().c_str(), &body) != 0 ||
       static_cast<std::uint64_t>(body.st_size) < install->second.length))
    result = net::CInetFile::kInternetError;
  const bool download = transfers_.IsDownload(t);
  if (download) {
    // A shelf download is no part of a release: it is put in place on its own. One
    // that cannot be is a file that was not made.
    if (result != 0)
      Log("下载文件失败 [" + Utf8(t.file_name) + "], 错误代码 [" + Number(result) + "]");
    else if (!InstallFile(t))
      result = net::CInetFile::kCannotCreate;
  } else if (install != installs_.end() && install->second.patch) {
    // A patch that gives no file leaves its entry to the whole file, fetched once; the
    // entry is neither counted nor done yet.
    if (!StagePatched(t, result, *install->second.patch)) {
      FetchWholeFile(t, install->second);
      return;
    }
  } else if (result != 0) {
    const std::string reason =
        "下载文件失败 [" + Utf8(t.file_name) + "], 错误代码 [" + Number(result) + "]";
    Log(reason);
    FailRelease(reason);
  } else {
    (void)StageFile(t, t.TakeBody(), false);
  }
  if (download) {
    SetMovie("DLRatio" + std::to_string(t.slot()), t.display_name + "|100");
    // The transfer's own message for its own code; the code page's text of a code
    // given here (a file that could not be put in place).
    const std::string message = result == 0               ? std::string()
                                : result == engine_result ? t.GetErrorMessage()
                                                          : net::CInetFile::MessageOf(result);
    if (download_end_) download_end_(t.display_name, result, message);
  } else {
    // The files of the release that have ended, this one included: only update files
    // are counted, and never more than the release has.
    const std::int64_t listed = static_cast<std::int64_t>(transfers_.UpdateFileCount());
    SetMovie("UpdatedFile",
             Number(static_cast<std::uint64_t>(std::clamp<std::int64_t>(
                 std::int64_t{files_to_update_} - listed + 1, 0, files_to_update_))));
    SetMovie("TotalUpdateFile", Number(files_to_update_));
    if (release_pending_ > 0 && --release_pending_ == 0) FinishRelease();
  }
}

bool CAutoUpdateClientDlg::StagePatched(net::CInetFile& t, int result, const UpdatePatch& patch) {
  std::string why = "补丁下载失败, 错误代码 [" + Number(result) + "]";
  if (result == 0) {
    net::CInetFile::KeptBody patched;
    // The patch's result was checked against the entry's digest as it was made.
    if (patch.Apply(t.TakeBody(), &patched, &why).ok()) {
      (void)StageFile(t, std::move(patched), true);
      return true;
    }
  }
  Log("补丁未使用 [" + Utf8(t.file_name) + "], 原因: " + why + ", 改为下载完整文件");
  return false;
}

void CAutoUpdateClientDlg::FetchWholeFile(const net::CInetFile& t, const Install& install) {
  const UpdatePatch& patch = *install.patch;
  auto whole = transfers_.Make(net::CInetFile::kFile, patch.file_url(), t.local_path);
  whole->file_name = t.file_name;
  whole->server_label = t.server_label;
  whole->set_expected_length(static_cast<std::uint32_t>(patch.file_length()));
  whole->register_flag = t.register_flag;
  whole->unpack_flag = t.unpack_flag;
  whole->force_overwrite = t.force_overwrite;
  whole->execute_flag = t.execute_flag;
  whole->execute_parameters = t.execute_parameters;
  whole->make_folders = true;
  total_length_ = static_cast<std::uint32_t>(total_length_ + patch.file_length());
  installs_[whole->id()] = Install{install.version, install.sha256, patch.file_length(), {}};
  transfers_.Add(std::move(whole));
}

bool CAutoUpdateClientDlg::StageFile(net::CInetFile& t, net::CInetFile::KeptBody body,
                                     bool digest_checked) {
  const std::string name = Utf8(t.file_name);
  auto install = installs_.find(t.id());
  if (body.path.empty() || !release_) {
    body.Discard();
    FailRelease("重命名文件失败 [" + name + "]");
    return false;
  }
  // A publisher's digest is checked before the file is taken into the release.
  if (!digest_checked && install != installs_.end() && !install->second.sha256.empty()) {
    std::string digest;
    if (!Sha256OfFile(body.path, &digest).ok() || digest != install->second.sha256) {
      body.Discard();
      const std::string reason = "文件校验失败 [" + name + "]";
      Log(reason);
      FailRelease(reason);
      return false;
    }
  }
  const std::string target = ansi::NativePath(t.local_path);
  // Only a program is made executable: a document or a script marked Execute opens in
  // its application instead.
  const bool program = t.execute_flag && platform::IsProgramFile(body.path);
  StagedRelease::File file{name, target,
                           install != installs_.end() ? install->second.version : std::string(),
                           program, std::move(body)};
  if (platform::Status staged = release_->Stage(std::move(file)); !staged.ok()) {
    // What is not a regular file is never replaced.
    const std::string reason =
        (staged.code() == platform::Status::Code::kNotRegular ? "删除文件失败 ["
                                                              : "重命名文件失败 [") +
        name + "]";
    Log(reason);
    FailRelease(reason);
    return false;
  }
  // A release that failed already keeps nothing more.
  if (!release_failure_.empty()) release_->Discard();
  release_installs_[target] =
      Installed{name, target, t.execute_flag, t.register_flag, t.execute_parameters};
  Log("下载文件成功 [" + name + "]");
  return true;
}

void CAutoUpdateClientDlg::CheckFailed(const std::string& reason) {
  Log(reason);
  SetMovie("UpdateResult", "failed|" + ansi::FromUtf8Lossy(reason));
}

void CAutoUpdateClientDlg::FailRelease(const std::string& reason) {
  if (release_failure_.empty()) release_failure_ = reason;
  // What was staged goes at once; files still to come are dropped as they arrive.
  if (release_) release_->Discard();
}

void CAutoUpdateClientDlg::FinishRelease() {
  std::unique_ptr<StagedRelease> release = std::move(release_);
  std::map<std::string, Installed> installs = std::move(release_installs_);
  release_installs_.clear();
  std::string failure = std::move(release_failure_);
  release_failure_.clear();
  bool restart = false;
  if (failure.empty() && release) {
    // The user's other instances read, change and write the catalogues and the
    // settings file under the lock of their folder: the release takes its place under
    // it too. A lock that cannot be had is logged, and the renames are made as alone.
    platform::FolderLock locked;
    if (const std::string& folder = manifest_.folders().locked_folder; !folder.empty()) {
      const platform::Status taken = platform::FolderLock::Acquire(
          ansi::NativePath(folder), platform::FolderLock::Mode::kMake, &locked);
      if (!taken.ok() && !taken.IsNotFound()) Log("文件夹加锁失败 [" + Utf8(folder) + "]");
    }
    // The release's number is recorded with its files, by the journal.
    const ReleaseJournal journal(ansi::NativePath(manifest_.folders().release_journal),
                                 manifest_.folders().version_index,
                                 manifest_.folders().installed_release);
    const std::optional<std::uint64_t> number = std::exchange(release_to_record_, std::nullopt);
    if (platform::Status committed = release->Commit(journal, number, &restart); !committed.ok())
      failure = "无法替换文件: " + ansi::ToUtf8Lossy(committed.ToString());
  }
  if (!failure.empty()) {
    Log("更新失败: " + failure);
    SetMovie("UpdateResult", "failed|" + ansi::FromUtf8Lossy(failure));
    return;
  }
  // In place: what the manifest asks of each file now.
  for (const auto& [target, file] : installs) {
    if (file.execute) shell_.Open(target, Utf8(file.execute_parameters));
    // Components are not registered on this platform: the step is only logged.
    if (file.register_flag) Log("跳过注册组件 [" + file.name + "]");
  }
  Log(kAllDone);
  SetMovie("UpdateResult", restart ? "ok|restart" : "ok");
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
                                       const std::string& url, const std::string& local_path) {
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
