// Apart from the rest of the face: the X11 header defines names (Status, among others)
// that the program's own headers use.
#include "platform/gtk/startup_id.h"

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace platform {

std::string StartupNotificationId() {
#ifdef GDK_WINDOWING_X11
  GdkDisplay* display = gdk_display_get_default();
  if (display != nullptr && GDK_IS_X11_DISPLAY(display)) {
    const char* id = gdk_x11_display_get_startup_notification_id(display);
    if (id != nullptr) return id;
  }
#endif
  return {};
}

}  // namespace platform
