#include "update/file_digest.h"

#include <glib.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/files.h"

namespace update {
namespace {

struct ChecksumFree {
  void operator()(GChecksum* checksum) const noexcept { g_checksum_free(checksum); }
};

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

platform::Status Sha256OfFile(const std::string& native_path, std::string* hex) {
  platform::UniqueFd file;
  if (platform::Status s = platform::OpenRegularFile(native_path, &file); !s.ok()) return s;
  std::unique_ptr<GChecksum, ChecksumFree> checksum(g_checksum_new(G_CHECKSUM_SHA256));
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return platform::PosixError(native_path, errno);
    if (n == 0) break;
    g_checksum_update(checksum.get(), reinterpret_cast<const guchar*>(buffer), n);
  }
  hex->assign(g_checksum_get_string(checksum.get()));
  return platform::Status::Ok();
}

bool NormalizeSha256(std::string_view text, std::string* hex) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  if (text.size() != kSha256HexLength) return false;
  std::string result;
  for (char c : text) {
    if (!IsHexDigit(c)) return false;
    result += c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  *hex = std::move(result);
  return true;
}

}  // namespace update
