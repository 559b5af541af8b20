#include <gtk/gtk.h>

#include <cstring>
#include <memory>

#include "platform/gtk/gtk_dialogs.h"
#include "platform/gtk/gtk_shell.h"
#include "platform/gtk/gtk_update_window.h"
#include "platform/gtk/gtk_window.h"
#include "platform/gtk/web_view_player.h"
#include "platform/platform.h"

namespace platform {
namespace {

class GtkPlatform : public Platform {
 public:
  explicit GtkPlatform(bool automation)
      : player_(automation),
        window_(player_.widget()),
        dialogs_(window_.gtk_window()),
        update_window_(window_.gtk_window()) {}

  MainLoop& loop() override { return loop_; }
  MainWindow& window() override { return window_; }
  Player& player() override { return player_; }
  Dialogs& dialogs() override { return dialogs_; }
  Shell& shell() override { return shell_; }
  UpdateWindow& update_window() override { return update_window_; }
  void Start(std::function<void()>) override {}
  void Finish(int) override {}

 private:
  MainLoop loop_;
  WebViewPlayer player_;
  GtkMainWindow window_;
  GtkDialogs dialogs_;
  GtkShell shell_;
  GtkUpdateWindow update_window_;
};

}  // namespace

Status CreateGtkPlatform(int* argc, char*** argv, std::unique_ptr<Platform>* platform) {
  // "--automation" stays in the arguments for the program's own reading of them.
  bool automation = false;
  for (int i = 1; argc != nullptr && argv != nullptr && *argv != nullptr && i < *argc; ++i)
    if ((*argv)[i] != nullptr && std::strcmp((*argv)[i], "--automation") == 0) automation = true;
  if (!gtk_init_check(argc, argv))
    return Status::Unavailable("cannot open a display (set DISPLAY, or run with --headless)");
  *platform = std::make_unique<GtkPlatform>(automation);
  return Status::Ok();
}

}  // namespace platform
