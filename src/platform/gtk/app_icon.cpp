#include "platform/gtk/app_icon.h"

#include <string>

// Made by glib-compile-resources with the icons; C code, which throws nothing.
extern "C" void lumora_icons_register_resource(void) noexcept;

namespace platform {
namespace {

// Registers the compiled-in icons once.
void RegisterIcons() {
  [[maybe_unused]] static const bool registered = [] {
    lumora_icons_register_resource();
    return true;
  }();
}

}  // namespace

void SetAppIcon(GtkWindow* window) {
  RegisterIcons();
  g_autolist(GdkPixbuf) icons = nullptr;
  for (int size : kAppIconSizes) {
    const std::string path = "/lumora/icons/hicolor/" + std::to_string(size) + "x" +
                             std::to_string(size) + "/apps/lumora.png";
    if (GdkPixbuf* icon = gdk_pixbuf_new_from_resource(path.c_str(), nullptr))
      icons = g_list_append(icons, icon);
  }
  gtk_window_set_icon_list(window, icons);
  // The program's other windows (message boxes, the About box, the book dialog) too.
  gtk_window_set_default_icon_list(icons);
}

}  // namespace platform
