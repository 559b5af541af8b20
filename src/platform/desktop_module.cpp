#include "platform/desktop_module.h"

#include <dlfcn.h>

#include <cstring>

#include "platform/desktop_interface.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace platform {

std::string DesktopModulePath() {
  const std::string program = ProgramFile();
  const std::size_t slash = program.rfind('/');
  if (slash == std::string::npos) return {};
  return program.substr(0, slash + 1) + LUMORA_DESKTOP_MODULE_NAME;
}

std::unique_ptr<Platform> LoadDesktopPlatform(int* argc, char*** argv, std::string* error) {
  const std::string path = DesktopModulePath();
  if (path.empty()) {
    *error = "cannot find the program's own folder, where its desktop module is";
    return nullptr;
  }
  if (!PathExists(path)) {
    *error = "the desktop module " + path +
             " is missing (install the program again, or run it with --headless)";
    return nullptr;
  }
  // Lazy binding, as the program's own libraries were bound when it linked them; the
  // module is never closed, since the toolkit it brings cannot be unloaded.
  void* module = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = dlerror();
    *error = "cannot load the desktop module: " + std::string(reason ? reason : path);
    return nullptr;
  }
  const auto* interface = static_cast<const char*>(dlsym(module, kDesktopInterfaceSymbol));
  void* factory = dlsym(module, kDesktopFactorySymbol);
  if (interface == nullptr || factory == nullptr) {
    *error = path + " is not a desktop module of this program";
    return nullptr;
  }
  // Compared up to the first difference or terminator, never read past the module's own.
  if (std::strncmp(interface, LUMORA_DESKTOP_INTERFACE, sizeof LUMORA_DESKTOP_INTERFACE) != 0) {
    *error = "the desktop module " + path +
             " belongs to another build of the program (install the program again)";
    return nullptr;
  }
  auto create = reinterpret_cast<DesktopFactoryFunction>(factory);
  return std::unique_ptr<Platform>(create(argc, argv, error));
}

}  // namespace platform
