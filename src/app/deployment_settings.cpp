#include "app/deployment_settings.h"

#include <cstdlib>
#include <sstream>
#include <utility>

#include "base/files.h"

namespace app {

namespace {

struct Key {
  const char* name;
  const char* env;
  std::string DeploymentSettings::*member;
};

constexpr Key kKeys[] = {
    {"shop_host", "LUMORA_SHOP_HOST", &DeploymentSettings::shop_host},
    {"login_host", "LUMORA_LOGIN_HOST", &DeploymentSettings::login_host},
    {"share_host_1", "LUMORA_SHARE_HOST_1", &DeploymentSettings::share_host_1},
    {"share_host_2", "LUMORA_SHARE_HOST_2", &DeploymentSettings::share_host_2},
    {"share_host_3", "LUMORA_SHARE_HOST_3", &DeploymentSettings::share_host_3},
};

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

}  // namespace

bool DeploymentSettings::ApplyLine(const std::string& line) {
  std::size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  std::string key = Trim(line.substr(0, eq));
  std::string value = Trim(line.substr(eq + 1));
  for (const Key& k : kKeys) {
    if (key == k.name && !value.empty()) {
      this->*k.member = value;
      return true;
    }
  }
  return false;
}

std::string DeploymentSettings::ServerUrl(const std::string& setting) {
  for (const std::string scheme : {"https://", "http://"}) {
    if (setting.size() < scheme.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < scheme.size() && same; ++i) {
      const char c = setting[i];
      same = (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == scheme[i];
    }
    if (same) return scheme + setting.substr(scheme.size());
  }
  return "http://" + setting;
}

DeploymentSettings DeploymentSettings::Load(const std::string& program_file) {
  DeploymentSettings settings;
  std::string folder = program_file.substr(0, program_file.rfind('/') + 1);
  // Only a regular file of a sane size is read, without ever blocking on a FIFO.
  std::string text;
  // A missing or unusable file leaves |text| empty: the built-in settings hold.
  (void)base::ReadRegularFile(folder + "lumora.conf", kMaxFileBytes, &text);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    (void)settings.ApplyLine(t);  // a line not understood is passed over
  }
  for (const Key& k : kKeys) {
    const char* v = std::getenv(k.env);
    if (v != nullptr && v[0] != '\0') settings.*k.member = v;
  }
  return settings;
}

}  // namespace app
