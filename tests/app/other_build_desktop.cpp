// A desktop module of another build of the program: the real module's entry points with
// an interface digest that is not the program's. Its factory, which the program must
// never call, ends the process with code 77.
#include <cstdlib>
#include <string>

extern "C" {

__attribute__((visibility("default"))) extern const char lumora_desktop_interface[];
const char lumora_desktop_interface[] = "another build";

__attribute__((visibility("default"))) void* lumora_desktop_create(int*, char***,
                                                                   std::string*) noexcept {
  std::_Exit(77);
}

}  // extern "C"
