#include "platform/gtk/movie_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "platform/files.h"

namespace platform {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The canonical path of |path| (every link resolved), or "" when it does not exist.
std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return "";
  std::string result = resolved;
  free(resolved);
  return result;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

bool PercentDecode(const std::string& text, std::string* decoded) {
  decoded->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return false;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (c == '\0') return false;
    decoded->push_back(c);
  }
  return true;
}

bool CleanRelativePath(const std::string& encoded, std::string* relative) {
  std::string decoded;
  if (!PercentDecode(encoded, &decoded)) return false;
  relative->clear();
  std::size_t start = 0;
  while (start <= decoded.size()) {
    std::size_t end = decoded.find('/', start);
    if (end == std::string::npos) end = decoded.size();
    const std::string segment = decoded.substr(start, end - start);
    start = end + 1;
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") return false;
    if (!relative->empty()) relative->push_back('/');
    relative->append(segment);
  }
  return !relative->empty();
}

std::string ContentTypeFor(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return "application/octet-stream";
  const std::string ext = Lower(path.substr(dot + 1));
  if (ext == "xml" || ext == "opml") return "application/xml";
  if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
  if (ext == "png") return "image/png";
  if (ext == "gif") return "image/gif";
  if (ext == "bmp") return "image/bmp";
  if (ext == "webp") return "image/webp";
  // Never served as a page or a script of the movie's own origin.
  return "application/octet-stream";
}

ServeResult ServeMovieFile(const std::string& path, const std::string& data_dir,
                           const std::string& current_dir, ServedFile* file) {
  std::string folder;
  std::string rest;
  if (StartsWith(path, "/data/")) {
    folder = data_dir;
    rest = path.substr(6);
  } else if (StartsWith(path, "/current/")) {
    folder = current_dir;
    rest = path.substr(9);
  } else {
    return ServeResult::kNotServed;
  }
  if (folder.empty() || folder[0] != '/') return ServeResult::kNotServed;
  std::string relative;
  if (!CleanRelativePath(rest, &relative)) return ServeResult::kNotServed;
  const std::string root = RealPath(folder);
  if (root.empty()) return ServeResult::kMissing;

  UniqueFd file_fd;
  if (Status s = OpenRegularFile(root + "/" + relative, &file_fd); !s.ok())
    return s.IsNotFound() || s.code() == Status::Code::kNotRegular ? ServeResult::kMissing
                                                                   : ServeResult::kNotServed;
  const int fd = file_fd.get();
  // What was opened, links resolved, must lie inside the folder.
  const std::string opened = RealPath("/proc/self/fd/" + std::to_string(fd));
  const std::string prefix = root == "/" ? root : root + "/";
  if (opened.empty() || !StartsWith(opened, prefix)) return ServeResult::kNotServed;
  file->bytes.clear();
  struct stat st;
  if (fstat(fd, &st) != 0 || static_cast<std::size_t>(st.st_size) > kMaxServedFile)
    return ServeResult::kTooLarge;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (file->bytes.size() + static_cast<std::size_t>(n) > kMaxServedFile) {
      file->bytes.clear();
      return ServeResult::kTooLarge;
    }
    file->bytes.append(buffer, static_cast<std::size_t>(n));
  }
  file->content_type = ContentTypeFor(opened);
  return ServeResult::kOk;
}

}  // namespace platform
