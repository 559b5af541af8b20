#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "os/single_instance.h"
#include "platform/gtk/gtk_dialogs.h"
#include "platform/gtk/gtk_shell.h"
#include "platform/gtk/gtk_update_window.h"
#include "platform/gtk/gtk_window.h"
#include "platform/gtk/startup_id.h"
#include "platform/gtk/web_view_player.h"
#include "platform/platform.h"

namespace platform {
namespace {

class GtkPlatform : public Platform {
 public:
  explicit GtkPlatform(bool automation)
      : automation_(automation),
        player_(automation),
        window_(player_.widget()),
        dialogs_(window_.gtk_window()),
        update_window_(window_.gtk_window()) {}

  os::MainLoop& loop() override { return loop_; }
  MainWindow& window() override { return window_; }
  Player& player() override { return player_; }
  Dialogs& dialogs() override { return dialogs_; }
  Shell& shell() override { return shell_; }
  UpdateWindow& update_window() override { return update_window_; }
  void Start(std::function<void()>) override {}
  void Finish(int) override {}

  base::Status ClaimInstance(const std::string& command_line, bool* handed_over) override {
    *handed_over = false;
    // A WebDriver session drives the program it started, never another.
    if (automation_) return base::Status::Ok();
    base::UniqueFd folder;
    if (base::Status opened = os::SingleInstance::OpenFolder(&folder); !opened.ok()) {
      std::fprintf(stderr, "lumora: %s; this program runs on its own\n", opened.message().c_str());
      return base::Status::Ok();
    }
    GdkDisplay* display = gdk_display_get_default();
    bool first = true;
    instance_ = std::make_unique<os::SingleInstance>();
    base::Status claimed = instance_->Claim(
        std::move(folder), os::SingleInstance::NameFor(gdk_display_get_name(display)),
        os::SingleInstance::LaterStart{command_line, StartupNotificationId()},
        [this](const os::SingleInstance::LaterStart& later) {
          window_.OnLaterStart(later.command_line, later.startup_id);
        },
        &first);
    *handed_over = !first;
    if (!claimed.ok() && first) {
      // Running, but later starts cannot reach this one.
      std::fprintf(stderr, "lumora: %s; this program runs on its own\n", claimed.message().c_str());
      return base::Status::Ok();
    }
    return claimed;
  }

 private:
  bool automation_;
  os::MainLoop loop_;
  WebViewPlayer player_;
  GtkMainWindow window_;
  GtkDialogs dialogs_;
  GtkShell shell_;
  GtkUpdateWindow update_window_;
  // Declared last, so that it goes first: it calls into the window.
  std::unique_ptr<os::SingleInstance> instance_;
};

}  // namespace

base::Status CreateGtkPlatform(int* argc, char*** argv, std::unique_ptr<Platform>* platform) {
  // "--automation" stays in the arguments for the program's own reading of them.
  bool automation = false;
  for (int i = 1; argc != nullptr && argv != nullptr && *argv != nullptr && i < *argc; ++i)
    if ((*argv)[i] != nullptr && std::strcmp((*argv)[i], "--automation") == 0) automation = true;
  if (!gtk_init_check(argc, argv))
    return base::Status::Unavailable("cannot open a display (set DISPLAY, or run with --headless)");
  *platform = std::make_unique<GtkPlatform>(automation);
  return base::Status::Ok();
}

}  // namespace platform
