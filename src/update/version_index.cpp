#include "update/version_index.h"

#include <cerrno>

#include "base/ansi.h"
#include "base/files.h"

namespace update {
namespace {

// Tabs and line ends would break the index's lines; no other control character
// belongs in a path or a version either.
bool IsRecordable(const std::string& text) {
  if (text.size() > VersionIndex::kMaxTextBytes) return false;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

}  // namespace

base::Status VersionIndex::Read(std::map<std::string, std::string>* entries) const {
  std::string contents;
  if (base::Status read = base::ReadRegularFile(ansi::NativePath(path_), kMaxFileBytes, &contents);
      !read.ok())
    return read;
  std::size_t start = 0;
  while (start < contents.size() && entries->size() < kMaxEntries) {
    std::size_t end = contents.find('\n', start);
    if (end == std::string::npos) break;  // a last line without its end is cut off
    const std::string line = contents.substr(start, end - start);
    start = end + 1;
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos || tab == 0 || tab + 1 == line.size()) continue;
    std::string version = line.substr(0, tab);
    std::string target = line.substr(tab + 1);
    if (!IsRecordable(version) || !IsRecordable(target)) continue;
    (*entries)[std::move(target)] = std::move(version);
  }
  return base::Status::Ok();
}

bool VersionIndex::Lookup(const std::string& target, std::string* version) const {
  std::map<std::string, std::string> entries;
  if (!Read(&entries).ok()) return false;
  auto found = entries.find(target);
  if (found == entries.end()) return false;
  *version = found->second;
  return true;
}

base::Status VersionIndex::Record(const std::string& target, const std::string& version) const {
  return Record({{target, version}});
}

base::Status VersionIndex::Record(
    const std::vector<std::pair<std::string, std::string>>& versions) const {
  for (const auto& [target, version] : versions)
    if (target.empty() || !IsRecordable(target) || !IsRecordable(version))
      return base::Status::Invalid("a path or version that cannot be recorded");
  std::map<std::string, std::string> entries;
  if (base::Status read = Read(&entries); !read.ok() && !read.IsNotFound()) return read;
  for (const auto& [target, version] : versions) {
    if (version.empty()) {
      entries.erase(target);
      continue;
    }
    if (entries.size() >= kMaxEntries && entries.count(target) == 0)
      return base::Status::TooLarge(path_ + ": the index is full");
    entries[target] = version;
  }
  std::string contents;
  for (const auto& [path, recorded] : entries) contents += recorded + "\t" + path + "\n";
  if (contents.size() > kMaxFileBytes) return base::Status::TooLarge(path_ + ": the index is full");
  const std::string native = ansi::NativePath(path_);
  if (base::Status made = base::MakeParentFolders(native); !made.ok()) return made;
  return base::ReplaceFileContents(native, contents);
}

}  // namespace update
