#include "app/lumora_app.h"

#include <strings.h>

#include <cstdio>

#include "app/lumora_dlg.h"

namespace app {

CLumoraApp::CLumoraApp(const DeploymentSettings& deployment)
    : deployment_(deployment),
      server_list_url_(DeploymentSettings::ServerUrl(deployment.shop_host) + kServerListPath) {}

bool CLumoraApp::ReadCommandLine(const std::string& command_line, std::string* server_list_url,
                                 bool* auto_update) {
  if (command_line.empty()) return false;
  std::size_t space = command_line.find(' ');
  if (space == std::string::npos || space == 0) return false;
  *server_list_url = command_line.substr(0, space);
  const std::string mode = command_line.substr(space + 1);
  *auto_update = strcasecmp(mode.c_str(), "auto") == 0;
  return true;
}

void CLumoraApp::ParseCommandLine(const std::string& command_line) {
  std::string url;
  bool auto_update = false;
  if (!ReadCommandLine(command_line, &url, &auto_update)) return;
  server_list_url_ = url;
  if (auto_update) auto_update_ = true;
}

int CLumoraApp::InitInstance(platform::Platform& platform, const std::string& command_line) {
  // Common controls, the control container and the profile key have no counterpart
  // here: the desktop toolkit is ready once the platform exists.
  bool handed_over = false;
  if (base::Status claimed = platform.ClaimInstance(command_line, &handed_over); !claimed.ok()) {
    std::fprintf(stderr, "lumora: %s\n", claimed.message().c_str());
    return 1;
  }
  if (handed_over) return 0;
  ParseCommandLine(command_line);
  CLumoraDlg dialog(*this, platform);
  const int code = dialog.DoModal();
  restart_requested_ = dialog.restart_requested();
  return code;
}

}  // namespace app
