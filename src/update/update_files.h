// The update manifest: the XML file in which an update server lists the files of the
// current release. `CUpdateFiles` reads a downloaded manifest, works out each entry's
// local target path from its directory macro, keeps only the entries whose local file
// is out of date (CheckUpdates) and hands them out one by one (PopFront). It also
// writes a manifest of local files (AddScannedFile, Save).
//
// The manifest is hostile input. Only a regular file of at most kMaxFileBytes is read,
// opened without blocking; a document with a DOCTYPE is refused, nothing is fetched
// from the network and no entity is expanded; elements nest at most kMaxDepth deep.
// An entry whose FileName or LocalPath would leave its base folder, whose values are
// longer than kMaxValueBytes or whose SHA256 is not a digest is not taken: it is listed
// among the refused entries with the reason, for the caller to report. The optional
// patch elements (PatchURL, PatchFrom, PatchLength, PatchSHA256) are taken together or
// not at all: when one is malformed the entry stays, without a patch. Elements the
// reader does not know are ignored.
//
// Every operation takes the manifest's lock (a recursive one, so operations may call
// one another), so one manifest may be used from more than one thread.
#ifndef LUMORA_UPDATE_UPDATE_FILES_H_
#define LUMORA_UPDATE_UPDATE_FILES_H_

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "update/update_file.h"

namespace update {

// The folders the directory macros stand for, and the index of installed versions
// (all core paths: code page, '/' separators, no trailing separator).
struct BaseFolders {
  std::string current_dir;    // CURRENTDIR: the folder of the running program file
  std::string windows_dir;    // WINDOWSDIR: data folder + "/windows"
  std::string system_dir;     // SYSTEMDIR: data folder + "/system"
  std::string app_data_dir;   // APPDATADIR: the user's data home ($XDG_DATA_HOME)
  std::string version_index;  // data folder + "/installed-versions.txt"
  // The record of the folders the downloads write in (DownloadFolders); empty: none.
  std::string download_folders;  // data folder + "/download-folders.txt"
  // The folder whose files the user's instances change under its lock (the catalogues
  // and the settings file); an install into it takes that lock too. Empty: none.
  std::string locked_folder;  // data folder + "/public"
  // The journal of a release being put in place (ReleaseJournal); empty: releases are
  // installed without one.
  std::string release_journal;  // data folder + "/release-journal.txt"
  // The running program's own files (core paths): a release that replaces one of them
  // takes effect at the next start.
  std::vector<std::string> program_files;  // the program file and its desktop module
  // The minisign public keys the program trusts (ReleaseTrust); empty: none.
  std::string release_keys;  // current_dir + "/release-keys.pub"
  // The number of the installed release (InstalledRelease); empty: none kept.
  std::string installed_release;  // data folder + "/installed-release.txt"
  // The program folder belongs to the system's packages (base::IsSystemProgramFolder):
  // the package manager replaces the program's files, so the entries installed below
  // CURRENTDIR are left out of every release.
  bool program_folder_is_system = false;

  // The folders of this process and user, where the data folder is the data home +
  // "/vellari". Nothing is created.
  static BaseFolders ForThisUser();
};

// Why a manifest entry was not taken.
enum class Refusal {
  kUnsafeFileName,   // empty, ".", "..", or holding a separator or a control character
  kUnsafeLocalPath,  // absolute, a drive, a ".." part, or a control character
  kValueTooLong,     // a value longer than kMaxValueBytes in the code page
  kBadDigest,        // a SHA256 that is not 64 hexadecimal digits
};

// A manifest entry that was not taken: its FileName and LocalPath as the manifest gave
// them (code page) and the reason.
struct RefusedEntry {
  std::string file_name;
  std::string local_path;
  Refusal reason;
};

// The reason as a short English text, for logs.
const char* RefusalText(Refusal reason);

// Why a manifest was not loaded.
enum class LoadError {
  kNone,
  kUnreadable,      // missing, not a regular file, or it cannot be read
  kTooLarge,        // more than CUpdateFiles::kMaxFileBytes
  kMalformed,       // not well-formed in its declared encoding, or no document element
  kDoctype,         // it holds a DOCTYPE
  kTooDeep,         // elements nested deeper than CUpdateFiles::kMaxDepth
  kTooManyEntries,  // more than CUpdateFiles::kMaxEntries File elements
};

class CUpdateFiles {
 public:
  static constexpr std::size_t kMaxFileBytes = 16u << 20;
  static constexpr int kMaxDepth = 256;
  // A manifest with more File elements is refused whole.
  static constexpr std::size_t kMaxEntries = 10000;
  // Values of the manifest were written through 260-byte buffers.
  static constexpr std::size_t kMaxValueBytes = 259;

  // A manifest of this user's folders.
  CUpdateFiles();
  explicit CUpdateFiles(BaseFolders folders);
  virtual ~CUpdateFiles();
  CUpdateFiles(const CUpdateFiles&) = delete;
  CUpdateFiles& operator=(const CUpdateFiles&) = delete;

  // Clears the list, then reads the manifest at |path| (core path). False when it is
  // not a readable regular file within the limit, does not parse or is refused; true
  // otherwise, also with no File elements. A manifest with more than kMaxEntries File
  // elements is refused whole. Nothing is made on the disk: the folders of an entry
  // are made when its file is downloaded.
  [[nodiscard]] bool Load(const std::string& path);
  // Why the last Load returned false (kNone after one that returned true).
  LoadError GetLoadError() const;
  // True when an entry of the list lacks its Length (a decimal number) or its SHA256
  // digest, which every entry of a signed release carries; its FileName goes to
  // |file_name|.
  [[nodiscard]] bool FindEntryWithoutLengthOrDigest(std::string* file_name) const;
  // The entries the last Load did not take, in document order.
  std::vector<RefusedEntry> GetRefused() const;
  // The number of entries of the last Load left to the system's packages (those below
  // CURRENTDIR when BaseFolders::program_folder_is_system holds).
  std::size_t GetLeftToPackages() const;

  // Decides every entry, removes (and deletes) those that need no update and returns
  // the number left.
  std::size_t CheckUpdates();
  // The sum, as unsigned 32-bit, of the lengths of the entries that need updating.
  std::uint32_t GetTotalLength() const;
  // Removes the first entry and hands it over; null when the list is empty.
  std::unique_ptr<CUpdateFile> PopFront();
  std::size_t GetCount() const;
  void Clear();

  // Makes every missing folder of |path| (core path). True when the folder exists
  // afterwards.
  [[nodiscard]] bool CreateDirectories(const std::string& path);
  // True when |path| (core path) is an existing folder.
  bool IsPathExist(const std::string& path) const;

  // Records, after installing an entry's file, the version it was installed as; Scan
  // then reads it back as the file's version. An empty version removes the record.
  [[nodiscard]] bool RecordInstalledVersion(const std::string& target_path,
                                            const std::string& version);

  // The writer. Replaces the entries for |path| (compared without regard to case) by
  // a scan of the file there, with its SHA-256 digest; false when it cannot be
  // scanned.
  [[nodiscard]] bool AddScannedFile(const std::string& path);
  // The same for a file of a release: its entry is installed below the folder of
  // |install_dir| (a directory macro) in |local_path| (a sub-folder, or empty).
  [[nodiscard]] bool AddScannedFile(const std::string& path, const std::string& install_dir,
                                    const std::string& local_path);
  // Offers a patch for the entry of |path| (as given to AddScannedFile): the file
  // |patch_name| beside it, made from the file whose digest is |from_sha256|, of
  // |length| bytes and digest |sha256|. False when there is no such entry or a digest
  // is not one.
  [[nodiscard]] bool SetPatch(const std::string& path, const std::string& patch_name,
                              const std::string& from_sha256, std::uint64_t length,
                              const std::string& sha256);
  // Writes the manifest of the entries to |path| (core path), replacing the file
  // atomically; each entry's URL becomes base URL + "/" + local path + "/" + file name,
  // with "/" between the local path's folders, and its LocalPath is written with "\";
  // a patch's PatchURL is formed the same way with the patch's name.
  [[nodiscard]] bool Save(const std::string& path);
  // The bytes that Save writes, dated |now| (local time).
  std::string Print(std::time_t now);
  void SetBaseUrl(std::string url);

  const BaseFolders& folders() const { return folders_; }

 private:
  // The base folder of a directory macro.
  const std::string& BaseFolderOf(const std::string& install_dir) const;
  // Takes an entry that Load read, whose safe local path is |local|: its target path is
  // set, or it is left to the system's packages.
  void TakeLoadedEntry(std::unique_ptr<CUpdateFile> entry, const std::string& local);

  mutable std::recursive_mutex lock_;
  std::list<std::unique_ptr<CUpdateFile>> entries_;
  std::vector<RefusedEntry> refused_;
  std::size_t left_to_packages_ = 0;
  LoadError load_error_ = LoadError::kNone;
  BaseFolders folders_;
  std::string base_url_;
};

}  // namespace update

#endif  // LUMORA_UPDATE_UPDATE_FILES_H_
