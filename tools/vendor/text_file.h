// Reads the service's small text files (accounts, purchases, fault switches): regular
// files only, opened without blocking, bounded in size, split into valid UTF-8 lines.
#ifndef LUMORA_TOOLS_VENDOR_TEXT_FILE_H_
#define LUMORA_TOOLS_VENDOR_TEXT_FILE_H_

#include <cstddef>
#include <string>
#include <vector>

#include "base/status.h"

namespace vendor {

// The largest text file the service reads.
inline constexpr std::size_t kMaxTextFileSize = 16 * 1024 * 1024;

// Reads |path| whole into |content|. NotFound when nothing is there (only then: a name
// that cannot be looked up for another reason is refused); NotRegular, TooLarge (over
// kMaxTextFileSize) or IoError with the reason, "PATH: ...", otherwise.
[[nodiscard]] base::Status ReadTextFile(const std::string& path, std::string* content);

struct TextLine {
  int number = 0;  // counted from 1
  std::string text;
};

// The lines of |content| that carry data: split at "\n", a trailing "\r" and a leading
// byte-order mark taken off, empty lines and lines whose first non-blank character is "#"
// left out. A line that is not valid UTF-8 or holds a NUL byte is left out and reported
// on standard error as "NAME:LINE: ...".
std::vector<TextLine> DataLines(const std::string& content, const std::string& name);

// The data lines of the file |name| in the folder |root|. A missing file has none; a
// file that is refused has none either and is reported on standard error.
std::vector<TextLine> ReadDataFile(const std::string& root, const std::string& name);

// |line| split at tab characters.
std::vector<std::string> SplitTabs(const std::string& line);

// Reports |message| on standard error, prefixed with the program's name, as one write.
void LogError(const std::string& message);

}  // namespace vendor

#endif  // LUMORA_TOOLS_VENDOR_TEXT_FILE_H_
