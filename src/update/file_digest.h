// SHA-256 digests of files, for checking a downloaded file against the digest its
// manifest publishes. Files are streamed, so memory stays bounded whatever their size.
// The digest is libcrypto's, which uses the processor's SHA instructions where it has
// them: every file of a release and every patched file is read through it.
#ifndef LUMORA_UPDATE_FILE_DIGEST_H_
#define LUMORA_UPDATE_FILE_DIGEST_H_

#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"

namespace update {

// Length of a SHA-256 digest written out in hexadecimal.
inline constexpr std::size_t kSha256HexLength = 64;

// A SHA-256 digest computed piece by piece.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, std::size_t size);
  // The digest of everything given, as 64 lower-case hexadecimal digits; the object is
  // used up.
  std::string HexDigest();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

// The SHA-256 digest of the regular file at |native_path| (UTF-8) as 64 lower-case
// hexadecimal digits. Fails when it is not a readable regular file; never blocks.
base::Status Sha256OfFile(const std::string& native_path, std::string* hex);

// |text| as a digest: 64 hexadecimal digits of either case, with white space around
// them dropped, lower-cased. False when it is anything else.
[[nodiscard]] bool NormalizeSha256(std::string_view text, std::string* hex);

}  // namespace update

#endif  // LUMORA_UPDATE_FILE_DIGEST_H_
