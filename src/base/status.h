// The result of an operation of the program's own layers: success, or a code that
// says what kind of failure it was and a message that says what failed, for a person
// to read. Returning one costs a little more than a bool and carries no exception, so
// it crosses every module boundary. Operations with a fixed result convention of their
// own (true or false, a result code, a null object) stay as they are and are thin
// adapters over a Status.
#ifndef LUMORA_BASE_STATUS_H_
#define LUMORA_BASE_STATUS_H_

#include <string>
#include <string_view>

namespace base {

class [[nodiscard]] Status {
 public:
  enum class Code : unsigned char {
    kOk,
    kNotFound,     // nothing at the path, or no such entry
    kNotRegular,   // a folder, FIFO, socket or device where a file was wanted
    kTooLarge,     // larger than the limit the caller set
    kInvalid,      // an argument or input the operation refuses
    kCorrupt,      // stored data that does not hold together
    kIoError,      // the system refused or failed a read, write or other call
    kUnavailable,  // busy, or not there yet: trying again later may succeed
  };

  // Success.
  Status() = default;
  static Status Ok() { return Status(); }
  static Status NotFound(std::string_view message) { return {Code::kNotFound, message}; }
  static Status NotRegular(std::string_view message) { return {Code::kNotRegular, message}; }
  static Status TooLarge(std::string_view message) { return {Code::kTooLarge, message}; }
  static Status Invalid(std::string_view message) { return {Code::kInvalid, message}; }
  static Status Corrupt(std::string_view message) { return {Code::kCorrupt, message}; }
  static Status IoError(std::string_view message) { return {Code::kIoError, message}; }
  static Status Unavailable(std::string_view message) { return {Code::kUnavailable, message}; }

  bool ok() const { return code_ == Code::kOk; }
  // The same as ok(), for conditions: if (Status s = Save()) ...
  explicit operator bool() const { return ok(); }
  Code code() const { return code_; }
  bool IsNotFound() const { return code_ == Code::kNotFound; }
  // What failed; empty on success.
  const std::string& message() const { return message_; }
  // "OK", or the kind of failure and the message ("not found: /a/b: No such file").
  std::string ToString() const;

 private:
  Status(Code code, std::string_view message) : code_(code), message_(message) {}

  Code code_ = Code::kOk;
  std::string message_;
};

// The failure of a system call on |context| (usually a path) with |error_number|
// (errno): "context: strerror". ENOENT and ENOTDIR are kNotFound, EFBIG kTooLarge,
// EISDIR kNotRegular, EINVAL kInvalid, EAGAIN/EBUSY/EINTR kUnavailable, the rest kIoError.
Status PosixError(std::string_view context, int error_number);

}  // namespace base

#endif  // LUMORA_BASE_STATUS_H_
