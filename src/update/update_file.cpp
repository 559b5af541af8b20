#include "update/update_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>

#include "base/ansi.h"
#include "base/files.h"
#include "update/file_digest.h"
#include "update/version_index.h"

namespace update {
namespace {

// The four numbers of a version text "a.b.c.d", each below 65536.
bool ParseVersion(const std::string& text, std::uint32_t* ms, std::uint32_t* ls) {
  std::uint32_t parts[4];
  const char* p = text.data();
  const char* end = text.data() + text.size();
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (p == end || *p != '.') return false;
      ++p;
    }
    const auto [next, error] = std::from_chars(p, end, parts[i]);
    if (error != std::errc() || next == p || parts[i] > 0xFFFF) return false;
    p = next;
  }
  if (p != end) return false;
  *ms = parts[0] << 16 | parts[1];
  *ls = parts[2] << 16 | parts[3];
  return true;
}

}  // namespace

CUpdateFile::CUpdateFile(std::string target_path, std::string version_index)
    : target_path_(std::move(target_path)), version_index_(std::move(version_index)) {}

CUpdateFile::~CUpdateFile() = default;

bool CUpdateFile::Scan() {
  if (target_path_.empty()) return false;
  base::UniqueFd file;
  if (!base::OpenRegularFile(ansi::NativePath(target_path_), &file).ok()) return false;
  struct stat st;
  if (fstat(file.get(), &st) != 0) return false;
  length_ = static_cast<std::uint64_t>(st.st_size);
  file_name_ = std::string(ansi::AfterLastSeparator(target_path_));
  file_time_ = ToFileTime(st.st_mtim);
  // The version resource of this platform: what the updater recorded at installing.
  std::string version;
  if (!version_index_.empty() && VersionIndex(version_index_).Lookup(target_path_, &version)) {
    file_version_ = version;
    product_version_ = version;
    std::uint32_t ms = 0, ls = 0;
    if (ParseVersion(version, &ms, &ls)) {
      fixed_file_info_ = FixedFileInfo{};
      fixed_file_info_.signature = FixedFileInfo::kSignature;
      fixed_file_info_.struc_version = 0x00010000;
      fixed_file_info_.file_version_ms = fixed_file_info_.product_version_ms = ms;
      fixed_file_info_.file_version_ls = fixed_file_info_.product_version_ls = ls;
    }
  }
  return true;
}

bool CUpdateFile::NeedsUpdate() {
  if (!base::IsReadableFile(ansi::NativePath(target_path_))) {
    needs_update_ = true;
    return needs_update_;
  }
  CUpdateFile local(target_path_, version_index_);
  if (local.Scan()) {
    if (file_version_.empty()) {
      needs_update_ = local.file_time_.Ticks() < file_time_.Ticks();
    } else {
      // Text, not numbers: lower-cased character by character, then compared as
      // unsigned bytes, which orders double-byte characters as units.
      needs_update_ = ansi::Lower(local.file_version_) < ansi::Lower(file_version_);
    }
  }
  return needs_update_;
}

bool CUpdateFile::VerifyDownloaded(const std::string& native_path) const {
  if (sha256_.empty()) return true;
  std::string digest;
  return Sha256OfFile(native_path, &digest).ok() && digest == sha256_;
}

}  // namespace update
