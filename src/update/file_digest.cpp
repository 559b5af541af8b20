#include "update/file_digest.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "base/files.h"

namespace update {
namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

struct Sha256::Context {
  struct Free {
    void operator()(EVP_MD_CTX* ctx) const noexcept { EVP_MD_CTX_free(ctx); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> ctx{EVP_MD_CTX_new()};
  bool ok = ctx != nullptr && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  if (context_->ok && size != 0)
    context_->ok = EVP_DigestUpdate(context_->ctx.get(), data, size) == 1;
}

std::string Sha256::HexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  // A digest that could not be computed is no digest: it matches none published.
  if (!context_->ok || EVP_DigestFinal_ex(context_->ctx.get(), digest, &length) != 1) return {};
  context_->ok = false;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

base::Status Sha256OfFile(const std::string& native_path, std::string* hex) {
  base::UniqueFd file;
  if (base::Status s = base::OpenRegularFile(native_path, &file); !s.ok()) return s;
  Sha256 checksum;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return base::PosixError(native_path, errno);
    if (n == 0) break;
    checksum.Update(buffer, static_cast<std::size_t>(n));
  }
  *hex = checksum.HexDigest();
  if (hex->empty()) return base::Status::IoError(native_path + ": no SHA-256 digest");
  return base::Status::Ok();
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
