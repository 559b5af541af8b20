#include "app/lumora_dlg.h"

#include <cstdio>

#include "app/lumora_app.h"
#include "app/stale_temporaries.h"
#include "base/ansi.h"
#include "base/folders.h"
#include "settings/settings_store.h"
#include "storage/mem_file_mgr.h"
#include "update/release_journal.h"

namespace app {

namespace {

std::string WithTrailingSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

CLumoraDlg::CLumoraDlg(const CLumoraApp& app, platform::Platform& platform)
    : app_(app),
      platform_(platform),
      flash_(platform.player()),
      mover_(platform.window(), [this](int width, int height) { SetStageSize(width, height); }),
      downloads_(*this, user_),
      search_(*this),
      opds_(*this) {
  flash_.SetFSCommandHandler(
      [this](const std::string& command, const std::string& args) { OnFSCommand(command, args); });
  platform_.window().SetEvents(this);
}

CLumoraDlg::~CLumoraDlg() {
  // Transfers end (and their threads are joined) before the window they report to.
  downloads_.SetUpdateClient(nullptr);
  update_client_.reset();
  platform_.window().SetEvents(nullptr);
}

int CLumoraDlg::DoModal() {
  if (!OnInitDialog()) {
    platform_.Finish(1);
    return 1;
  }
  platform_.Start([this] {
    // The end of the automation input counts as a confirmed quit.
    platform_.loop().Post([this] { platform_.loop().Quit(0); });
  });
  int code = platform_.loop().Run();
  platform_.Finish(code);
  return code;
}

bool CLumoraDlg::OnInitDialog() {
  // A release that a kill or a power loss stopped half-way through its renames is
  // completed first, before anything reads the files it replaces.
  CompleteInterruptedRelease();
  // The packed store's directory and the file interception, before anything opens
  // the movie. Without the interception the player finds no movie and the window
  // stays empty; the program goes on either way.
  (void)storage::CMemFileMgr::Startup();

  std::string program_file;
  if (!FormFolders(&program_file)) return false;
  StartMovie(program_file);
  TidySharedFolders();
  SetStartVariables();
  opds_.Start();
  CoverWorkArea();
  return StartUpdateWindow();
}

bool CLumoraDlg::FormFolders(std::string* program_file) {
  // One whose name cannot be written in the core's text would be a different folder
  // once converted back, and every file written there would go astray: the program
  // says so and ends instead.
  std::string current, data_home;
  const std::string native_program = base::ProgramFile();
  const bool system_program =
      base::IsSystemProgramFolder(native_program.substr(0, native_program.rfind('/')));
  if ((!system_program && !FromSystemPath(base::CurrentDirectory(), kUnusableFolder, &current)) ||
      !FromSystemPath(base::DataHome(), kUnusableFolder, &data_home) ||
      !FromSystemPath(native_program, kUnusableFolder, program_file))
    return false;
  app_data_path_ = data_home;
  data_folder_ = WithTrailingSlash(app_data_path_) + "vellari/";

  // Program folder: the current directory with a trailing separator. A program of the
  // system's packages lives in a folder no user may write: the user folders, the search
  // results and its other files of the run then go to the data folder's "shelves/",
  // made here (when that fails, each write there fails and says so).
  if (system_program) {
    program_folder_ = data_folder_ + kSystemProgramFolder + "/";
    (void)base::MakeDirectories(ansi::NativePath(program_folder_));
  } else {
    program_folder_ = WithTrailingSlash(current);
  }
  return true;
}

void CLumoraDlg::StartMovie(const std::string& program_file) {
  LoadMovie(program_file);
  flash_.AlignMode(5);
  flash_.Scale("noScale");
  flash_.ScaleMode(3);
  flash_.Play();
  flash_.SetVariable("UpdatedFile", "0");
  flash_.SetVariable("TotalUpdateFile", "0");
}

void CLumoraDlg::TidySharedFolders() {
  // What a replacement killed half-way left behind goes before anything is written.
  // Under the locks of the folders, when some process has ever taken them: then no
  // other process is half-way through a replacement there either.
  {
    const SharedFoldersLock locks =
        LockSharedFolders(kBothFolders, base::FolderLock::Mode::kExisting);
    RemoveStaleTemporaries(catalogue_folders());
  }
  // The settings file: loaded once, with the applications that open the shelf's
  // documents recorded in it.
  settings::CSettingsStore::GetInstance().RecordFileHandlers(
      (data_folder_ + "public//vellariInfo.xml").c_str());
}

void CLumoraDlg::SetStartVariables() {
  const std::string public_folder = data_folder_ + "public";
  flash_.SetVariable("FirstRun",
                     base::IsDirectory(ansi::NativePath(public_folder)) ? "false" : "true");
  flash_.SetVariable(
      "WebUrl", DeploymentSettings::ServerUrl(app_.deployment().shop_host) + "/Storage/XmlFile/");
  flash_.SetVariable("MyAppDataDir", data_folder_);
  flash_.SetVariable("CurrentDir", program_folder_);
  flash_.SetVariable("VellariOpml", data_folder_ + "public/RSS.opml");
}

void CLumoraDlg::CoverWorkArea() {
  // The player takes the whole client area of the window.
  platform::MainWindow& window = platform_.window();
  const platform::Rect work = window.WorkArea();
  SetStageSize(work.Width(), work.Height());
  window.Move(work);
  window.SetPlayerRect(platform::Rect{0, 0, work.Width(), work.Height()});
  window.Show();
}

bool CLumoraDlg::StartUpdateWindow() {
  // Hidden; it runs by itself from here on. Without a server-list address it has told
  // the user, and the program ends.
  update_client_ = std::make_unique<update::CAutoUpdateClientDlg>(
      update::CAutoUpdateClientDlg::Platform{platform_.loop(), platform_.update_window(),
                                             platform_.dialogs(), platform_.shell()},
      app_.server_list_url(), app_.auto_update());
  update_client_->SetFlashControl(&flash_);
  downloads_.SetUpdateClient(update_client_.get());
  update_client_->SetDownloadEnd(
      [this](const std::string& key, int result, const std::string& message) {
        OnDownloadEnd(key, result, message);
      });
  if (!update_client_->OnInitDialog()) return false;
  if (app_.show_updates()) update_client_->ShowWindow();
  return true;
}

bool CompleteInterruptedRelease() {
  const update::BaseFolders folders = update::BaseFolders::ForThisUser();
  const update::ReleaseJournal journal(ansi::NativePath(folders.release_journal),
                                       folders.version_index, folders.installed_release);
  const base::Status completed = journal.Complete();
  if (!completed.ok() && !completed.IsNotFound())
    std::fprintf(stderr, "lumora: the last update could not be completed: %s\n",
                 completed.ToString().c_str());
  return completed.ok();
}

bool CLumoraDlg::FromSystemPath(const std::string& native, const char* message, std::string* core) {
  if (ansi::CorePath(native, core)) return true;
  const std::string shown = ansi::ToUtf8Lossy(ansi::CorePathLossy(native));
  std::fprintf(stderr, "lumora: cannot use %s: its name is not valid UTF-8\n", shown.c_str());
  platform_.dialogs().Message(message + shown, kQuitCaption);
  return false;
}

void CLumoraDlg::LoadMovie(const std::string& program_file) {
  std::size_t slash = program_file.rfind('/');
  program_file_folder_ = program_file.substr(0, slash == std::string::npos ? 0 : slash + 1);
  // The movie exists only in memory, under a path beside the program file. Without
  // it in the store the player finds no file and the window stays empty, so the
  // result is not needed.
  const std::string movie_path = program_file_folder_ + kMovieName;
  (void)storage::CMemFileMgr::AddPackedFile(movie_path, kMovieName);
  flash_.Movie(movie_path);
}

CLumoraDlg::SharedFoldersLock CLumoraDlg::LockSharedFolders(SharedFolders folders,
                                                            base::FolderLock::Mode mode) {
  SharedFoldersLock locks;
  auto take = [&](const std::string& folder, base::FolderLock* lock) {
    const base::Status taken = base::FolderLock::Acquire(ansi::NativePath(folder), mode, lock);
    // A missing folder holds no file to protect (and, with Mode::kExisting, a missing
    // lock file means no process has ever changed the folder under it).
    if (taken.ok() || taken.IsNotFound()) return;
    // Without the lock the work still goes on, and says so: the lock only matters while
    // another process changes the same files, and refusing would leave the shelf
    // unusable for as long as the lock cannot be had (a file system without locks, or a
    // folder or link where the lock file belongs).
    const std::string shown = ansi::ToUtf8Lossy(folder);
    std::fprintf(stderr, "lumora: cannot lock %s (%s); its files are changed without the lock\n",
                 shown.c_str(), taken.ToString().c_str());
    if (update_client_) update_client_->Log("文件夹加锁失败 [" + shown + "]");
  };
  if (folders & kPublicFolder) take(data_folder_ + "public/", &locks.public_folder);
  if (folders & kProgramFolder) take(program_folder_, &locks.program_folder);
  return locks;
}

void CLumoraDlg::SetStageSize(int width, int height) {
  flash_.SetVariable("StageX", std::to_string(width));
  flash_.SetVariable("StageY", std::to_string(height));
}

void CLumoraDlg::AskToQuit() {
  // Yes ends the main loop as soon as the current handler returns.
  if (platform_.dialogs().Question(kQuitQuestion, kQuitCaption)) platform_.loop().Quit(0);
}

void CLumoraDlg::OnCancel() { AskToQuit(); }

void CLumoraDlg::OnKey(platform::Key key) {
  switch (key) {
    case platform::Key::kEscape:
      OnCancel();
      break;
    case platform::Key::kReturn:
      OnOK();
      break;
    case platform::Key::kAbout:
      platform_.dialogs().About();
      break;
    case platform::Key::kUpdates:
      update_client_->ShowWindow();
      break;
  }
}

void CLumoraDlg::OnCloseRequest() { OnCancel(); }

void CLumoraDlg::OnLaterStart(const std::string& command_line) {
  std::string server_list_url;
  bool auto_update = false;
  // A line the start-up would ignore only brought the window forward.
  if (!CLumoraApp::ReadCommandLine(command_line, &server_list_url, &auto_update)) return;
  if (update_client_) update_client_->StartRun(server_list_url, auto_update);
}

bool CLumoraDlg::OnPlayerMouse(platform::MouseAction action, platform::MouseButton button,
                               platform::Point screen) {
  return mover_.OnMouse(action, button, screen);
}

std::string CLumoraDlg::ApplicationTitleUtf8() const {
  return ansi::ToUtf8Lossy(ApplicationTitle());
}

std::string CLumoraDlg::ApplicationTitle() const {
  std::string name(ansi::AfterLastSeparator(ansi::CorePathLossy(base::ProgramFile())));
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

}  // namespace app
