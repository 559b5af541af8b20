#include "static_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include "query.h"

namespace vendor {
namespace {

using base::Status;

// The service's own files at the top of the data folder, never served.
constexpr const char* kPrivateFiles[] = {"accounts.txt", "purchases.txt", "faults.txt"};

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

bool HasParentPart(std::string_view path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::string ContentTypeFor(std::string_view name) {
  struct Type {
    const char* extension;
    const char* type;
  };
  static constexpr Type kTypes[] = {
      {".xml", "application/xml"},
      {".txt", "text/plain"},
      {".html", "text/html"},
      {".htm", "text/html"},
      {".css", "text/css"},
      {".js", "text/javascript"},
      {".json", "application/json"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".png", "image/png"},
      {".gif", "image/gif"},
      {".bmp", "image/bmp"},
      {".swf", "application/x-shockwave-flash"},
      {".pdf", "application/pdf"},
      {".zip", "application/zip"},
      {".mp3", "audio/mpeg"},
      {".mp4", "video/mp4"},
  };
  std::size_t slash = name.rfind('/');
  std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
  std::size_t dot = base.rfind('.');
  if (dot != std::string_view::npos) {
    std::string_view extension = base.substr(dot);
    for (const Type& type : kTypes) {
      if (EqualsIgnoringCase(extension, type.extension)) return type.type;
    }
  }
  return "application/octet-stream";
}

Status OpenStaticFile(const std::string& root, std::string_view raw_path, OpenedFile* file) {
  std::string path = PercentDecode(raw_path, false);
  if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos ||
      HasParentPart(path)) {
    return Status::Invalid("not a path below the folder: " + std::string(raw_path));
  }
  const auto not_found = [&raw_path] { return Status::NotFound(std::string(raw_path)); };
  // With the whole file system as the folder, every resolved name lies inside it.
  const std::string prefix = root == "/" ? std::string() : root;
  std::string joined = prefix + path;
  std::unique_ptr<char, FreeDeleter> real(::realpath(joined.c_str(), nullptr));
  if (!real) return not_found();
  std::string resolved(real.get());
  if (resolved.size() <= prefix.size() || resolved.compare(0, prefix.size(), prefix) != 0 ||
      resolved[prefix.size()] != '/') {
    return not_found();
  }
  for (const char* name : kPrivateFiles) {
    if (resolved == prefix + "/" + name) return not_found();
  }
  // The resolved name is opened without following links, so a link put in its place
  // after the check is not followed out of the folder.
  base::UniqueFd fd(
      ::open(resolved.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW));
  if (!fd.valid()) return not_found();
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return not_found();
  file->fd = std::move(fd);
  file->size = static_cast<std::uint64_t>(st.st_size);
  file->st = st;
  file->content_type = ContentTypeFor(resolved);
  return Status::Ok();
}

}  // namespace vendor
