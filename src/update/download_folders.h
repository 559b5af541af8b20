// The folders that downloads write their bodies in. A download's body is a file of its
// own beside its target (net::CInetFile), removed when the download fails, is cancelled
// or ends with the program; only a kill or a crash leaves one behind, in whatever
// folder the manifest or the shelf put its file. So each folder a download is about to
// write in is recorded first, and the next start removes from the recorded folders the
// bodies that a process which has ended left there (unlocked, last written before that
// start: base::RemoveStaleTemporaries), whatever their folder.
//
// The record is a small text file in the data folder: one native folder path a line,
// LF. It is changed under a lock (flock), so that two programs never lose each other's
// lines. A line that a kill left unfinished is ended before the next one is added; it
// names at worst a folder where only stale bodies would go, and is forgotten once no
// such folder exists. It is read like any outside file: a regular file only, opened
// without blocking, at most kMaxFileBytes; once it holds kMaxFolders folders it starts
// over.
#ifndef LUMORA_UPDATE_DOWNLOAD_FOLDERS_H_
#define LUMORA_UPDATE_DOWNLOAD_FOLDERS_H_

#include <cstddef>
#include <string>

#include "base/status.h"

namespace update {

class DownloadFolders {
 public:
  static constexpr const char* kFileName = "download-folders.txt";
  static constexpr std::size_t kMaxFolders = 1024;
  static constexpr std::size_t kMaxFileBytes = 1u << 20;
  static constexpr std::size_t kMaxPathBytes = 4096;

  // The record at |path| (native); nothing is read yet.
  explicit DownloadFolders(std::string path) : path_(std::move(path)) {}

  // Records |folder| (native, absolute) unless it is recorded already. The record's own
  // folder is made when missing. Invalid for a folder that is not absolute or holds a
  // control character.
  base::Status Remember(const std::string& folder) const;

  // Removes the bodies that downloads of processes that have ended left in the
  // recorded folders, and forgets the folders that no longer exist. Returns how many
  // bodies went (0 when there is no record).
  int RemoveStaleBodies() const;

 private:
  std::string path_;
};

}  // namespace update

#endif  // LUMORA_UPDATE_DOWNLOAD_FOLDERS_H_
