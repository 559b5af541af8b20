// The update window on the desktop: a small GTK window titled "更新", created hidden,
// with the server choice, the log list, the overall and current progress bars and the
// buttons "手动更新", "更新" (hidden) and "关闭".
#ifndef LUMORA_PLATFORM_GTK_GTK_UPDATE_WINDOW_H_
#define LUMORA_PLATFORM_GTK_GTK_UPDATE_WINDOW_H_

#include "platform/update_window.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;
typedef union _GdkEvent GdkEvent;

namespace platform {

class GtkUpdateWindow : public UpdateWindow {
 public:
  explicit GtkUpdateWindow(GtkWindow* parent);
  ~GtkUpdateWindow() override;
  GtkUpdateWindow(const GtkUpdateWindow&) = delete;
  GtkUpdateWindow& operator=(const GtkUpdateWindow&) = delete;

  void SetEvents(UpdateWindowEvents* events) override { events_ = events; }
  void Show() override;
  void Hide() override;
  void ClearLog() override;
  void AddLog(const std::string& entry) override;
  void SetServers(const std::vector<std::string>& labels, int selected) override;
  void SetOverallProgress(int percent) override;
  void SetCurrentProgress(int percent) override;
  void EnableChoice(bool enabled) override;

 private:
  // Raises |event| (a button's), if anyone listens; |what| names it in a report.
  void Tell(const char* what, void (UpdateWindowEvents::*event)());
  static void OnManual(GtkWidget*, void* self) noexcept;
  static void OnInstall(GtkWidget*, void* self) noexcept;
  static void OnClose(GtkWidget*, void* self) noexcept;
  static void OnServerChanged(GtkWidget*, void* self) noexcept;
  static int OnDelete(GtkWidget*, GdkEvent*, void* self) noexcept;

  UpdateWindowEvents* events_ = nullptr;
  GtkWidget* window_;
  GtkWidget* servers_;
  GtkWidget* log_;
  GtkWidget* overall_;
  GtkWidget* current_;
  GtkWidget* manual_;
  bool filling_ = false;  // the server choice is being refilled: no user action
};

}  // namespace platform

#endif  // LUMORA_PLATFORM_GTK_GTK_UPDATE_WINDOW_H_
