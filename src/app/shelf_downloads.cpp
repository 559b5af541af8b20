#include "app/shelf_downloads.h"

#include <cstdio>
#include <set>

#include "app/lumora_dlg.h"
#include "base/ansi.h"
#include "base/folders.h"
#include "fields/field_list.h"
#include "library/shelf_names.h"
#include "library/shelf_operations.h"
#include "net/inet_file.h"
#include "net/partial_file.h"

namespace app {

using fields::ReadFieldList;

using library::CopyItemToGroup;
using library::GetItemName;
using library::ListGroupItems;
using library::MoveDownloadedItem;
namespace shelf_names = library::shelf_names;

namespace {

constexpr const char* kAlreadyDownloaded = "该作品已下载或正在下载";
constexpr int kUnsafeTargetCode = 7;  // "创建本地文件失败": the file is never made
// The longest name and URL "down" and "downloading" take (their fields of 64 and 256).
constexpr std::size_t kMaxName = 63;
constexpr std::size_t kMaxUrl = 255;

// The text after the last "/" of a URL (the whole URL when it has none).
std::string FilePartOf(const std::string& url) {
  const std::size_t slash = url.rfind('/');
  return slash == std::string::npos ? url : url.substr(slash + 1);
}

// A file name that stays inside its folder: no separator, not "." or "..", no zero byte.
bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

}  // namespace

std::string CShelfDownloads::ShelfDownloadTarget(const std::string& name,
                                                 const std::string& url) const {
  // The target lies in the user's "downloaded" folder, beside the shelf file; a name
  // from a catalogue or a URL that would leave that folder is refused.
  const std::string file_name = name + "-" + FilePartOf(url);
  if (!IsPlainFileName(file_name) || user_.user_shelf_path().empty()) return {};
  return DownloadedFolder() + "/" + file_name;
}

std::string CShelfDownloads::DownloadedFolder() const {
  return user_.user_shelf_path().substr(0, user_.user_shelf_path().rfind('/') + 1) + "downloaded";
}

std::string CShelfDownloads::ShelfDownloadTarget(const library::CXmlElement::Fields& item) const {
  // As "down" and "downloading" take the item's name and address from the movie.
  return ShelfDownloadTarget(std::string(ansi::CutToBytes(item.name, kMaxName)),
                             std::string(ansi::CutToBytes(item.dl_url, kMaxUrl)));
}

void CShelfDownloads::StartShelfDownload(const std::string& item_id, const std::string& name,
                                         const std::string& url, const std::string& target,
                                         const std::string& user, const std::string& password) {
  if (target.empty()) {
    // No file is made for a name that would leave its folder (or a folder that cannot
    // be made): the log names it, and the movie hears that this download ended failed
    // rather than waiting for it.
    update_client_->Log("下载文件失败 [" + ansi::ToUtf8Lossy(name + "-" + FilePartOf(url)) +
                        "], 错误代码 [" + std::to_string(kUnsafeTargetCode) + "]");
    TellEnd(item_id, kUnsafeTargetCode, net::CInetFile::MessageOf(kUnsafeTargetCode));
    return;
  }
  // The map names the file the transfer writes. A transfer of this id that is still
  // listed (running or paused) is restarted as it is, writing to the target it was made
  // with, which stays recorded; a new transfer writes to |target|. A download that
  // cannot start is named in the update window's log (or refused with a message); the
  // movie keeps the item in "正在下载", from where it can be started again.
  const auto [entry, made] = download_map_.try_emplace(item_id, target);
  if (!update_client_->AddDownload(item_id, name, url, target, user, password) && made)
    download_map_.erase(entry);
}

void CShelfDownloads::OnOpdsDown(const std::string& key, const std::string& name,
                                 const std::string& url, const std::string& user,
                                 const std::string& password, const std::string& downloads_folder) {
  if (key.empty()) return;  // names no download
  if (user_.user_shelf_path().empty()) {
    // Nobody signed in: into the program's own downloads folder, with no shelf entry.
    const std::string file_name = name + "-" + FilePartOf(url);
    std::string target;
    if (IsPlainFileName(file_name) &&
        base::MakeDirectories(ansi::NativePath(downloads_folder), 0755).ok())
      target = downloads_folder + file_name;
    StartShelfDownload(key, name, url, target, user, password);
    return;
  }
  bool refused = false, unsaved = false;
  {
    const CLumoraDlg::SharedFoldersLock locks =
        window_.LockSharedFolders(CLumoraDlg::kProgramFolder);
    std::string present;
    refused = Listed(key, &present);
    if (!refused) {
      library::CXmlElement::Fields item;
      item.element_name = ansi::FromUtf8Lossy("书");
      item.id = key;
      item.name = name;
      item.dl_url = url;
      (void)library::AddItemToGroup(user_.user_shelf_path(), shelf_names::Downloading(), item,
                                    &unsaved);
    }
  }
  if (!MayStart(refused, unsaved)) return;
  StartShelfDownload(key, name, url, ShelfDownloadTarget(name, url), user, password);
}

bool CShelfDownloads::Listed(const std::string& item_id, std::string* name) const {
  return GetItemName(user_.user_shelf_path(), item_id, shelf_names::Downloading(), name) ||
         GetItemName(user_.user_shelf_path(), item_id, shelf_names::Downloaded(), name);
}

bool CShelfDownloads::MayStart(bool listed, bool unsaved) {
  if (listed) {
    window_.platform().dialogs().Message(kAlreadyDownloaded, window_.ApplicationTitleUtf8());
    return false;
  }
  // An item that could not be recorded in "正在下载" is not downloaded: its end would
  // find nothing to move.
  if (unsaved) {
    window_.TellCannotSave();
    return false;
  }
  return true;
}

void CShelfDownloads::OnDown(const std::string& args) {
  std::string unused, catalogue, group_id, item_id, url;
  if (!ReadFieldList(
          args, {{&unused, 64}, {&catalogue, 256}, {&group_id, 64}, {&item_id, 64}, {&url, 256}}))
    return;
  std::string source;
  if (!window_.CheckSignedIn() ||
      !window_.catalogue_folders().ResolveForCopy(catalogue, user_.user_shelf_path(), &source))
    return;
  std::string name;
  bool refused = false;
  bool unsaved = false;
  {
    // The test and the copy are one step; the message waits for the user, and the
    // download starts, once the files are released.
    const CLumoraDlg::SharedFoldersLock locks = window_.LockSharedFolders(CLumoraDlg::kBothFolders);
    refused = Listed(item_id, &name);
    if (!refused) {
      if (CopyItemToGroup(source, group_id, item_id, user_.user_shelf_path(),
                          shelf_names::Downloading(), &unsaved) == 0)
        return;
      name.clear();
      if (!unsaved)
        // An item without a name is downloaded under an empty name.
        (void)GetItemName(user_.user_shelf_path(), item_id, shelf_names::Downloading(), &name);
    }
  }
  if (!MayStart(refused, unsaved)) return;
  StartShelfDownload(item_id, name, url);
}

void CShelfDownloads::OnDownloading(const std::string& args) {
  std::string item_id, state;
  // Missing fields stay empty, and an empty id names no transfer.
  (void)ReadFieldList(args, {{&item_id, 64}, {&state, 12}});
  if (state.find("false") != std::string::npos) {
    (void)update_client_->StopDownload(item_id);  // one not running has nothing to stop
    return;
  }
  std::string name, url;
  if (!ReadFieldList(args, {{&item_id, 64}, {&state, 12}, {&name, 64}, {&url, 256}}) ||
      !window_.CheckSignedIn())
    return;
  std::string stored;
  {
    // The lookup rewrites the user shelf file.
    const CLumoraDlg::SharedFoldersLock locks =
        window_.LockSharedFolders(CLumoraDlg::kProgramFolder);
    if (GetItemName(user_.user_shelf_path(), item_id, shelf_names::Downloading(), &stored))
      name = stored;
  }
  StartShelfDownload(item_id, name, url);
}

void CShelfDownloads::OnDownloadEnd(const std::string& item_id, int result,
                                    const std::string& message) {
  // A failed download stays in "正在下载", where it can be resumed; the update window's
  // log has named the failure.
  // An item no longer in "正在下载" (deleted meanwhile) has nothing to move.
  if (result == 0) (void)CompleteDownload(item_id);
  // The transfer leaves the list now; its target goes with it.
  download_map_.erase(item_id);
  TellEnd(item_id, result, message);
}

void CShelfDownloads::TellEnd(const std::string& item_id, int result, const std::string& message) {
  // How it ended, before the movie hears that it did: "ID|CODE|MESSAGE".
  window_.flash().SetVariable("DownloadResult",
                              item_id + "|" + std::to_string(result) + "|" + message);
  window_.flash().SetVariable("RetValDownloadEnd", "true");
}

bool CShelfDownloads::CompleteDownload(const std::string& item_id) {
  if (user_.user_shelf_path().empty()) return false;
  // Without a recorded target the item keeps the RDurl it had.
  auto target = download_map_.find(item_id);
  bool unsaved = false;
  bool moved = false;
  {
    const CLumoraDlg::SharedFoldersLock locks =
        window_.LockSharedFolders(CLumoraDlg::kProgramFolder);
    moved = MoveDownloadedItem(user_.user_shelf_path(), item_id,
                               target == download_map_.end() ? nullptr : &target->second, &unsaved);
  }
  // This runs inside the update window's handling of the transfer's end: the message
  // waits for the user once that handling is over, since a dialog's own loop could
  // otherwise remove the very transfer still being handled.
  if (unsaved) window_.platform().loop().Post([this] { window_.TellCannotSave(); });
  return moved;
}

void CShelfDownloads::DiscardShelfDownload(const std::string& item_id) {
  if (item_id.empty()) return;  // names no download
  // The partial files of the item: the one its listed transfer writes and the one of
  // its entry in "正在下载" (left by an earlier run), found before the entry goes.
  std::set<std::string> targets;
  if (auto mapped = download_map_.find(item_id); mapped != download_map_.end())
    targets.insert(mapped->second);
  if (!user_.user_shelf_path().empty()) {
    const CLumoraDlg::SharedFoldersLock locks =
        window_.LockSharedFolders(CLumoraDlg::kProgramFolder);
    for (const auto& item : ListGroupItems(user_.user_shelf_path(), shelf_names::Downloading()))
      if (item.id == item_id) targets.insert(ShelfDownloadTarget(item));
  }
  // Stopped first: once its thread has ended nobody writes its partial file.
  (void)update_client_->RemoveDownload(item_id);
  download_map_.erase(item_id);
  for (const std::string& target : targets) {
    // Another program of the user's still writing it keeps it; the log says so.
    if (!target.empty() && !net::CInetFile::RemovePartial(target))
      update_client_->Log("删除文件失败 [" + ansi::ToUtf8Lossy(net::PartialPathFor(target)) + "]");
  }
}

void CShelfDownloads::TakeStockOfPartialDownloads() {
  std::vector<std::pair<std::string, std::string>> shares;  // item id, "NNN"
  {
    // Under the lock another program of the user's copies an item into "正在下载"
    // with: an item it lists is never taken for one gone.
    const CLumoraDlg::SharedFoldersLock locks =
        window_.LockSharedFolders(CLumoraDlg::kProgramFolder);
    std::set<std::string> listed;  // the partial files' names (native)
    for (const auto& item : ListGroupItems(user_.user_shelf_path(), shelf_names::Downloading())) {
      const std::string partial = net::PartialPathFor(ShelfDownloadTarget(item));
      if (partial.empty()) continue;
      const std::string native = ansi::NativePath(partial);
      listed.insert(native.substr(native.rfind('/') + 1));
      std::uint64_t have = 0, whole = 0;
      if (!net::PartialShare(native, &have, &whole)) continue;
      char percent[8];
      std::snprintf(percent, sizeof percent, "%03d", static_cast<int>(have * 100 / whole));
      shares.emplace_back(item.id, percent);
    }
    // Partial files that stay are removed at a later sign-in.
    (void)net::RemovePartialsBut(
        ansi::NativePath(DownloadedFolder()),
        [&listed](const std::string& name) { return listed.count(name) != 0; });
  }
  for (const auto& [id, percent] : shares)
    window_.flash().SetVariable("DownloadPartial", id + "|" + percent);
}

}  // namespace app
