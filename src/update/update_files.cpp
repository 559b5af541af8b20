// The update manifest: loading a manifest (its bytes are read by ManifestReader), the
// entries' base folders, the decision of what needs updating and the list handed out.
// The writer's side is in manifest_writer.cpp.
#include "update/update_files.h"

#include <mutex>
#include <utility>

#include "base/ansi.h"
#include "base/files.h"
#include "base/folders.h"
#include "platform/desktop_module.h"
#include "update/download_folders.h"
#include "update/installed_release.h"
#include "update/manifest_reader.h"
#include "update/release_journal.h"
#include "update/release_trust.h"
#include "update/version_index.h"

namespace update {

const char* RefusalText(Refusal reason) {
  switch (reason) {
    case Refusal::kUnsafeFileName:
      return "the file name is not a plain name";
    case Refusal::kUnsafeLocalPath:
      return "the local path leaves its base folder";
    case Refusal::kValueTooLong:
      return "a value is longer than 259 bytes";
    case Refusal::kBadDigest:
      return "the SHA256 value is not a digest";
  }
  return "refused";
}

BaseFolders BaseFolders::ForThisUser() {
  BaseFolders folders;
  const std::string data_home = ansi::CorePathLossy(base::DataHome());
  const std::string data_folder = data_home + "/vellari";
  const std::string program = ansi::CorePathLossy(base::ProgramFile());
  const std::size_t slash = program.rfind('/');
  folders.current_dir = slash == std::string::npos ? "." : program.substr(0, slash);
  folders.windows_dir = data_folder + "/windows";
  folders.system_dir = data_folder + "/system";
  folders.app_data_dir = data_home;
  folders.version_index = data_folder + "/installed-versions.txt";
  folders.download_folders = data_folder + "/" + DownloadFolders::kFileName;
  folders.locked_folder = data_folder + "/public";
  folders.release_journal = data_folder + "/" + ReleaseJournal::kFileName;
  folders.program_files = {program, ansi::CorePathLossy(platform::DesktopModulePath())};
  folders.release_keys = folders.current_dir + "/" + ReleaseTrust::kKeyFileName;
  folders.installed_release = data_folder + "/" + InstalledRelease::kFileName;
  folders.program_folder_is_system =
      base::IsSystemProgramFolder(ansi::NativePath(folders.current_dir));
  return folders;
}

CUpdateFiles::CUpdateFiles() : CUpdateFiles(BaseFolders::ForThisUser()) {}

CUpdateFiles::CUpdateFiles(BaseFolders folders) : folders_(std::move(folders)) {}

CUpdateFiles::~CUpdateFiles() { Clear(); }

const std::string& CUpdateFiles::BaseFolderOf(const std::string& install_dir) const {
  const std::string macro = ansi::Lower(install_dir);
  if (macro == "windowsdir") return folders_.windows_dir;
  if (macro == "systemdir") return folders_.system_dir;
  if (macro == "appdatadir") return folders_.app_data_dir;
  return folders_.current_dir;
}

bool CUpdateFiles::Load(const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  Clear();
  refused_.clear();
  left_to_packages_ = 0;
  std::string bytes;
  if (base::Status read = base::ReadRegularFile(ansi::NativePath(path), kMaxFileBytes, &bytes);
      !read.ok()) {
    load_error_ = read.code() == base::Status::Code::kTooLarge ? LoadError::kTooLarge
                                                               : LoadError::kUnreadable;
    return false;
  }
  ManifestReader reader;
  load_error_ = reader.Parse(bytes);
  if (load_error_ != LoadError::kNone) return false;
  for (std::size_t i = 0; i < reader.size(); ++i) {
    ManifestReader::Entry read = reader.Read(i, folders_.version_index);
    if (read.refusal)
      refused_.push_back(
          RefusedEntry{read.file->file_name(), read.file->local_path(), *read.refusal});
    else
      TakeLoadedEntry(std::move(read.file), read.local_path);
  }
  return true;
}

void CUpdateFiles::TakeLoadedEntry(std::unique_ptr<CUpdateFile> entry, const std::string& local) {
  // Nothing is made on the disk here: an entry's folders are made only when its file is
  // downloaded.
  const std::string& base = BaseFolderOf(entry->install_dir_);
  if (folders_.program_folder_is_system && &base == &folders_.current_dir) {
    ++left_to_packages_;
    return;
  }
  entry->target_path_ = (local.empty() ? base : base + "/" + local) + "/" + entry->file_name_;
  entries_.push_back(std::move(entry));
}

bool CUpdateFiles::FindEntryWithoutLengthOrDigest(std::string* file_name) const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  for (const auto& entry : entries_)
    if (!entry->has_length() || entry->sha256().empty()) {
      *file_name = entry->file_name();
      return true;
    }
  return false;
}

LoadError CUpdateFiles::GetLoadError() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return load_error_;
}

std::vector<RefusedEntry> CUpdateFiles::GetRefused() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return refused_;
}

std::size_t CUpdateFiles::GetLeftToPackages() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return left_to_packages_;
}

std::size_t CUpdateFiles::CheckUpdates() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  std::size_t count = 0;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if ((*it)->NeedsUpdate()) {
      ++count;
      ++it;
    } else {
      it = entries_.erase(it);
    }
  }
  return count;
}

std::uint32_t CUpdateFiles::GetTotalLength() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  std::uint32_t total = 0;
  for (const auto& entry : entries_)
    if (entry->needs_update()) total += static_cast<std::uint32_t>(entry->length());
  return total;
}

std::unique_ptr<CUpdateFile> CUpdateFiles::PopFront() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (entries_.empty()) return nullptr;
  std::unique_ptr<CUpdateFile> first = std::move(entries_.front());
  entries_.pop_front();
  return first;
}

std::size_t CUpdateFiles::GetCount() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return entries_.size();
}

void CUpdateFiles::Clear() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  entries_.clear();
}

bool CUpdateFiles::CreateDirectories(const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  std::string folder = path;
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  // A folder that appears meanwhile counts as made.
  return !folder.empty() && base::MakeDirectories(ansi::NativePath(folder)).ok();
}

bool CUpdateFiles::IsPathExist(const std::string& path) const {
  std::string folder = path;
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return !folder.empty() && base::IsDirectory(ansi::NativePath(folder));
}

bool CUpdateFiles::RecordInstalledVersion(const std::string& target_path,
                                          const std::string& version) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return VersionIndex(folders_.version_index).Record(target_path, version).ok();
}

}  // namespace update
