// The update window: a small dialog, hidden unless the user brings it forward, with the
// server choice, the log, the overall and the current progress and three buttons
// ("手动更新", "更新", "关闭"). The core keeps its state; the window only shows it and
// reports the user's actions. Text is UTF-8.
#ifndef LUMORA_PLATFORM_UPDATE_WINDOW_H_
#define LUMORA_PLATFORM_UPDATE_WINDOW_H_

#include <string>
#include <vector>

namespace platform {

class UpdateWindowEvents {
 public:
  virtual ~UpdateWindowEvents() = default;
  virtual void OnManualUpdate() = 0;          // "手动更新"
  virtual void OnInstallNow() = 0;            // "更新" (hidden unless shown by the core)
  virtual void OnCloseUpdates() = 0;          // "关闭", or the window's close command
  virtual void OnServerChosen(int item) = 0;  // the user picked another server
};

class UpdateWindow {
 public:
  virtual ~UpdateWindow() = default;
  virtual void SetEvents(UpdateWindowEvents* events) = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  // The log: each new entry becomes the selected one.
  virtual void ClearLog() = 0;
  virtual void AddLog(const std::string& entry) = 0;
  // The server choice: |labels| in the order shown, |selected| the chosen one (-1 none).
  virtual void SetServers(const std::vector<std::string>& labels, int selected) = 0;
  // Progress bars, 0 to 100.
  virtual void SetOverallProgress(int percent) = 0;
  virtual void SetCurrentProgress(int percent) = 0;
  // "手动更新" and the server choice, disabled while transfers of the updater run.
  virtual void EnableChoice(bool enabled) = 0;
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_UPDATE_WINDOW_H_
