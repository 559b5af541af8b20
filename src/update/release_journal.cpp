#include "update/release_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <string_view>
#include <utility>

#include "base/ansi.h"
#include "base/files.h"
#include "base/unique_file.h"
#include "update/installed_release.h"
#include "update/minisign.h"
#include "update/version_index.h"

namespace update {
namespace {

using base::PosixError;
using base::Status;

constexpr std::size_t kRandomLetters = 6;
constexpr const char* kEnd = "end";
constexpr std::string_view kRelease = "release ";

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool HasControl(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

// Flushes the folder |folder|, so that the renames and removals made in it last.
Status SyncFolder(const std::string& folder) {
  base::UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return PosixError(folder, errno);
  if (::fsync(fd.get()) != 0) return PosixError(folder, errno);
  return Status::Ok();
}

}  // namespace

bool ReleaseJournal::IsBodyOf(const std::string& body, const std::string& target) {
  if (body.empty() || target.empty() || body.front() != '/' || target.front() != '/') return false;
  if (base::FolderOf(body) != base::FolderOf(target)) return false;
  const std::string name = NameOf(target);
  if (name.empty() || name == "." || name == "..") return false;
  const std::string prefix = "." + name + ".update.";
  const std::string body_name = NameOf(body);
  if (body_name.size() != prefix.size() + kRandomLetters || body_name.rfind(prefix, 0) != 0)
    return false;
  return std::all_of(
      body_name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), body_name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
      });
}

Status ReleaseJournal::Write(const std::vector<Step>& steps,
                             std::optional<std::uint64_t> release) const {
  std::string contents = std::string(kHeader) + "\n";
  if (release) contents += std::string(kRelease) + std::to_string(*release) + "\n";
  for (const Step& step : steps) {
    if (!IsBodyOf(step.body, step.target) || HasControl(step.version) || HasControl(step.body) ||
        HasControl(step.target))
      return Status::Invalid("a step that cannot be journaled: " + step.target);
    contents += step.version + "\t" + step.body + "\t" + step.target + "\n";
  }
  contents += std::string(kEnd) + "\n";
  if (contents.size() > kMaxFileBytes) return Status::TooLarge(path_ + ": too many files");
  // Written whole under a temporary name and renamed into place (flushed first): a
  // journal is either all there or not at all.
  if (Status written = base::ReplaceFileContents(path_, contents); !written.ok()) return written;
  return SyncFolder(base::FolderOf(path_));
}

Status ReleaseJournal::Read(std::vector<Step>* steps, std::optional<std::uint64_t>* release) const {
  std::string contents;
  if (Status read = base::ReadRegularFile(path_, kMaxFileBytes, &contents); !read.ok()) return read;
  const std::string header = std::string(kHeader) + "\n";
  const std::string end = std::string(kEnd) + "\n";
  if (contents.rfind(header, 0) != 0 || contents.size() < header.size() + end.size() ||
      contents.compare(contents.size() - end.size(), end.size(), end) != 0)
    return Status::Invalid(path_ + ": not a whole journal");
  std::string body = contents.substr(header.size(), contents.size() - header.size() - end.size());
  if (body.starts_with(kRelease)) {
    const std::size_t stop = body.find('\n');
    const std::string number = body.substr(kRelease.size(), stop - kRelease.size());
    std::uint64_t value = 0;
    if (!minisign::ParseDecimal(number, &value))
      return Status::Invalid(path_ + ": not a release number");
    *release = value;
    body.erase(0, stop + 1);
  }
  for (std::size_t start = 0, stop; (stop = body.find('\n', start)) != std::string::npos;
       start = stop + 1) {
    const std::string line = body.substr(start, stop - start);
    const std::size_t first = line.find('\t');
    const std::size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
    if (second == std::string::npos) return Status::Invalid(path_ + ": a line without its paths");
    Step step{line.substr(0, first), line.substr(first + 1, second - first - 1),
              line.substr(second + 1)};
    if (!IsBodyOf(step.body, step.target) || step.target.find('\t') != std::string::npos)
      return Status::Invalid(path_ + ": a step that is not a body's: " + step.target);
    steps->push_back(std::move(step));
  }
  return Status::Ok();
}

Status ReleaseJournal::Complete() const {
  std::vector<Step> steps;
  std::optional<std::uint64_t> release;
  if (Status read = Read(&steps, &release); !read.ok()) {
    // A journal that is not the program's own moves nothing; it goes, so that it does
    // not stand in the way of the next release.
    if (!read.IsNotFound()) (void)::unlink(path_.c_str());
    return read;
  }
  Status first_failure = Status::Ok();
  std::set<std::string> folders;
  for (const Step& step : steps) {
    struct stat st;
    if (::lstat(step.body.c_str(), &st) != 0) continue;  // renamed already
    if (!S_ISREG(st.st_mode) || ::rename(step.body.c_str(), step.target.c_str()) != 0) {
      if (first_failure.ok())
        first_failure =
            S_ISREG(st.st_mode) ? PosixError(step.target, errno) : Status::NotRegular(step.body);
      continue;
    }
    folders.insert(base::FolderOf(step.target));
  }
  for (const std::string& folder : folders)
    if (Status synced = SyncFolder(folder); !synced.ok() && first_failure.ok())
      first_failure = synced;
  if (!first_failure.ok()) return first_failure;
  // The release is in place: its versions change together, then the journal goes.
  if (!version_index_.empty()) {
    std::vector<std::pair<std::string, std::string>> versions;
    for (const Step& step : steps) {
      std::string core;
      if (!step.version.empty() && ansi::CorePath(step.target, &core))
        versions.emplace_back(core, step.version);
    }
    // A version that cannot be recorded only means the file is fetched again later.
    if (!versions.empty()) (void)VersionIndex(version_index_).Record(versions);
  }
  if (release && !installed_release_.empty())
    if (Status recorded = RecordRelease(*release); !recorded.ok()) return recorded;
  if (::unlink(path_.c_str()) != 0) return PosixError(path_, errno);
  return SyncFolder(base::FolderOf(path_));
}

Status ReleaseJournal::RecordRelease(std::uint64_t release) const {
  // A number recorded meanwhile (another instance's later release) is never lowered.
  const InstalledRelease installed(installed_release_);
  std::uint64_t recorded = 0;
  if (installed.Read(&recorded).ok() && recorded >= release) return Status::Ok();
  return installed.Write(release);
}

}  // namespace update
