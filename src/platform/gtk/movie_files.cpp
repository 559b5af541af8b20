#include "platform/gtk/movie_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "base/files.h"

namespace platform {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct FreeDeleter {
  void operator()(char* text) const noexcept { std::free(text); }
};

// The canonical path of |path| (every link resolved), or "" when it does not exist.
std::string RealPath(const std::string& path) {
  const std::unique_ptr<char, FreeDeleter> resolved(realpath(path.c_str(), nullptr));
  return resolved ? std::string(resolved.get()) : std::string();
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

base::Status PercentDecode(const std::string& text, std::string* decoded) {
  decoded->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return base::Status::Invalid("an escape cut off");
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return base::Status::Invalid("an escape that is no hex number");
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (c == '\0') return base::Status::Invalid("a zero byte");
    decoded->push_back(c);
  }
  return base::Status::Ok();
}

base::Status CleanRelativePath(const std::string& encoded, std::string* relative) {
  std::string decoded;
  if (base::Status s = PercentDecode(encoded, &decoded); !s.ok()) return s;
  relative->clear();
  std::size_t start = 0;
  while (start <= decoded.size()) {
    std::size_t end = decoded.find('/', start);
    if (end == std::string::npos) end = decoded.size();
    const std::string segment = decoded.substr(start, end - start);
    start = end + 1;
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") return base::Status::Invalid("a parent folder");
    if (!relative->empty()) relative->push_back('/');
    relative->append(segment);
  }
  return relative->empty() ? base::Status::Invalid("no file named") : base::Status::Ok();
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

base::Status ServeMovieFile(const std::string& path, const std::string& data_dir,
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
    return base::Status::Invalid("not a folder of the movie: " + path);
  }
  if (folder.empty() || folder[0] != '/')
    return base::Status::Invalid("the folder is not named by an absolute path: " + path);
  std::string relative;
  if (base::Status s = CleanRelativePath(rest, &relative); !s.ok())
    return base::Status::Invalid(path + ": " + s.message());
  const std::string root = RealPath(folder);
  if (root.empty()) return base::Status::NotFound("no folder " + folder);

  base::UniqueFd file_fd;
  if (base::Status s = base::OpenRegularFile(root + "/" + relative, &file_fd); !s.ok()) {
    // A folder, a FIFO or a device is no file of the movie's, as nothing there is.
    if (s.IsNotFound() || s.code() == base::Status::Code::kNotRegular)
      return base::Status::NotFound(s.message());
    return s;
  }
  const int fd = file_fd.get();
  // What was opened, links resolved, must lie inside the folder.
  const std::string opened = RealPath("/proc/self/fd/" + std::to_string(fd));
  const std::string prefix = root == "/" ? root : root + "/";
  if (opened.empty() || !StartsWith(opened, prefix))
    return base::Status::Invalid(path + " leads out of its folder");
  file->bytes.clear();
  const auto too_large = [&path] {
    return base::Status::TooLarge(path + " holds more than " + std::to_string(kMaxServedFile) +
                                  " bytes");
  };
  struct stat st;
  if (fstat(fd, &st) != 0 || static_cast<std::size_t>(st.st_size) > kMaxServedFile)
    return too_large();
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (file->bytes.size() + static_cast<std::size_t>(n) > kMaxServedFile) {
      file->bytes.clear();
      return too_large();
    }
    file->bytes.append(buffer, static_cast<std::size_t>(n));
  }
  file->content_type = ContentTypeFor(opened);
  return base::Status::Ok();
}

}  // namespace platform
