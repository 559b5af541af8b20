// Where the vendor's web servers are: the host names (with an optional ":port") of the
// shop, the login service and the three share sites. The shop and the login service may
// also be given as "https://HOST[:PORT]" (then spoken to over TLS only) or
// "http://HOST[:PORT]"; a bare HOST[:PORT] is plain http.
//
// Read from "lumora.conf" beside the program (lines "key=value", '#' starts a
// comment), each overridable by an environment variable. Every default points at the
// local vendor service on loopback.
#ifndef LUMORA_APP_DEPLOYMENT_SETTINGS_H_
#define LUMORA_APP_DEPLOYMENT_SETTINGS_H_

#include <cstddef>
#include <string>

namespace app {

struct DeploymentSettings {
  static constexpr const char* kDefaultHost = "127.0.0.1:8480";
  static constexpr std::size_t kMaxFileBytes = 64u << 10;

  std::string shop_host = kDefaultHost;     // shop_host, LUMORA_SHOP_HOST
  std::string login_host = kDefaultHost;    // login_host, LUMORA_LOGIN_HOST
  std::string share_host_1 = kDefaultHost;  // share_host_1, LUMORA_SHARE_HOST_1
  std::string share_host_2 = kDefaultHost;  // share_host_2, LUMORA_SHARE_HOST_2
  std::string share_host_3 = kDefaultHost;  // share_host_3, LUMORA_SHARE_HOST_3

  // The settings for a program at |program_file|: its "lumora.conf", then the
  // environment.
  static DeploymentSettings Load(const std::string& program_file);
  // Applies one "key=value" line; false when the key is unknown or the line malformed.
  [[nodiscard]] bool ApplyLine(const std::string& line);
  // The URL of the server a setting names, without a trailing slash: "https://HOST..."
  // or "http://HOST..." as given (the scheme in lower case), "http://" + |setting|
  // for a bare host.
  static std::string ServerUrl(const std::string& setting);
};

}  // namespace app

#endif  // LUMORA_APP_DEPLOYMENT_SETTINGS_H_
