// The main window: a borderless window covered by the movie player. It forms the
// program's folders, loads the movie, hands it its start-up variables, places itself
// on the work area, handles the movie's commands and asks before quitting.
#ifndef LUMORA_APP_LUMORA_DLG_H_
#define LUMORA_APP_LUMORA_DLG_H_

#include <memory>
#include <string>

#include "account/signed_in_user.h"
#include "app/movie_bridge.h"
#include "app/opds_shelf.h"
#include "app/shelf_downloads.h"
#include "app/shelf_search.h"
#include "app/window_mover.h"
#include "base/folder_lock.h"
#include "library/catalogues.h"
#include "platform/platform.h"
#include "update/auto_update_client_dlg.h"

namespace app {

// Completes the renames of a release that a kill interrupted (update::ReleaseJournal),
// saying on standard error when that fails. True when there was one and it is now in
// place.
bool CompleteInterruptedRelease();

class CLumoraApp;

class CLumoraDlg : public platform::WindowEvents {
 public:
  static constexpr const char* kMovieName = "main12.swf";
  static constexpr const char* kQuitQuestion = "确定要退出吗？";
  static constexpr const char* kQuitCaption = "提示";
  static constexpr const char* kUnusableFolder = "文件夹名称无效，无法使用：";
  // The data folder's stand-in for the program folder of a program of the system's
  // packages (see OnInitDialog).
  static constexpr const char* kSystemProgramFolder = "shelves";
  static constexpr const char* kUnusableFile = "文件名称无效，无法添加：";
  static constexpr const char* kCannotMakeFolder = "不能创建目录 ";
  // "系统设置" could not switch the autostart entry as asked.
  static constexpr const char* kAutorunNotMade = "开机启动设置失败，不能写入自启动项：";
  static constexpr const char* kAutorunFolderName =
      "开机启动设置失败：程序所在文件夹的名称含有自启动项不能记录的字符";
  static constexpr const char* kAutorunNotRemoved = "取消开机启动失败，不能删除自启动项：";
  // A shelf command before a sign-in, and a change of the shelf that could not be saved.
  static constexpr const char* kSignInFirst = "请先登录";
  static constexpr const char* kCannotSave = "保存失败：磁盘已满或文件无法写入";
  // An exchange with the vendor's web services that failed; its reason follows on a
  // second line, and the box has an empty caption.
  static constexpr const char* kFailedMessage = "Retrieve Failed";

  CLumoraDlg(const CLumoraApp& app, platform::Platform& platform);
  ~CLumoraDlg() override;
  CLumoraDlg(const CLumoraDlg&) = delete;
  CLumoraDlg& operator=(const CLumoraDlg&) = delete;

  // Initialises the window, runs its modal loop and returns the loop's exit code.
  int DoModal();
  // The movie asked for "restart": once the loop has ended and everything held is let
  // go, the program starts itself again with the same command line.
  bool restart_requested() const { return restart_requested_; }

  // The start-up sequence: folders, movie, variables, placement. False, after telling
  // the user, when a folder the program needs cannot be used.
  bool OnInitDialog();
  // The movie's commands; |command| and |args| are in the code page.
  void OnFSCommand(const std::string& command, const std::string& args);

  // Folders (code page, '/' separators, each with a trailing '/').
  const std::string& program_folder() const { return program_folder_; }
  const std::string& data_folder() const { return data_folder_; }
  CShockwaveFlash& flash() { return flash_; }
  library::CatalogueFolders catalogue_folders() const;

  // Shelf operations (arguments in the code page).
  // Asks for the book's information and adds the file to the local catalogue: 1 when
  // added, 0 when the dialog was cancelled.
  int AddLocalFile(const std::string& path);
  // Copies the item of an item reference into a group of the user shelf file. Before a
  // sign-in, or when the copy cannot be saved, the user is told.
  void AddToShelfGroup(const std::string& args, const std::string& group_id);
  // Removes the item of an item reference from its catalogue; an item of "正在下载" has
  // its download cancelled and forgotten first. A removal that cannot be saved is told.
  [[nodiscard]] bool DeleteItem(const std::string& args);
  // Moves a finished download into "已下载" with its local path as RDurl; a move that
  // cannot be saved is told.
  [[nodiscard]] bool CompleteDownload(const std::string& item_id);

  // The folders whose files other processes of the user's may change as well: the data
  // folder's "public/" folder (the catalogues there, the settings file; catalogue names
  // that lead elsewhere in the data folder come under it too) and the program folder
  // (the search results file, the users' folders with their shelf files).
  enum SharedFolders { kPublicFolder = 1, kProgramFolder = 2, kBothFolders = 3 };
  struct SharedFoldersLock {
    base::FolderLock public_folder, program_folder;
  };
  // Takes the locks of |folders|, the public folder's first; a read, change and write
  // of their files made while the result lives is one step for every other process.
  // Never held across a dialog or a network exchange. A folder that is not there has
  // nothing to lock; a lock that cannot be taken is named on standard error and in the
  // update window's log, and the work goes on without it.
  [[nodiscard]] SharedFoldersLock LockSharedFolders(
      SharedFolders folders, base::FolderLock::Mode mode = base::FolderLock::Mode::kMake);

  // An OPDS item's download (COpdsShelf), through the shelf's downloads.
  void StartOpdsDownload(const std::string& key, const std::string& name, const std::string& url,
                         const std::string& user, const std::string& password) {
    downloads_.OnOpdsDown(key, name, url, user, password, data_folder_ + "downloads/");
  }
  // What the shelf's downloads and search use of the window besides.
  platform::Platform& platform() { return platform_; }
  // True when a user has signed in (a user shelf file is recorded); otherwise the user
  // is told so.
  [[nodiscard]] bool CheckSignedIn();
  // Tells the user that a change of the shelf could not be saved.
  void TellCannotSave();
  // The caption of message boxes: the program file's name without its extension.
  std::string ApplicationTitle() const;
  std::string ApplicationTitleUtf8() const;

 private:
  // WindowEvents.
  void OnKey(platform::Key key) override;
  void OnCloseRequest() override;
  void OnFilesDropped(const std::vector<std::string>& paths) override;
  void OnDragOver(bool over) override;
  bool OnPlayerMouse(platform::MouseAction action, platform::MouseButton button,
                     platform::Point screen) override;
  // A later start's command line, taken as at start-up: a server-list URL starts an
  // update run from it ("auto" checking the chosen server at once).
  void OnLaterStart(const std::string& command_line) override;

  // The steps of OnInitDialog, in their order. FormFolders is false (the user told)
  // when a folder's name cannot be used; StartUpdateWindow when the update window ends
  // the program.
  [[nodiscard]] bool FormFolders(std::string* program_file);
  void StartMovie(const std::string& program_file);
  void TidySharedFolders();
  void SetStartVariables();
  void CoverWorkArea();
  [[nodiscard]] bool StartUpdateWindow();

  void OnOK() {}
  void OnCancel();
  void AskToQuit();
  void LoadMovie(const std::string& program_file);
  // A path from the system in the core's text. False when its name is not valid UTF-8
  // (it would name another file once converted back): then the user is told, with
  // |message| before the name, and standard error says so too.
  [[nodiscard]] bool FromSystemPath(const std::string& native, const char* message,
                                    std::string* core);
  void SetStageSize(int width, int height);

  // The movie's commands, dispatched by OnFSCommand (command_dispatch.cpp). Where they
  // are handled:
  //   system_commands.cpp    "win", "exec", "restart", "系统设置", and "收藏", "评论", "RSS设置",
  //                          "文件关联" (a message box with the argument)
  //   shelf_commands.cpp     "openfile", "addfav", "read", "Del", "search", files
  //                          dropped on the window, and the shelf operations above
  //                          ("search" forwarded to CShelfSearch)
  //   account_commands.cpp   "logon", "yigoumai", "分享" (the user's state and exchanges
  //                          in account::CSignedInUser)
  //   shelf_downloads.cpp    "down", "downloading", and the end of a download, forwarded
  //                          to CShelfDownloads
  //   opds_shelf.cpp         "opds" (the OPDS catalogues), forwarded to COpdsShelf
  //   command_dispatch.cpp   "drag", "skin", "update" (taken and ignored)
  void OnWin(const std::string& args);
  void OnExec(const std::string& args);
  void OnRestart(const std::string& args);
  void OnMessageBoxCommand(const std::string& args);
  void OnOpenFile(const std::string& args);
  void OnAddFavourite(const std::string& args);
  void OnRead(const std::string& args);
  void OnDelete(const std::string& args);
  void OnSearch(const std::string& args);
  void OnLogon(const std::string& args);
  void OnPurchasedList(const std::string& args);
  void OnShare(const std::string& args);
  void OnSystemSettings(const std::string& args);
  void OnDown(const std::string& args) { downloads_.OnDown(args); }
  void OnDownloading(const std::string& args) { downloads_.OnDownloading(args); }
  // The end of a shelf download, from the update window.
  void OnDownloadEnd(const std::string& item_id, int result, const std::string& message) {
    downloads_.OnDownloadEnd(item_id, result, message);
  }
  // After an accepted sign-in: the user's folder, its shelf file (when the folder is
  // new) and its "downloaded" folder made, under the program folder's lock. False when
  // a folder could not be made.
  [[nodiscard]] bool MakeUserFolders(const std::string& user_folder);
  // A failed exchange of the sign-in or the purchased list, told as the box
  // kFailedMessage with the reason on a second line.
  void TellRetrieveFailed();
  void OnIgnoredCommand(const std::string&) {}
  void OnOpds(const std::string& args) { opds_.OnOpds(args); }

  const CLumoraApp& app_;
  platform::Platform& platform_;
  CShockwaveFlash flash_;
  CWindowMover mover_;  // the mouse state of moving and resizing the window

  account::CSignedInUser user_;  // the user, the shelf file and the web exchanges
  std::string program_file_folder_;
  std::string app_data_path_;  // 260
  std::string data_folder_;
  std::string program_folder_;
  CShelfDownloads downloads_;  // the download map and the shelf's transfers
  CShelfSearch search_;
  COpdsShelf opds_;  // the OPDS catalogues and their fetches
  std::unique_ptr<update::CAutoUpdateClientDlg> update_client_;
  bool restart_requested_ = false;
};

}  // namespace app

#endif  // LUMORA_APP_LUMORA_DLG_H_
