// Records the requests the service receives: the head of each (request line and header
// lines, byte for byte as received, through the empty line that ends them) appended to
// a file, so that tests can check the exact bytes a client sent.
#ifndef LUMORA_TOOLS_VENDOR_REQUEST_LOG_H_
#define LUMORA_TOOLS_VENDOR_REQUEST_LOG_H_

#include <mutex>
#include <string>
#include <string_view>

#include "base/status.h"
#include "base/unique_file.h"

namespace vendor {

class RequestLog {
 public:
  // Opens |path| for appending (made when missing). Fails, saying why, when it cannot be
  // opened or is not a regular file.
  [[nodiscard]] base::Status Open(const std::string& path);

  // Appends |head| in one write; does nothing when no file is open.
  void Append(std::string_view head);

 private:
  std::mutex mutex_;
  base::UniqueFd fd_;
};

}  // namespace vendor

#endif  // LUMORA_TOOLS_VENDOR_REQUEST_LOG_H_
