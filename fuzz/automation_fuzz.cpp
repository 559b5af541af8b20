// The automation interface's input lines, handled by the headless window, player and
// update window, and the answers they queue taken by the dialogs.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dialogs.h"
#include "platform/headless/headless_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::FILE* const out = std::fopen("/dev/null", "w");
  platform::HeadlessPlatform headless(-1, out, platform::Rect{0, 0, 1280, 1024});
  headless.Start([] {});
  std::string_view input(reinterpret_cast<const char*>(data), size);
  while (!input.empty()) {
    const std::size_t end = input.find('\n');
    headless.channel().Feed(std::string(input.substr(0, end)));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
  }
  // Each dialog takes the next queued answer, in the order a session could open them.
  platform::Dialogs& dialogs = headless.dialogs();
  dialogs.Message("text", "caption");
  // Each dialog reads whatever answer the input holds; only a crash or a sanitizer report counts.
  (void)dialogs.Question("text", "caption");
  std::vector<std::string> paths;
  (void)dialogs.OpenFiles({{"PDF", "*.pdf"}, {"all", "*.*"}}, true, &paths);
  platform::FormSpec form{"settings", "title", "OK", "Cancel", {}};
  platform::FormField user, folder;
  user.name = "user";
  folder.name = "folder";
  folder.value = "/tmp";
  folder.read_only = true;
  form.fields = {user, folder};
  (void)dialogs.Form(&form);
  (void)dialogs.Question("text", "caption");
  return 0;
}
