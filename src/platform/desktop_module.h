// The desktop face lives in a module of its own, "lumora-desktop.so" in the program's
// folder, so that a program run without a display never loads GTK, WebKit or GStreamer.
// The module is loaded the first time the desktop is asked for and stays loaded until
// the process ends (the toolkit cannot be unloaded).
//
// The module exports two C symbols: its interface digest, compared with the program's
// own before the module is asked for anything, and the factory of the desktop face. A
// module whose digest differs was built from another platform layer and is not used.
#ifndef LUMORA_PLATFORM_DESKTOP_MODULE_H_
#define LUMORA_PLATFORM_DESKTOP_MODULE_H_

#include <memory>
#include <string>

#include "platform/platform.h"

namespace platform {

// The module's entry points, as their names stand in its symbol table.
inline constexpr const char* kDesktopInterfaceSymbol = "lumora_desktop_interface";
inline constexpr const char* kDesktopFactorySymbol = "lumora_desktop_create";

// The factory the module exports: the desktop face as CreateGtkPlatform makes it, owned
// by the caller, or null with |error| set. Never throws.
using DesktopFactoryFunction = Platform* (*)(int* argc, char*** argv, std::string* error) noexcept;

// The path of the desktop module: the program file's folder + "/lumora-desktop.so".
// Empty when the program file cannot be found.
std::string DesktopModulePath();

// Loads the desktop module and makes the desktop face with it (see CreateGtkPlatform).
// Fails, saying why, when the module is missing, cannot be loaded, is not a desktop
// module or belongs to another build, or when there is no display.
base::Status LoadDesktopPlatform(int* argc, char*** argv, std::unique_ptr<Platform>* face);

}  // namespace platform

#endif  // LUMORA_PLATFORM_DESKTOP_MODULE_H_
