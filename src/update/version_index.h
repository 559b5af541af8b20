// The versions of the files the updater installed. Program files carry no version
// resource on this platform, so the updater records the manifest's version of every
// file it installs in a small index file in the data folder, and reading a file's
// version means looking it up there: a file the updater did not install has none.
//
// The index is text, one file per line: the version, a tab, the file's full path (code
// page, '/' separators), LF. It is rewritten whole and atomically; lines that are not
// of that form are passed over when read and dropped at the next write. Only a regular
// file of at most kMaxFileBytes is read, without ever blocking.
#ifndef LUMORA_UPDATE_VERSION_INDEX_H_
#define LUMORA_UPDATE_VERSION_INDEX_H_

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/status.h"

namespace update {

class VersionIndex {
 public:
  static constexpr std::size_t kMaxFileBytes = 4u << 20;
  static constexpr std::size_t kMaxEntries = 65536;
  // Paths and versions longer than this are not recorded.
  static constexpr std::size_t kMaxTextBytes = 4096;

  // The index at |path| (code page, '/' separators); nothing is read yet.
  explicit VersionIndex(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // The version recorded for |target|: false when there is none (or the index cannot
  // be read).
  [[nodiscard]] bool Lookup(const std::string& target, std::string* version) const;

  // Records |version| for |target|, replacing what was recorded; an empty version
  // removes the record. The index's folder is made when missing. Fails, and the index
  // stays unchanged, when a text holds a control character or is too long (Invalid),
  // the index is there but is not a readable regular file within the limit, it is
  // full (TooLarge), or it cannot be written.
  base::Status Record(const std::string& target, const std::string& version) const;
  // The same for several targets (target, version) at once, in one write: a release's
  // versions change together.
  base::Status Record(const std::vector<std::pair<std::string, std::string>>& versions) const;

 private:
  // The entries of the index; NotFound when there is none yet.
  base::Status Read(std::map<std::string, std::string>* entries) const;

  std::string path_;
};

}  // namespace update

#endif  // LUMORA_UPDATE_VERSION_INDEX_H_
