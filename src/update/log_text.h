// The pieces of the update window's log texts: code-page text in UTF-8, and numbers.
#ifndef LUMORA_UPDATE_LOG_TEXT_H_
#define LUMORA_UPDATE_LOG_TEXT_H_

#include <cstdint>
#include <string>

#include "base/ansi.h"

namespace update::log_text {

// |text| (code page) in UTF-8, as the log shows it.
inline std::string Utf8(const std::string& text) { return ansi::ToUtf8Lossy(text); }

// "%u" of the update texts.
inline std::string Number(std::uint64_t n) { return std::to_string(n); }

}  // namespace update::log_text

#endif  // LUMORA_UPDATE_LOG_TEXT_H_
