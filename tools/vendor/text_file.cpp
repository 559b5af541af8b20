#include "text_file.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/unique_file.h"

namespace vendor {
namespace {

using base::Status;

// The failure of a system call on |path|, never taken for a missing file.
Status Refused(const std::string& path, int error_number) {
  return Status::IoError(path + ": " + std::strerror(error_number));
}

}  // namespace

Status ReadTextFile(const std::string& path, std::string* content) {
  content->clear();
  const auto too_large = [&path] {
    return Status::TooLarge(path + ": larger than " + std::to_string(kMaxTextFileSize) + " bytes");
  };
  // O_NONBLOCK keeps a FIFO under the file's name from blocking the open.
  base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) {
    const int error = errno;
    if (error == ENOENT) return Status::NotFound(path + ": " + std::strerror(error));
    return Refused(path, error);
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return Refused(path, errno);
  if (!S_ISREG(st.st_mode)) return Status::NotRegular(path + ": not a regular file");
  if (static_cast<std::size_t>(st.st_size) > kMaxTextFileSize) return too_large();
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Refused(path, errno);
    if (n == 0) break;
    content->append(buffer, static_cast<std::size_t>(n));
    // The file may have grown since it was measured.
    if (content->size() > kMaxTextFileSize) {
      content->clear();
      return too_large();
    }
  }
  return Status::Ok();
}

std::vector<TextLine> DataLines(const std::string& content, const std::string& name) {
  std::vector<TextLine> lines;
  std::size_t start = 0;
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
  int number = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string text = content.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.find('\0') != std::string::npos ||
        !g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
      LogError(name + ":" + std::to_string(number) + ": not valid UTF-8 text; line skipped");
      continue;
    }
    std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos || text[first] == '#') continue;
    lines.push_back({number, std::move(text)});
  }
  return lines;
}

std::vector<TextLine> ReadDataFile(const std::string& root, const std::string& name) {
  std::string content;
  if (const Status read = ReadTextFile(root + "/" + name, &content); !read.ok()) {
    // A missing file holds nothing, quietly.
    if (!read.IsNotFound()) LogError(read.message());
    return {};
  }
  return DataLines(content, name);
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t tab = line.find('\t', start);
    if (tab == std::string::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
}

void LogError(const std::string& message) {
  std::string line = "lumora-vendor: " + message + "\n";
  // One write, so that lines of concurrent requests do not interleave.
  // Nothing is left to tell of a report that cannot be written.
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace vendor
