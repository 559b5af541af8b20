// The commands that act on the window and the desktop: "win", "exec", "restart", "系统设置" and
// the commands that only show their argument in a message box.
#include "app/lumora_dlg.h"
#include "base/ansi.h"
#include "base/files.h"
#include "os/system_entries.h"
#include "settings/settings_store.h"

namespace app {

void CLumoraDlg::OnRestart(const std::string&) {
  // The movie offers this once an update has said that a restart completes it: the
  // program ends as after the quit question (which is not asked) and starts again.
  restart_requested_ = true;
  platform_.loop().Quit(0);
}

void CLumoraDlg::OnWin(const std::string& args) {
  platform::MainWindow& window = platform_.window();
  const platform::Rect work = window.WorkArea();
  if (args == "quit") {
    AskToQuit();
  } else if (args == "min") {
    SetStageSize(work.Width(), work.Height());
    window.Move(work);
    window.Minimize();
  } else if (args == "max") {
    SetStageSize(work.Width(), work.Height());
    window.Move(work);
    window.SetPlayerRect(platform::Rect{0, 0, work.Width(), work.Height()});
  } else if (args == "revert") {
    // The normal size, 1024 x 768, centred where the work area allows.
    int x = 0, width = work.right - work.left;
    if (work.right >= 1024) {
      x = (work.right - 1024) / 2;
      width = 1024;
    }
    int y = 0, height = work.bottom - work.top;
    if (work.bottom >= 768) {
      y = (work.bottom - 768) / 2;
      height = 768;
    }
    SetStageSize(width, height);
    window.Move(platform::Rect{x, y, x + width, y + height});
  }
}

void CLumoraDlg::OnExec(const std::string& args) {
  std::string target = args;
  // A file of that name in the program folder is opened by its full path.
  if (base::IsReadableFile(ansi::NativePath(program_folder_ + args)))
    target = program_folder_ + args;
  platform_.shell().Open(ansi::NativePath(target), "");
}

void CLumoraDlg::OnSystemSettings(const std::string& args) {
  using Result = settings::CSettingsStore::AutorunResult;
  const Result result = settings::CSettingsStore::GetInstance().ChangeSystemSettings(args.c_str());
  if (result == Result::kAsAsked) return;
  // The command has no reply variable: the user is told in a message box.
  const std::string entry = ansi::ToUtf8Lossy(ansi::CorePathLossy(os::AutostartEntryPath()));
  std::string text;
  if (result == Result::kNotMade)
    text = kAutorunNotMade + entry;
  else if (result == Result::kProgramNotNamed)
    text = kAutorunFolderName;
  else
    text = kAutorunNotRemoved + entry;
  platform_.dialogs().Message(text, ApplicationTitleUtf8());
}

void CLumoraDlg::OnMessageBoxCommand(const std::string& args) {
  platform_.dialogs().Message(ansi::ToUtf8Lossy(args), ApplicationTitleUtf8());
}

}  // namespace app
