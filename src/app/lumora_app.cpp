#include "app/lumora_app.h"

#include <strings.h>

#include "app/lumora_dlg.h"

namespace app {

CLumoraApp::CLumoraApp(const DeploymentSettings& deployment)
    : deployment_(deployment),
      server_list_url_("http://" + deployment.shop_host + kServerListPath) {}

void CLumoraApp::ParseCommandLine(const std::string& command_line) {
  if (command_line.empty()) return;
  std::size_t space = command_line.find(' ');
  if (space == std::string::npos || space == 0) return;
  server_list_url_ = command_line.substr(0, space);
  const std::string mode = command_line.substr(space + 1);
  if (strcasecmp(mode.c_str(), "auto") == 0) auto_update_ = true;
}

int CLumoraApp::InitInstance(platform::Platform& platform, const std::string& command_line) {
  // Common controls, the control container and the profile key have no counterpart
  // here: the desktop toolkit is ready once the platform exists.
  ParseCommandLine(command_line);
  CLumoraDlg dialog(*this, platform);
  return dialog.DoModal();
}

}  // namespace app
