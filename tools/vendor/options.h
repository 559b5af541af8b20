// The command line of lumora-vendor.
#ifndef LUMORA_TOOLS_VENDOR_OPTIONS_H_
#define LUMORA_TOOLS_VENDOR_OPTIONS_H_

#include <string>
#include <vector>

#include "faults.h"
#include "opds_feeds.h"

namespace vendor {

// The client's deployment default.
inline constexpr int kDefaultPort = 8480;

struct Options {
  std::string root;  // the data folder, as given
  std::string bind = "127.0.0.1";
  int port = kDefaultPort;
  std::string log_path;           // empty: requests are not recorded
  std::string tls_cert, tls_key;  // both or neither: https with them
  std::vector<FaultRule> faults;
  OpdsOptions opds;
  bool help = false;
  bool version = false;
};

// Reads the arguments after the program's name. Each option takes its value as the next
// argument or after "=" ("--port 0", "--port=0"). Invalid, saying why, for an unknown
// option, a missing or bad value, or a missing --root (unless --help or --version is
// given).
[[nodiscard]] base::Status ParseOptions(int argc, const char* const* argv, Options* options);

// The text printed by --help.
std::string UsageText();
// The text printed by --version.
std::string VersionText();

}  // namespace vendor

#endif  // LUMORA_TOOLS_VENDOR_OPTIONS_H_
