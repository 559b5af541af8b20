#include "platform/gtk/gtk_shell.h"

#include <gio/gio.h>

#include <vector>

#include "os/shell_action.h"

namespace platform {

void GtkShell::Open(const std::string& target, const std::string& parameters) {
  if (target.empty()) return;
  const os::ShellTarget resolved = os::ResolveShellTarget(target);
  const std::string& program = resolved.program;
  if (resolved.action == os::ShellAction::kRun) {
    // A program is started directly, never through a shell: its parameters are split
    // into arguments by GLib's parser of shell quoting, which expands nothing and runs
    // nothing.
    std::vector<gchar*> argv{const_cast<gchar*>(program.c_str())};
    g_auto(GStrv) extra = nullptr;
    gint extra_count = 0;
    if (!parameters.empty() &&
        g_shell_parse_argv(parameters.c_str(), &extra_count, &extra, nullptr)) {
      for (gint i = 0; i < extra_count; ++i) argv.push_back(extra[i]);
    }
    argv.push_back(nullptr);
    // The desktop's own open of a program reports nothing either.
    (void)g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr,
                        nullptr);
    return;
  }
  // Anything else, scripts included, opens in the application the desktop has for it.
  std::string uri;
  g_autofree gchar* scheme = g_uri_parse_scheme(target.c_str());
  if (scheme != nullptr) {
    uri = target;
  } else {
    g_autoptr(GFile) file = g_file_new_for_path(target.c_str());
    g_autofree gchar* file_uri = g_file_get_uri(file);
    uri = file_uri;
  }
  // The desktop shows its own message when it has no application.
  (void)g_app_info_launch_default_for_uri(uri.c_str(), nullptr, nullptr);
}

}  // namespace platform
