// Text in the system's ANSI code page.
//
// Inside the core every text is a byte string in the ANSI code page, which here is
// GB18030: the same bytes as GBK for every GBK character (so GB2312 catalogue files
// read and write unchanged) and lossless for all of Unicode. Text is converted only at
// the edges: the file system and GTK speak UTF-8, the movie bridge speaks UTF-8 too,
// file names of memory files are kept in UTF-16.
#ifndef LUMORA_PLATFORM_ANSI_H_
#define LUMORA_PLATFORM_ANSI_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace ansi {

// Strict conversions: false (and |out| untouched) when the input is not valid in its
// encoding.
bool FromUtf8(std::string_view utf8, std::string* out);
bool ToUtf8(std::string_view text, std::string* out);
bool ToUtf16(std::string_view text, std::u16string* out);
bool FromUtf16(std::u16string_view utf16, std::string* out);

// Lenient conversions for text that must get through whatever it holds (output to the
// terminal or the page): every invalid sequence becomes one replacement character
// (U+FFFD towards UTF-8, '?' towards the code page).
std::string ToUtf8Lossy(std::string_view text);
std::string FromUtf8Lossy(std::string_view utf8);

// Length in bytes of the character that starts at |pos| (1, 2 or 4). A lead byte
// without a valid trail counts as one byte, so walking never runs past the end.
std::size_t CharLength(std::string_view text, std::size_t pos);

// Offset of the character after the one at |pos| (text.size() at the end).
std::size_t NextChar(std::string_view text, std::size_t pos);

// The longest prefix of |text| that fits |max_bytes| bytes without splitting a
// character.
std::string_view CutToBytes(std::string_view text, std::size_t max_bytes);

// Lower-cases the single-byte letters A-Z, walking character by character so that a
// trail byte of a double-byte character (which may look like a letter) is kept.
std::string Lower(std::string_view text);

// Offset of the first |c| at or after |from| that is a character of its own (never a
// trail byte), or npos when there is none. |from| must start a character.
std::size_t FindChar(std::string_view text, char c, std::size_t from = 0);

// Offset of the last |sep| that is a character of its own (never a trail byte), or
// npos when there is none.
std::size_t FindLastSeparator(std::string_view text, char sep);

// The text after the last separator '/' (the whole text when it has none).
std::string_view AfterLastSeparator(std::string_view path);

// A core path (code page, '/' separators) as the UTF-8 path for a file-system call.
std::string NativePath(std::string_view core_path);
// A path that came from the system, converted once where it enters the core. False
// when the name is not valid UTF-8 (such a file cannot be named in the core).
bool CorePath(std::string_view native_path, std::string* out);
// The same for a path that must get through whatever it holds: a name that is not
// valid UTF-8 is kept as close as it can be.
std::string CorePathLossy(std::string_view native_path);

}  // namespace ansi

#endif  // LUMORA_PLATFORM_ANSI_H_
