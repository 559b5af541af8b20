#include "text_file.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "unique_fd.h"

namespace vendor {

TextFileState ReadTextFile(const std::string& path, std::string* content, std::string* error) {
  content->clear();
  // O_NONBLOCK keeps a FIFO under the file's name from blocking the open.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) {
    if (errno == ENOENT) return TextFileState::kMissing;
    *error = path + ": " + std::strerror(errno);
    return TextFileState::kRefused;
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    *error = path + ": " + std::strerror(errno);
    return TextFileState::kRefused;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = path + ": not a regular file";
    return TextFileState::kRefused;
  }
  if (static_cast<std::size_t>(st.st_size) > kMaxTextFileSize) {
    *error = path + ": larger than " + std::to_string(kMaxTextFileSize) + " bytes";
    return TextFileState::kRefused;
  }
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = path + ": " + std::strerror(errno);
      return TextFileState::kRefused;
    }
    if (n == 0) break;
    content->append(buffer, static_cast<std::size_t>(n));
    // The file may have grown since it was measured.
    if (content->size() > kMaxTextFileSize) {
      *error = path + ": larger than " + std::to_string(kMaxTextFileSize) + " bytes";
      content->clear();
      return TextFileState::kRefused;
    }
  }
  return TextFileState::kRead;
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
  ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
  (void)written;
}

}  // namespace vendor
