#include "net/partial_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

namespace net {

using platform::PosixError;
using platform::Status;
using platform::UniqueFd;

std::string PartialPathFor(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return {};
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  return folder + "." + name + kPartialSuffix;
}

bool UsableValidator(std::string_view validator) {
  if (validator.empty() || validator.size() > kMaxValidator || validator.starts_with("W/"))
    return false;
  for (char c : validator)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

Status OpenPartial(const std::string& partial, UniqueFd* file, std::uint64_t* size) {
  // Never blocks on a FIFO put in its place, never follows a link.
  UniqueFd fd(::open(partial.c_str(),
                     O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0666));
  if (!fd.valid()) return PosixError(partial, errno);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return PosixError(partial, errno);
  if (!S_ISREG(st.st_mode)) return Status::NotRegular(partial);
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
    return errno == EWOULDBLOCK ? Status::Unavailable(partial + ": being written")
                                : PosixError(partial, errno);
  *size = static_cast<std::uint64_t>(st.st_size);
  *file = std::move(fd);
  return Status::Ok();
}

std::string ReadValidator(const std::string& partial) {
  const std::string path = ValidatorPathOf(partial);
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size > static_cast<off_t>(kMaxValidator + 1))
    return {};
  char text[kMaxValidator + 2];
  const ssize_t n = ::read(fd.get(), text, sizeof text);
  if (n < 2 || text[n - 1] != '\n') return {};
  std::string validator(text, static_cast<std::size_t>(n - 1));
  return UsableValidator(validator) ? validator : std::string();
}

Status WriteValidator(const std::string& partial, std::string_view validator) {
  const std::string path = ValidatorPathOf(partial);
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (!fd.valid()) return PosixError(path, errno);
  const std::string line = std::string(validator) + "\n";
  // One write: a kill leaves the line whole or cut, and a cut one is never read.
  const ssize_t n = ::write(fd.get(), line.data(), line.size());
  if (n != static_cast<ssize_t>(line.size())) return PosixError(path, n < 0 ? errno : EIO);
  return ::close(fd.Release()) == 0 ? Status::Ok() : PosixError(path, errno);
}

void RemoveValidator(const std::string& partial) {
  (void)::unlink(ValidatorPathOf(partial).c_str());
}

bool RemovePartialFiles(const std::string& partial) {
  if (partial.empty()) return true;
  UniqueFd fd(::open(partial.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  if (fd.valid() && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
  const bool gone = (::unlink(partial.c_str()) == 0 || errno == ENOENT);
  RemoveValidator(partial);
  return gone && ::access(ValidatorPathOf(partial).c_str(), F_OK) != 0;
}

}  // namespace net
