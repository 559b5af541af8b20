// The desktop's startup notification id of this start of the program: the launcher
// hands it over, and the window that shows completes the notification with it.
#ifndef LUMORA_PLATFORM_GTK_STARTUP_ID_H_
#define LUMORA_PLATFORM_GTK_STARTUP_ID_H_

#include <string>

namespace platform {

// The id the toolkit took from the environment when it started; empty when there is
// none (or the display has no such notifications).
std::string StartupNotificationId();

}  // namespace platform

#endif  // LUMORA_PLATFORM_GTK_STARTUP_ID_H_
