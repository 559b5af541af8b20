// The file a transfer writes its body to.
#include "net/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/files.h"

namespace net {

using base::PosixError;
using base::Status;

Status OutputFile::Create(const std::string& native_path) {
  path_ = native_path;
  file_.Reset(::open(native_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  return file_.valid() ? Status::Ok() : PosixError(path_, errno);
}

Status OutputFile::CreateBeside(const std::string& native_target) {
  if (Status made = base::CreateTemporaryFile(native_target, &file_, &path_); !made.ok())
    return made;
  own_ = true;
  return Status::Ok();
}

Status OutputFile::WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(file_.get(), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return PosixError(path_, errno);
    if (n == 0) return Status::IoError(path_ + ": nothing written");
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return Status::Ok();
}

void OutputFile::Adopt(const std::string& native_path, base::UniqueFd file) {
  path_ = native_path;
  file_ = std::move(file);
}

Status OutputFile::SeekTo(std::uint64_t offset) {
  return ::lseek(file_.get(), static_cast<off_t>(offset), SEEK_SET) >= 0 ? Status::Ok()
                                                                         : PosixError(path_, errno);
}

Status OutputFile::StartOver() {
  if (!file_.valid()) return Status::Ok();
  if (::ftruncate(file_.get(), 0) != 0) return PosixError(path_, errno);
  return SeekTo(0);
}

std::uint64_t OutputFile::Size() const {
  struct stat st;
  return file_.valid() && ::fstat(file_.get(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size)
                                                         : 0;
}

Status OutputFile::Close(base::UniqueFd* lock) {
  if (!file_.valid()) return Status::Ok();
  if (lock != nullptr) lock->Reset(::fcntl(file_.get(), F_DUPFD_CLOEXEC, 0));
  return ::close(file_.Release()) == 0 ? Status::Ok() : PosixError(path_, errno);
}

void OutputFile::Discard() {
  // A discarded file that stays is replaced by the next transfer to its path.
  if (own_ && file_.valid()) (void)::unlink(path_.c_str());
  file_.Reset();
}

}  // namespace net
