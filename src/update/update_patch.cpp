#include "update/update_patch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "base/ansi.h"
#include "base/files.h"
#include "update/file_digest.h"
#include "update/file_patch.h"

namespace update {

using base::Status;

std::optional<UpdatePatch> UpdatePatch::Choose(const CUpdateFile& entry) {
  if (entry.patch_url().empty() || entry.patch_length() == 0 || entry.patch_sha256().empty() ||
      entry.patch_from().empty() || entry.sha256().empty())
    return std::nullopt;
  UpdatePatch patch;
  patch.target_ = ansi::NativePath(entry.target_path());
  std::string installed;
  if (!Sha256OfFile(patch.target_, &installed).ok() || installed != entry.patch_from())
    return std::nullopt;
  patch.patch_url_ = entry.patch_url();
  patch.patch_length_ = entry.patch_length();
  patch.patch_sha256_ = entry.patch_sha256();
  patch.file_url_ = entry.url();
  patch.file_length_ = entry.length();
  patch.has_file_length_ = entry.has_length();
  patch.file_sha256_ = entry.sha256();
  return patch;
}

Status UpdatePatch::Apply(net::CInetFile::KeptBody patch, net::CInetFile::KeptBody* result,
                          std::string* why) const {
  *result = net::CInetFile::KeptBody{};
  struct Drop {
    net::CInetFile::KeptBody& body;
    ~Drop() { body.Discard(); }
  } drop{patch};
  // The patch itself first: of its length and digest, or never read.
  struct stat st;
  std::string digest;
  if (patch.path.empty() || stat(patch.path.c_str(), &st) != 0 ||
      static_cast<std::uint64_t>(st.st_size) != patch_length_ ||
      !Sha256OfFile(patch.path, &digest).ok() || digest != patch_sha256_) {
    *why = "补丁校验失败";
    return Status::Corrupt(patch.path + ": not the patch the manifest names");
  }
  // The new file goes beside the target as a fetched body does, locked while it is ours.
  net::CInetFile::KeptBody made;
  if (Status s =
          base::CreateTemporaryFile(target_ + net::CInetFile::kBodySuffix, &made.lock, &made.path);
      !s.ok()) {
    *why = "无法创建文件";
    return s;
  }
  made.made_folders = std::move(patch.made_folders);
  patch.made_folders.clear();
  // The base's digest was checked when the patch was chosen; a base changed since gives
  // a result of another digest.
  const Status applied = ApplyFilePatchInto(target_, patch.path, made.path, file_sha256_);
  if (!applied.ok()) {
    made.Discard();
    *why = "补丁无法应用";
    return applied;
  }
  if (has_file_length_ && (stat(made.path.c_str(), &st) != 0 ||
                           static_cast<std::uint64_t>(st.st_size) != file_length_)) {
    made.Discard();
    *why = "补丁结果长度不符";
    return Status::Corrupt(made.path + ": not of the manifest's length");
  }
  *result = std::move(made);
  return Status::Ok();
}

}  // namespace update
