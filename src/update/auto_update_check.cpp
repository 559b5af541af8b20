// The update window's check for a release: the server list, the manifest of the chosen
// server and its signature, and the reading of the manifest, up to the files it lists
// as out of date.
#include <ctime>
#include <optional>
#include <utility>

#include "base/ansi.h"
#include "update/auto_update_client_dlg.h"
#include "update/installed_release.h"
#include "update/log_text.h"
#include "update/server_choice_mirror.h"

namespace update {
namespace {

using log_text::Number;
using log_text::Utf8;

// Log texts.
constexpr const char* kFetchingServers = "正在连接获取服务器列表";
constexpr const char* kNoServers = "获得服务器列表失败";
constexpr const char* kUpToDate = "\r\n \r\n \r\n \r\n \r\n你当前的版本是最新的";
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

}  // namespace

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
  // A transfer that cannot start ends through OnFileEnd like any other.
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
  LogRefusedEntries();
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

void CAutoUpdateClientDlg::LogRefusedEntries() {
  // Entries whose names would leave their folder are never downloaded; without them
  // the release cannot be installed whole.
  refused_reason_.clear();
  for (const RefusedEntry& refused : manifest_.GetRefused()) {
    const std::string reason = "下载文件失败 [" + Utf8(refused.file_name) + "], 错误代码 [" +
                               Number(kRefusedEntryCode) + "]";
    Log(reason);
    if (refused_reason_.empty()) refused_reason_ = reason;
  }
}

void CAutoUpdateClientDlg::CheckFailed(const std::string& reason) {
  Log(reason);
  SetMovie("UpdateResult", "failed|" + ansi::FromUtf8Lossy(reason));
}

}  // namespace update
