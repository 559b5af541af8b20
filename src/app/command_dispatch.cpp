// The movie's commands: one handler, the commands tested in the table's order and
// compared byte for byte in the code page. Which file holds which command is listed
// in lumora_dlg.h.
#include <string_view>
#include <vector>

#include "app/lumora_dlg.h"
#include "base/ansi.h"

namespace app {

namespace {

struct Command {
  std::string name;  // in the code page
  void (CLumoraDlg::*handler)(const std::string& args);
};

}  // namespace

void CLumoraDlg::OnFSCommand(const std::string& command, const std::string& args) {
  static const std::vector<Command> kCommands = {
      {"win", &CLumoraDlg::OnWin},
      {"logon", &CLumoraDlg::OnLogon},
      {"drag", &CLumoraDlg::OnIgnoredCommand},
      {"skin", &CLumoraDlg::OnIgnoredCommand},
      {"openfile", &CLumoraDlg::OnOpenFile},
      {"exec", &CLumoraDlg::OnExec},
      {"down", &CLumoraDlg::OnDown},
      {"downloading", &CLumoraDlg::OnDownloading},
      {"addfav", &CLumoraDlg::OnAddFavourite},
      {"read", &CLumoraDlg::OnRead},
      {"Del", &CLumoraDlg::OnDelete},
      {"update", &CLumoraDlg::OnIgnoredCommand},
      {"restart", &CLumoraDlg::OnRestart},
      {"search", &CLumoraDlg::OnSearch},
      {"yigoumai", &CLumoraDlg::OnPurchasedList},
      {"opds", &CLumoraDlg::OnOpds},
      {ansi::FromUtf8Lossy("分享"), &CLumoraDlg::OnShare},
      {ansi::FromUtf8Lossy("收藏"), &CLumoraDlg::OnMessageBoxCommand},
      {ansi::FromUtf8Lossy("评论"), &CLumoraDlg::OnMessageBoxCommand},
      {ansi::FromUtf8Lossy("系统设置"), &CLumoraDlg::OnSystemSettings},
      {ansi::FromUtf8Lossy("RSS设置"), &CLumoraDlg::OnMessageBoxCommand},
      {ansi::FromUtf8Lossy("文件关联"), &CLumoraDlg::OnMessageBoxCommand},
  };
  for (const Command& c : kCommands) {
    if (command == c.name) {
      (this->*c.handler)(args);
      return;
    }
  }
}

}  // namespace app
