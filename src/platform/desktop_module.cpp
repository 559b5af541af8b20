#include "platform/desktop_module.h"

#include <dlfcn.h>

#include <cstring>

#include "base/files.h"
#include "base/folders.h"
#include "platform/desktop_interface.h"

namespace platform {

std::string DesktopModulePath() {
  const std::string program = base::ProgramFile();
  const std::size_t slash = program.rfind('/');
  if (slash == std::string::npos) return {};
  return program.substr(0, slash + 1) + LUMORA_DESKTOP_MODULE_NAME;
}

base::Status LoadDesktopPlatform(int* argc, char*** argv, std::unique_ptr<Platform>* face) {
  const std::string path = DesktopModulePath();
  if (path.empty())
    return base::Status::NotFound(
        "cannot find the program's own folder, where its desktop module is");
  if (!base::PathExists(path))
    return base::Status::NotFound(
        "the desktop module " + path +
        " is missing (install the program again, or run it with --headless)");
  // Lazy binding, as the program's own libraries were bound when it linked them; the
  // module is never closed, since the toolkit it brings cannot be unloaded.
  void* module = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = dlerror();
    return base::Status::IoError("cannot load the desktop module: " +
                                 std::string(reason ? reason : path));
  }
  const auto* interface = static_cast<const char*>(dlsym(module, kDesktopInterfaceSymbol));
  void* factory = dlsym(module, kDesktopFactorySymbol);
  if (interface == nullptr || factory == nullptr)
    return base::Status::Invalid(path + " is not a desktop module of this program");
  // Compared up to the first difference or terminator, never read past the module's own.
  if (std::strncmp(interface, LUMORA_DESKTOP_INTERFACE, sizeof LUMORA_DESKTOP_INTERFACE) != 0)
    return base::Status::Invalid(
        "the desktop module " + path +
        " belongs to another build of the program (install the program again)");
  auto create = reinterpret_cast<DesktopFactoryFunction>(factory);
  std::string error;
  face->reset(create(argc, argv, &error));
  if (*face == nullptr) return base::Status::Unavailable(error);
  return base::Status::Ok();
}

}  // namespace platform
