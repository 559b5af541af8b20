// The entry points of the desktop module (desktop_module.h): its interface digest and
// the factory of the GTK face. Nothing else of the module is exported.
#include <exception>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/desktop_interface.h"
#include "platform/desktop_module.h"
#include "platform/platform.h"

extern "C" {

__attribute__((visibility("default"))) extern const char lumora_desktop_interface[];
const char lumora_desktop_interface[] = LUMORA_DESKTOP_INTERFACE;

// No exception leaves the module: a failure comes back as null with |error| set.
__attribute__((visibility("default"))) platform::Platform* lumora_desktop_create(
    int* argc, char*** argv, std::string* error) noexcept {
  try {
    std::unique_ptr<platform::Platform> face;
    const base::Status made = platform::CreateGtkPlatform(argc, argv, &face);
    if (!made.ok()) *error = made.message();
    return face.release();
  } catch (const std::exception& e) {
    *error = std::string("the desktop could not start: ") + e.what();
  } catch (...) {
    *error = "the desktop could not start";
  }
  return nullptr;
}

}  // extern "C"

// The program calls the factory through this type.
static_assert(std::is_same_v<decltype(&lumora_desktop_create), platform::DesktopFactoryFunction>);
