#include "update/staged_release.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace update {
namespace {

using base::PosixError;
using base::Status;

// |path| with its folder resolved (the file itself need not exist); |path| when the
// folder cannot be.
std::string Resolved(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return path;
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(folder.c_str(), nullptr), &std::free);
  if (!real) return path;
  const std::string base(real.get());
  return (base == "/" ? "" : base) + path.substr(slash);
}

}  // namespace

Status StagedRelease::Stage(File file) {
  struct stat old;
  const bool exists = ::lstat(file.target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) {
    file.body.Discard();
    return Status::NotRegular(file.target);
  }
  const int fd = file.body.lock.get();
  struct stat fresh;
  if (fd < 0 || ::fstat(fd, &fresh) != 0) {
    const Status failed = PosixError(file.body.path, fd < 0 ? EBADF : errno);
    file.body.Discard();
    return failed;
  }
  mode_t mode = (exists ? old.st_mode : fresh.st_mode) & 07777;
  if (file.executable) mode |= S_IXUSR;
  // The body is on the disk before it is ever renamed over its target.
  if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
    const Status failed = PosixError(file.body.path, errno);
    file.body.Discard();
    return failed;
  }
  files_.push_back(std::move(file));
  return Status::Ok();
}

bool StagedRelease::IsRestartFile(const std::string& target) const {
  const std::string resolved = Resolved(target);
  for (const std::string& own : restart_files_)
    if (!own.empty() && Resolved(own) == resolved) return true;
  return false;
}

Status StagedRelease::Commit(const ReleaseJournal& journal, std::optional<std::uint64_t> release,
                             bool* restart) {
  *restart = false;
  std::vector<ReleaseJournal::Step> steps;
  for (const File& file : files_) {
    steps.push_back({file.version, file.body.path, file.target});
    if (IsRestartFile(file.target)) *restart = true;
  }
  if (Status written = journal.Write(steps, release); !written.ok()) {
    Discard();
    return written;
  }
  // From here the bodies belong to the journal: a failure leaves them for the next
  // start to complete the release with.
  for (File& file : files_) {
    file.body.path.clear();
    file.body.made_folders.clear();
  }
  const Status completed = journal.Complete();
  for (File& file : files_) file.body.lock.Reset();
  return completed;
}

void StagedRelease::Discard() {
  for (File& file : files_) file.body.Discard();
  files_.clear();
}

}  // namespace update
