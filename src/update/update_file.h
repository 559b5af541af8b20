// One entry of the update manifest: a file of the current release, with where it is
// installed, where it is fetched from and what to do after installing it. Entries are
// read from a manifest by `CUpdateFiles`, or made from a local file by `Scan` for the
// manifest writer.
//
// Program files carry no version resource here: a local file's version is the one the
// updater recorded when it installed the file (see VersionIndex), and a file it did not
// install has none. File times are FILETIMEs (see file_time.h).
#ifndef LUMORA_UPDATE_UPDATE_FILE_H_
#define LUMORA_UPDATE_UPDATE_FILE_H_

#include <cstdint>
#include <string>

#include "update/file_time.h"

namespace update {

class CUpdateFiles;
class ManifestReader;

// The fixed part of a version resource, as the manifest's format knows it. It is filled
// from a recorded version of four numbers: the signature, the structure version and the
// file and product versions (both from the recorded version); the rest stays zero.
struct FixedFileInfo {
  static constexpr std::uint32_t kSignature = 0xFEEF04BD;
  std::uint32_t signature = 0;
  std::uint32_t struc_version = 0;
  std::uint32_t file_version_ms = 0;
  std::uint32_t file_version_ls = 0;
  std::uint32_t product_version_ms = 0;
  std::uint32_t product_version_ls = 0;
  std::uint32_t file_flags_mask = 0;
  std::uint32_t file_flags = 0;
  std::uint32_t file_os = 0;
  std::uint32_t file_type = 0;
  std::uint32_t file_subtype = 0;
  std::uint32_t file_date_ms = 0;
  std::uint32_t file_date_ls = 0;
};
static_assert(sizeof(FixedFileInfo) == 52);

class CUpdateFile {
 public:
  // An entry for the file at |target_path| (code page, '/' separators; empty for an
  // entry read from a manifest, whose reader fills it in). |version_index| is the core
  // path of the index of installed versions that Scan consults (empty: none).
  explicit CUpdateFile(std::string target_path = {}, std::string version_index = {});
  virtual ~CUpdateFile();
  CUpdateFile(const CUpdateFile&) = delete;
  CUpdateFile& operator=(const CUpdateFile&) = delete;

  // Fills the length, file name, file time and, when the updater recorded one, the
  // version (file version, product version, fixed version information) from the file
  // at the target path. False for an empty target path or when nothing is there that
  // can be read as a regular file (a folder, a FIFO or a device is not read).
  [[nodiscard]] bool Scan();

  // Decides whether the file at the target path must be replaced by this entry and
  // returns the decision: always when no regular file is there; otherwise, when the
  // manifest gives no version, when the local file is older than the manifest's file
  // time; when it gives one, when the local version text sorts before it (compared
  // without regard to case, character by character). A local file that cannot be
  // scanned is not updated. Neither the length nor ForceOverwrite takes part.
  [[nodiscard]] bool NeedsUpdate();

  // Checks a downloaded file (UTF-8 path, normally the target path with ".update"
  // appended) against the manifest's SHA256 digest, streaming it. True when the entry
  // has no digest or the file's digest matches it; false otherwise, also when the file
  // is not a readable regular file.
  [[nodiscard]] bool VerifyDownloaded(const std::string& native_path) const;

  std::uint64_t length() const { return length_; }
  // True when the manifest gave the Length as a decimal number.
  bool has_length() const { return has_length_; }
  const std::string& file_name() const { return file_name_; }
  const std::string& file_version() const { return file_version_; }
  const std::string& product_version() const { return product_version_; }
  const FixedFileInfo& fixed_file_info() const { return fixed_file_info_; }
  bool register_flag() const { return register_; }
  const std::string& install_dir() const { return install_dir_; }
  bool zip_file() const { return zip_file_; }
  bool force_overwrite() const { return force_overwrite_; }
  bool execute() const { return execute_; }
  const std::string& execute_par() const { return execute_par_; }
  const std::string& local_path() const { return local_path_; }
  FileTime file_time() const { return file_time_; }
  const std::string& target_path() const { return target_path_; }
  const std::string& url() const { return url_; }
  const std::string& user_name() const { return user_name_; }
  const std::string& password() const { return password_; }
  // The manifest's SHA-256 digest of the file, 64 lower-case hexadecimal digits, or
  // empty when it gives none.
  const std::string& sha256() const { return sha256_; }
  // The patch that makes this file from the version installed before (file_patch.h),
  // when the manifest offers one: where to fetch it, the SHA-256 digest of the file it
  // applies to, its length and its own digest. An entry without a patch, or whose patch
  // elements do not hold together, has an empty patch_url.
  const std::string& patch_url() const { return patch_url_; }
  const std::string& patch_from() const { return patch_from_; }
  std::uint64_t patch_length() const { return patch_length_; }
  const std::string& patch_sha256() const { return patch_sha256_; }
  bool needs_update() const { return needs_update_; }

 private:
  friend class CUpdateFiles;
  friend class ManifestReader;

  std::uint64_t length_ = 0;
  bool has_length_ = false;
  std::string file_name_;
  std::string file_version_;
  std::string product_version_;
  FixedFileInfo fixed_file_info_;
  bool register_ = false;
  std::string install_dir_ = "CURRENTDIR";
  bool zip_file_ = false;
  bool force_overwrite_ = false;
  bool execute_ = false;
  std::string execute_par_;
  std::string local_path_;
  FileTime file_time_;
  std::string target_path_;
  std::string url_;
  std::string user_name_;
  std::string password_;
  std::string sha256_;
  std::string patch_url_;
  std::string patch_from_;
  std::uint64_t patch_length_ = 0;
  std::string patch_sha256_;
  // For the writer: the patch's file name beside the file (its URL is formed as the
  // file's own).
  std::string patch_name_;
  bool needs_update_ = false;
  std::string version_index_;
};

}  // namespace update

#endif  // LUMORA_UPDATE_UPDATE_FILE_H_
