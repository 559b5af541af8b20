#include "net/partial_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <set>
#include <vector>

#include "base/files.h"

namespace net {

using base::PosixError;
using base::Status;
using base::UniqueFd;

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

std::string ReadValidator(const std::string& partial, std::uint64_t* whole) {
  if (whole != nullptr) *whole = 0;
  const std::string path = ValidatorPathOf(partial);
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  // The validator, its line end, and a length of at most 20 digits with its own.
  constexpr std::size_t kMaxBytes = kMaxValidator + 1 + 21;
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size > static_cast<off_t>(kMaxBytes))
    return {};
  char text[kMaxBytes + 1];
  const ssize_t n = ::read(fd.get(), text, sizeof text);
  if (n < 2 || text[n - 1] != '\n') return {};
  const std::string_view whole_text(text, static_cast<std::size_t>(n - 1));
  const std::size_t line_end = whole_text.find('\n');
  std::string validator(whole_text.substr(0, line_end));
  if (!UsableValidator(validator)) return {};
  if (line_end != std::string_view::npos) {
    // "V\nLENGTH\n": anything else after the first line is no record of this program's.
    const std::string_view digits = whole_text.substr(line_end + 1);
    std::uint64_t length = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return {};
    if (whole != nullptr) *whole = length;
  }
  return validator;
}

Status WriteValidator(const std::string& partial, std::string_view validator, std::uint64_t whole) {
  const std::string path = ValidatorPathOf(partial);
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (!fd.valid()) return PosixError(path, errno);
  std::string line = std::string(validator) + "\n";
  if (whole != 0) line += std::to_string(whole) + "\n";
  // One write: a kill leaves the text whole or cut, and a cut one is never read (cut
  // after the first line, it reads as a validator of unknown length).
  const ssize_t n = ::write(fd.get(), line.data(), line.size());
  if (n != static_cast<ssize_t>(line.size())) return PosixError(path, n < 0 ? errno : EIO);
  return ::close(fd.Release()) == 0 ? Status::Ok() : PosixError(path, errno);
}

void RemoveValidator(const std::string& partial) {
  // A validator without its partial file is never used: a later run starts from zero.
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

bool PartialShare(const std::string& partial, std::uint64_t* have, std::uint64_t* whole) {
  struct stat st;
  if (partial.empty() || ::lstat(partial.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (ReadValidator(partial, whole).empty()) return false;
  *have = static_cast<std::uint64_t>(st.st_size);
  return *have > 0 && *have < *whole;
}

int RemovePartialsBut(const std::string& folder,
                      const std::function<bool(const std::string& partial_name)>& keep) {
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.valid()) return 0;
  // The names are read first, partial files before validators, and each is then
  // looked at and removed through the folder's descriptor: a name is never joined to a
  // path, whatever bytes it holds.
  std::vector<std::string> partials, validators;
  {
    UniqueFd copy(::fcntl(dir.get(), F_DUPFD_CLOEXEC, 0));
    DIR* listing = copy.valid() ? ::fdopendir(copy.get()) : nullptr;
    if (listing == nullptr) return 0;
    (void)copy.Release();  // the listing owns it now
    const std::string_view suffix = kPartialSuffix;
    const std::string_view validator_suffix = kValidatorSuffix;
    while (const dirent* entry = ::readdir(listing)) {
      std::string_view name = entry->d_name;
      const bool validator = name.ends_with(validator_suffix);
      if (validator) name.remove_suffix(validator_suffix.size());
      // "." + NAME + ".partial", with NAME not empty.
      if (!name.starts_with('.') || !name.ends_with(suffix) || name.size() < suffix.size() + 2)
        continue;
      if (keep(std::string(name))) continue;
      (validator ? validators : partials).emplace_back(entry->d_name);
    }
    ::closedir(listing);
  }
  const auto regular = [&dir](const std::string& name) {
    struct stat st;
    return ::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
  };
  int removed = 0;
  std::set<std::string> busy;  // partial files a transfer writes: their validators stay
  for (const std::string& name : partials) {
    if (!regular(name)) continue;
    UniqueFd fd(::openat(dir.get(), name.c_str(),
                         O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      busy.insert(name);
      continue;
    }
    // Removed while locked: no transfer starts writing it meanwhile.
    if (::unlinkat(dir.get(), name.c_str(), 0) == 0) ++removed;
  }
  for (const std::string& name : validators) {
    const std::string partial = name.substr(0, name.size() - std::strlen(kValidatorSuffix));
    if (busy.count(partial) != 0 || !regular(name)) continue;
    if (::unlinkat(dir.get(), name.c_str(), 0) == 0) ++removed;
  }
  return removed;
}

}  // namespace net
