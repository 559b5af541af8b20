// How one file of a release is fetched: the patch its manifest entry offers, when the
// file installed at its target is the one the patch was made from, or else the whole
// file. A fetched patch is turned here into the new file's body, beside the target, as a
// whole file's body would be; the update window then checks and stages it the same way.
#ifndef LUMORA_UPDATE_UPDATE_PATCH_H_
#define LUMORA_UPDATE_UPDATE_PATCH_H_

#include <cstdint>
#include <optional>
#include <string>

#include "base/status.h"
#include "net/inet_file.h"
#include "update/update_file.h"

namespace update {

class UpdatePatch {
 public:
  // The patch to fetch for |entry| instead of the whole file, or none (fetch the whole
  // file). A patch is taken only when the entry offers one with its length and digest,
  // names its own digest (a result that cannot be checked is never taken) and the
  // regular file installed at its target has the digest the patch applies to.
  [[nodiscard]] static std::optional<UpdatePatch> Choose(const CUpdateFile& entry);

  // The patch: where it is fetched and its length, the bytes to fetch.
  const std::string& url() const { return patch_url_; }
  std::uint64_t length() const { return patch_length_; }
  // The whole file, fetched when the patch does not give it.
  const std::string& file_url() const { return file_url_; }
  std::uint64_t file_length() const { return file_length_; }

  // Turns the fetched patch |patch| (a body beside the target) into the new file's body,
  // a file of its own beside the target, locked like a fetched body, into |result|. The
  // patch must have its length and digest, and the result the entry's length and digest.
  // The patch's body goes in any case. On failure |result| stays empty and |why| says
  // why, for the log (UTF-8).
  [[nodiscard]] base::Status Apply(net::CInetFile::KeptBody patch, net::CInetFile::KeptBody* result,
                                   std::string* why) const;

 private:
  UpdatePatch() = default;

  std::string target_;  // native
  std::string patch_url_;
  std::uint64_t patch_length_ = 0;
  std::string patch_sha256_;
  std::string file_url_;
  std::uint64_t file_length_ = 0;
  bool has_file_length_ = false;
  std::string file_sha256_;
};

}  // namespace update

#endif  // LUMORA_UPDATE_UPDATE_PATCH_H_
