#include "base/status.h"

#include <cerrno>
#include <cstring>

namespace base {

std::string Status::ToString() const {
  const char* kind = "OK";
  switch (code_) {
    case Code::kOk:
      return kind;
    case Code::kNotFound:
      kind = "not found";
      break;
    case Code::kNotRegular:
      kind = "not a regular file";
      break;
    case Code::kTooLarge:
      kind = "too large";
      break;
    case Code::kInvalid:
      kind = "invalid";
      break;
    case Code::kCorrupt:
      kind = "corrupt";
      break;
    case Code::kIoError:
      kind = "I/O error";
      break;
    case Code::kUnavailable:
      kind = "unavailable";
      break;
  }
  std::string text = kind;
  if (!message_.empty()) text.append(": ").append(message_);
  return text;
}

Status PosixError(std::string_view context, int error_number) {
  std::string message(context);
  if (!message.empty()) message += ": ";
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be |buffer|.
  message += strerror_r(error_number, buffer, sizeof buffer);
  switch (error_number) {
    case ENOENT:
    case ENOTDIR:
      return Status::NotFound(message);
    case EFBIG:
      return Status::TooLarge(message);
    case EISDIR:
      return Status::NotRegular(message);
    case EINVAL:
      return Status::Invalid(message);
    case EAGAIN:
    case EBUSY:
    case EINTR:
      return Status::Unavailable(message);
    default:
      return Status::IoError(message);
  }
}

}  // namespace base
