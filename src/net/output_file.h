// The file a transfer writes its body to: created once (the path itself, or a new file
// of its own beside a target, or a partial file handed over), written whole, closed when
// it goes.
#ifndef LUMORA_NET_OUTPUT_FILE_H_
#define LUMORA_NET_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/status.h"
#include "base/unique_file.h"

namespace net {

class OutputFile {
 public:
  // |native_path| itself, created or truncated.
  [[nodiscard]] base::Status Create(const std::string& native_path);
  // A new file of its own beside |native_target|, locked while it is open.
  [[nodiscard]] base::Status CreateBeside(const std::string& native_target);
  const std::string& path() const { return path_; }
  bool valid() const { return file_.valid(); }
  // All of |size| bytes.
  [[nodiscard]] base::Status WriteAll(const char* data, std::size_t size);
  // A partial file opened by OpenPartial, written where it is positioned; it stays
  // when the transfer fails.
  void Adopt(const std::string& native_path, base::UniqueFd file);
  // Writes from |offset| on.
  [[nodiscard]] base::Status SeekTo(std::uint64_t offset);
  // Drops what was written; writes start again at the beginning.
  [[nodiscard]] base::Status StartOver();
  // A file that cannot be emptied fails at its next write, which is reported.
  void Empty() { (void)StartOver(); }
  // The size of the open file (0 when none is open).
  std::uint64_t Size() const;
  // Closes the file, if open; fails when the system reports that its data did not all
  // reach the file. |lock|, when given, receives a duplicate of the descriptor, which
  // keeps the file's lock.
  [[nodiscard]] base::Status Close(base::UniqueFd* lock = nullptr);
  // Closes the file; a file of its own is removed first (while still locked).
  void Discard();

 private:
  std::string path_;
  base::UniqueFd file_;
  bool own_ = false;  // made by CreateBeside
};

}  // namespace net

#endif  // LUMORA_NET_OUTPUT_FILE_H_
