// Reads the service's small text files (accounts, purchases, fault switches): regular
// files only, opened without blocking, bounded in size, split into valid UTF-8 lines.
#ifndef LUMORA_TOOLS_VENDOR_TEXT_FILE_H_
#define LUMORA_TOOLS_VENDOR_TEXT_FILE_H_

#include <cstddef>
#include <string>
#include <vector>

namespace vendor {

// The largest text file the service reads.
inline constexpr std::size_t kMaxTextFileSize = 16 * 1024 * 1024;

enum class TextFileState { kRead, kMissing, kRefused };

// Reads |path| whole into |content|. A missing file gives kMissing; a file that is not
// regular, is larger than kMaxTextFileSize or cannot be read gives kRefused with the
// reason in |error|.
[[nodiscard]] TextFileState ReadTextFile(const std::string& path, std::string* content,
                                         std::string* error);

struct TextLine {
  int number = 0;  // counted from 1
  std::string text;
};

// The lines of |content| that carry data: split at "\n", a trailing "\r" and a leading
// byte-order mark taken off, empty lines and lines whose first non-blank character is "#"
// left out. A line that is not valid UTF-8 or holds a NUL byte is left out and reported
// on standard error as "NAME:LINE: ...".
std::vector<TextLine> DataLines(const std::string& content, const std::string& name);

// |line| split at tab characters.
std::vector<std::string> SplitTabs(const std::string& line);

// Reports |message| on standard error, prefixed with the program's name, as one write.
void LogError(const std::string& message);

}  // namespace vendor

#endif  // LUMORA_TOOLS_VENDOR_TEXT_FILE_H_
