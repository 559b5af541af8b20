// The program's own icon, in the sizes the desktop uses, compiled into the program.
#ifndef LUMORA_PLATFORM_GTK_APP_ICON_H_
#define LUMORA_PLATFORM_GTK_APP_ICON_H_

#include <gtk/gtk.h>

namespace platform {

// The sizes in pixels, smallest first (each picture is square).
inline constexpr int kAppIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// Sets the icon, in every size, on |window| (its task-bar and switcher icon) and as the
// default of every other window of the program.
void SetAppIcon(GtkWindow* window);

}  // namespace platform

#endif  // LUMORA_PLATFORM_GTK_APP_ICON_H_
