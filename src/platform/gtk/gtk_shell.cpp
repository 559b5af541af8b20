#include "platform/gtk/gtk_shell.h"

#include <gio/gio.h>
#include <unistd.h>

#include <vector>

namespace platform {

void GtkShell::Open(const std::string& target, const std::string& parameters) {
  if (target.empty()) return;
  const bool is_file = g_file_test(target.c_str(), G_FILE_TEST_IS_REGULAR);
  std::string program;
  if (is_file && access(target.c_str(), X_OK) == 0) {
    program = target;
  } else if (!is_file && target.find('/') == std::string::npos) {
    g_autofree gchar* found = g_find_program_in_path(target.c_str());
    if (found != nullptr) program = found;
  }
  // The outcome of an "open" is not reported (shell.h): a program that does not start
  // and a document without an application both end here without a word.
  if (!program.empty()) {
    // A program is started directly, with its parameters split as a shell would.
    std::vector<gchar*> argv{const_cast<gchar*>(program.c_str())};
    g_auto(GStrv) extra = nullptr;
    gint extra_count = 0;
    if (!parameters.empty() &&
        g_shell_parse_argv(parameters.c_str(), &extra_count, &extra, nullptr)) {
      for (gint i = 0; i < extra_count; ++i) argv.push_back(extra[i]);
    }
    argv.push_back(nullptr);
    (void)g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, nullptr,
                        nullptr);
    return;
  }
  std::string uri;
  g_autofree gchar* scheme = g_uri_parse_scheme(target.c_str());
  if (scheme != nullptr) {
    uri = target;
  } else {
    g_autoptr(GFile) file = g_file_new_for_path(target.c_str());
    g_autofree gchar* file_uri = g_file_get_uri(file);
    uri = file_uri;
  }
  (void)g_app_info_launch_default_for_uri(uri.c_str(), nullptr, nullptr);
}

}  // namespace platform
