// The update window's release: the files a manifest lists as out of date are fetched
// (whole, or as a patch from the installed file), verified and staged, and put in place
// together, or not at all.
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <optional>
#include <utility>

#include "base/ansi.h"
#include "base/folder_lock.h"
#include "os/shell_action.h"
#include "update/auto_update_client_dlg.h"
#include "update/file_digest.h"
#include "update/installed_release.h"
#include "update/log_text.h"
#include "update/release_journal.h"

namespace update {
namespace {

using log_text::Number;
using log_text::Utf8;

// Log texts.
constexpr const char* kAllDone = "更新完毕";

}  // namespace

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
    // A file that cannot be staged fails the release itself.
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
      // A file that cannot be staged fails the release itself.
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
  const bool program = t.execute_flag && os::IsProgramFile(body.path);
  StagedRelease::File file{name, target,
                           install != installs_.end() ? install->second.version : std::string(),
                           program, std::move(body)};
  if (base::Status staged = release_->Stage(std::move(file)); !staged.ok()) {
    // What is not a regular file is never replaced.
    const std::string reason =
        (staged.code() == base::Status::Code::kNotRegular ? "删除文件失败 [" : "重命名文件失败 [") +
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
    base::FolderLock locked;
    if (const std::string& folder = manifest_.folders().locked_folder; !folder.empty()) {
      const base::Status taken = base::FolderLock::Acquire(ansi::NativePath(folder),
                                                           base::FolderLock::Mode::kMake, &locked);
      if (!taken.ok() && !taken.IsNotFound()) Log("文件夹加锁失败 [" + Utf8(folder) + "]");
    }
    // The release's number is recorded with its files, by the journal.
    const ReleaseJournal journal(ansi::NativePath(manifest_.folders().release_journal),
                                 manifest_.folders().version_index,
                                 manifest_.folders().installed_release);
    const std::optional<std::uint64_t> number = std::exchange(release_to_record_, std::nullopt);
    if (base::Status committed = release->Commit(journal, number, &restart); !committed.ok())
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

void CAutoUpdateClientDlg::RecordInstalledRelease() {
  const std::string& file = manifest_.folders().installed_release;
  if (release_to_record_ && !file.empty() &&
      !InstalledRelease(file).Write(*release_to_record_).ok())
    Log("无法记录已安装的版本 " + Number(*release_to_record_));
  release_to_record_.reset();
}

}  // namespace update
