// The update window: it fetches the list of update servers, the manifest of the chosen
// server, downloads what is out of date and installs it, logging each step with the
// time; and it runs the shelf's downloads for the main window in the same list of
// transfers, under one pump, one limit and one progress report. It lives hidden for
// the whole run of the program; the user can bring it forward.
//
// Everything here runs on the main loop's thread. Transfers report from their worker
// threads; their messages are handed to the main loop and matched to the transfer by
// its id, so a message of a transfer that is gone finds nothing.
#ifndef LUMORA_UPDATE_AUTO_UPDATE_CLIENT_DLG_H_
#define LUMORA_UPDATE_AUTO_UPDATE_CLIENT_DLG_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "net/server_list.h"
#include "os/main_loop.h"
#include "platform/dialogs.h"
#include "platform/shell.h"
#include "platform/update_window.h"
#include "update/movie_variables.h"
#include "update/release_trust.h"
#include "update/staged_release.h"
#include "update/transfer_queue.h"
#include "update/update_files.h"
#include "update/update_patch.h"

namespace update {

class ServerChoiceMirror;

class CAutoUpdateClientDlg : public platform::UpdateWindowEvents {
 public:
  static constexpr unsigned kPumpTimer = 1000;
  static constexpr unsigned kFirstCheckTimer = 1001;
  static constexpr unsigned kPumpIntervalMs = 100;
  static constexpr unsigned kFirstCheckDelayMs = 3000;
  // The fetch of a manifest's signature (its URL + ".minisig"), a transfer of its own.
  static constexpr int kSignatureFetch = 3;

  struct Platform {
    os::MainLoop& loop;
    platform::UpdateWindow& window;
    platform::Dialogs& dialogs;
    platform::Shell& shell;
  };

  // |server_list_url| and |auto_update| come from the command line; |folders| are where
  // manifest entries are installed.
  CAutoUpdateClientDlg(Platform platform, std::string server_list_url, bool auto_update,
                       BaseFolders folders = BaseFolders::ForThisUser());
  ~CAutoUpdateClientDlg() override;  // cancels every transfer and waits for it
  CAutoUpdateClientDlg(const CAutoUpdateClientDlg&) = delete;
  CAutoUpdateClientDlg& operator=(const CAutoUpdateClientDlg&) = delete;

  // Start-up: fetches the server list and starts the timers. False when there is no
  // server-list URL (after telling the user): the program then ends.
  bool OnInitDialog();
  void SetFlashControl(MovieVariables* control) { flash_ = control; }
  // Called when a shelf download has ended, with its key, result code and the message
  // of that code (code page; empty on success).
  using DownloadEnd =
      std::function<void(const std::string& key, int result, const std::string& message)>;
  void SetDownloadEnd(DownloadEnd on_end) { download_end_ = std::move(on_end); }
  // Shows the window (it starts hidden).
  void ShowWindow() { window_.Show(); }
  // The run of start-up once more, for a later start of the program: the server list
  // from |server_list_url|, with |auto_update| as the command line's mode. A run still
  // under way (a transfer of the updater's own listed) is left alone, and the log says
  // so.
  void StartRun(const std::string& server_list_url, bool auto_update);

  // The main window's downloads, by key (the item id; an empty key names none).
  // AddDownload restarts a download with that key, refuses a new one when ten downloads
  // are listed, or starts a new one. Each keeps its body in a partial file beside
  // |local_path| (net::CInetFile::resume), which a stop, a failure or a kill leaves for
  // the next run to continue. |user| and |password| are answered to a server that asks
  // (net::CInetFile::user).
  [[nodiscard]] bool AddDownload(const std::string& key, const std::string& file_name,
                                 const std::string& url, const std::string& local_path,
                                 const std::string& user = {}, const std::string& password = {});
  // Stops the download and waits for its thread; false when there is none.
  [[nodiscard]] bool StopDownload(const std::string& key);
  // Stops it and removes it from the list.
  [[nodiscard]] bool RemoveDownload(const std::string& key);
  // Logs an entry, with the time, in the window's log.
  void Log(const std::string& message);

  // The window's buttons and server choice.
  void OnManualUpdate() override;
  void OnInstallNow() override;
  void OnCloseUpdates() override;
  void OnServerChosen(int item) override;

  std::size_t transfer_count() const { return transfers_.GetCount(); }

 private:
  // What an update file needs once it has arrived.
  struct Install {
    std::string version;
    std::string sha256;
    std::uint64_t length = 0;          // the manifest's Length, or the patch's when one is fetched
    std::optional<UpdatePatch> patch;  // set: the transfer fetches this patch
  };
  // A file of the release in place, for what the manifest says to do next.
  struct Installed {
    std::string name;    // UTF-8
    std::string target;  // native
    bool execute = false;
    bool register_flag = false;
    std::string execute_parameters;  // code page
  };

  // Fetches the server list and starts the pump and the first check's timer.
  void BeginRun();
  void FetchServerList();
  void CheckSelectedServer();
  void Pump();
  void OnTransferMessage(net::TransferMessage message, net::CInetFile& transfer,
                         std::uint32_t value);
  void OnProgress(net::CInetFile& transfer, std::uint32_t bytes);
  void OnEnd(net::CInetFile& transfer, int result);
  void OnServerListEnd(net::CInetFile& transfer);
  void OnManifestEnd(net::CInetFile& transfer, int result);
  // The signature of a fetched manifest has arrived (or failed): the manifest is read
  // only when its release is trusted.
  void OnSignatureEnd(net::CInetFile& transfer, int result);
  // Reads the fetched manifest at |path| and goes on with the check; |release| is the
  // number of a signed release (none for an unsigned one).
  void ReadManifest(const std::string& path, const std::string& server_label,
                    std::optional<std::uint64_t> release);
  // Logs each entry the manifest refused as a file that was not made, and keeps the
  // first reason, which fails the release.
  void LogRefusedEntries();
  // Records the release whose files were all installed as the installed one.
  void RecordInstalledRelease();
  void OnFileEnd(net::CInetFile& transfer, int result);
  // Puts a finished shelf download in place of its target (releases go through
  // StageFile and FinishRelease); false (after logging why) when it is not.
  bool InstallFile(net::CInetFile& transfer);
  // Verifies |body|, the new file of |transfer| that has arrived (its digest unless
  // |digest_checked|), and stages it in the release; false (after logging why) when it
  // is not taken.
  bool StageFile(net::CInetFile& transfer, net::CInetFile::KeptBody body, bool digest_checked);
  // A patch has arrived (|result| its transfer's result): stages the file it gives.
  // False when it gives none (after logging why): the whole file is then fetched.
  bool StagePatched(net::CInetFile& transfer, int result, const UpdatePatch& patch);
  // Fetches the whole file of |transfer|'s entry, in place of its patch.
  void FetchWholeFile(const net::CInetFile& transfer, const Install& install);
  // The check of the servers or of a manifest fails with |reason| (UTF-8): the log says
  // it, and the movie learns that no update came (UpdateResult), so that nothing waits
  // for one.
  void CheckFailed(const std::string& reason);
  // The release fails with |reason| (UTF-8, as logged); its files are never put in
  // place.
  void FailRelease(const std::string& reason);
  // Every file of the release has ended: puts the release in place, or drops it, and
  // tells the log and the movie (UpdateResult).
  void FinishRelease();
  // Records the folder |transfer| writes its body in, for the next start to remove
  // what a kill leaves there (a shelf download or an update file).
  void RememberFolder(const net::CInetFile& transfer) const;
  // Removes the temporary file of a server-list or manifest fetch (core path).
  void RemoveFetchFile(const std::string& path);
  void QueueUpdateFiles(const std::string& server_label);
  // Cancels the download |key| and waits for its thread; null when there is none.
  net::CInetFile* Stop(const std::string& key);
  void RefillServerChoice();
  // A new empty temporary file "Xml..." (core path); empty on failure. It is removed
  // when its fetch has been read or failed, or with the window.
  std::string MakeTemporaryFile();
  void SetMovie(const std::string& name, const std::string& value);

  os::MainLoop& loop_;
  platform::UpdateWindow& window_;
  platform::Dialogs& dialogs_;
  platform::Shell& shell_;
  std::string server_list_url_;
  bool auto_update_;
  MovieVariables* flash_ = nullptr;
  DownloadEnd download_end_;

  std::uint32_t files_to_update_ = 0;
  std::uint32_t total_length_ = 0;
  std::uint64_t overall_bytes_ = 0;
  std::recursive_mutex window_lock_;
  net::CServers servers_;
  std::unique_ptr<ServerChoiceMirror> choice_;
  CUpdateFiles manifest_;
  std::string server_label_;
  bool auto_download_ = false;
  std::map<std::uint64_t, Install> installs_;
  // The release under way: its staged files, how many of its transfers have not ended,
  // the first reason it failed (empty: none yet), and what each file asks for once in
  // place.
  std::unique_ptr<StagedRelease> release_;
  std::size_t release_pending_ = 0;
  std::string release_failure_;
  std::map<std::string, Installed> release_installs_;  // by native target path
  std::string refused_reason_;         // the first entry the last manifest refused (UTF-8)
  std::set<std::string> fetch_files_;  // the temporary files of fetches not yet removed
  // Manifests waiting for their signature, by the id of the signature's fetch.
  struct PendingManifest {
    std::string path;
    std::string server_label;
  };
  std::map<std::uint64_t, PendingManifest> pending_manifests_;
  bool unverified_said_ = false;  // the log said releases are not verified
  bool packages_said_ = false;    // the log said the system's packages update the program
  std::optional<std::uint64_t> loaded_release_;     // the signed release last read
  std::optional<std::uint64_t> release_to_record_;  // the release being installed
  bool reported_ = false;                           // a DLRatio report has been made
  std::uint64_t last_report_ms_ = 0;
  // The transfer list and its pump, the window's two clients in one list; declared
  // last, so that its transfers go first.
  TransferQueue transfers_;
};

}  // namespace update

#endif  // LUMORA_UPDATE_AUTO_UPDATE_CLIENT_DLG_H_
