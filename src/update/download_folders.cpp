#include "update/download_folders.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <vector>

#include "base/files.h"
#include "base/folders.h"
#include "base/unique_file.h"
#include "net/inet_file.h"

namespace update {
namespace {

using base::PosixError;
using base::Status;
using base::UniqueFd;

bool IsRecordable(std::string_view folder) {
  if (folder.empty() || folder.front() != '/' || folder.size() > DownloadFolders::kMaxPathBytes)
    return false;
  return std::none_of(folder.begin(), folder.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

// The record opened for reading and appending, and locked; never a link, a folder, a
// FIFO or a device. NotFound when it is not there and |create| is not set.
Status OpenLocked(const std::string& path, bool create, UniqueFd* fd) {
  const int flags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  fd->Reset(::open(path.c_str(), create ? flags | O_CREAT : flags, 0666));
  if (!fd->valid()) return PosixError(path, errno);
  struct stat st;
  if (::fstat(fd->get(), &st) != 0) return PosixError(path, errno);
  if (!S_ISREG(st.st_mode)) return Status::NotRegular(path);
  while (::flock(fd->get(), LOCK_EX) != 0)
    if (errno != EINTR) return PosixError(path, errno);
  return Status::Ok();
}

// The folders recorded, each once, in the order recorded. |over_limit| is set for a
// record too large or too long to be added to.
std::vector<std::string> ReadFolders(int fd, bool* over_limit, bool* ends_in_line) {
  std::string contents;
  char buffer[65536];
  for (off_t offset = 0; contents.size() <= DownloadFolders::kMaxFileBytes;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    contents.append(buffer, static_cast<std::size_t>(n));
    offset += n;
  }
  *over_limit = contents.size() > DownloadFolders::kMaxFileBytes;
  *ends_in_line = contents.empty() || contents.back() == '\n';
  std::vector<std::string> folders;
  if (*over_limit) return folders;
  for (std::size_t start = 0, end; (end = contents.find('\n', start)) != std::string::npos;
       start = end + 1) {
    std::string folder = contents.substr(start, end - start);
    if (IsRecordable(folder) && std::find(folders.begin(), folders.end(), folder) == folders.end())
      folders.push_back(std::move(folder));
  }
  *over_limit = folders.size() >= DownloadFolders::kMaxFolders;
  return folders;
}

Status WriteAll(int fd, const std::string& path, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return PosixError(path, errno);
    if (n == 0) return Status::IoError(path + ": nothing written");
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return Status::Ok();
}

}  // namespace

Status DownloadFolders::Remember(const std::string& folder) const {
  if (!IsRecordable(folder)) return Status::Invalid("a folder that cannot be recorded: " + folder);
  if (Status made = base::MakeParentFolders(path_); !made.ok()) return made;
  UniqueFd fd;
  if (Status s = OpenLocked(path_, true, &fd); !s.ok()) return s;
  bool over_limit = false, ends_in_line = true;
  const std::vector<std::string> folders = ReadFolders(fd.get(), &over_limit, &ends_in_line);
  if (std::find(folders.begin(), folders.end(), folder) != folders.end()) return Status::Ok();
  if (over_limit) {
    // Starts over: at worst what a kill left in a folder forgotten here stays.
    if (::ftruncate(fd.get(), 0) != 0) return PosixError(path_, errno);
    ends_in_line = true;
  }
  // Appended whole, after the end of an unfinished line.
  return WriteAll(fd.get(), path_, (ends_in_line ? "" : "\n") + folder + "\n");
}

int DownloadFolders::RemoveStaleBodies() const {
  UniqueFd fd;
  if (!OpenLocked(path_, false, &fd).ok()) return 0;
  bool over_limit = false, ends_in_line = true;
  const std::vector<std::string> folders = ReadFolders(fd.get(), &over_limit, &ends_in_line);
  int removed = 0;
  std::string kept;
  for (const std::string& folder : folders) {
    if (!base::IsDirectory(folder)) continue;
    // Only bodies: "." + NAME + ".update." + six letters or digits.
    removed += base::RemoveStaleTemporaries(folder, net::CInetFile::kBodySuffix);
    kept += folder + "\n";
  }
  // The folders stay recorded: a program that runs now may be writing in them.
  if (::ftruncate(fd.get(), 0) == 0) (void)WriteAll(fd.get(), path_, kept);
  return removed;
}

}  // namespace update
