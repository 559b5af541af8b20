#include "request_log.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "text_file.h"

namespace vendor {

base::Status RequestLog::Open(const std::string& path) {
  base::UniqueFd fd(
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
  if (!fd.valid()) return base::PosixError("cannot open the request log " + path, errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
    return base::Status::NotRegular("the request log " + path + " is not a regular file");
  fd_ = std::move(fd);
  return base::Status::Ok();
}

void RequestLog::Append(std::string_view head) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!fd_.valid()) return;
  while (!head.empty()) {
    ssize_t n = ::write(fd_.get(), head.data(), head.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      LogError(std::string("cannot write the request log: ") + std::strerror(errno));
      return;
    }
    head.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace vendor
