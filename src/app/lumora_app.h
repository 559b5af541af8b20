// The application object: reads the update client's two start-up settings from the
// command line and runs the main window for the whole life of the process.
#ifndef LUMORA_APP_LUMORA_APP_H_
#define LUMORA_APP_LUMORA_APP_H_

#include <string>

#include "app/deployment_settings.h"
#include "platform/platform.h"

namespace app {

class CLumoraApp {
 public:
  // The path of the server list on the shop web server.
  static constexpr const char* kServerListPath = "/Storage/XmlFile/serverlist.txt";

  explicit CLumoraApp(const DeploymentSettings& deployment);

  // The command line: a server-list URL, one space and a mode word. An empty line, a
  // line without a space or one that starts with a space changes nothing; the mode
  // "auto" (any letter case) sets the automatic-update flag.
  void ParseCommandLine(const std::string& command_line);
  // The same rules: false for a line that is ignored, otherwise the URL and whether the
  // mode is "auto".
  [[nodiscard]] static bool ReadCommandLine(const std::string& command_line,
                                            std::string* server_list_url, bool* auto_update);

  // Runs the main window modally on |platform| and returns the exit code. On the
  // desktop a program that runs already takes |command_line| instead, and this one
  // ends with 0 (1 when it could not hand it over).
  int InitInstance(platform::Platform& platform, const std::string& command_line);

  const std::string& server_list_url() const { return server_list_url_; }
  bool auto_update() const { return auto_update_; }
  // Whether the update window is shown at start (--show-updates).
  bool show_updates() const { return show_updates_; }
  void set_show_updates(bool show) { show_updates_ = show; }
  const DeploymentSettings& deployment() const { return deployment_; }
  // After InitInstance: the movie asked for a restart ("restart").
  bool restart_requested() const { return restart_requested_; }

 private:
  DeploymentSettings deployment_;
  std::string server_list_url_;
  bool auto_update_ = false;
  bool show_updates_ = false;
  bool restart_requested_ = false;
};

}  // namespace app

#endif  // LUMORA_APP_LUMORA_APP_H_
