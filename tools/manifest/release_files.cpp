#include "release_files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <tuple>

#include "update/file_patch.h"

namespace manifest {
namespace {

namespace fs = std::filesystem;

// The manifest reader takes no value longer than this (its fields were 260-byte buffers).
constexpr std::size_t kMaxValueBytes = 259;

// Letters, digits and "-._~": what a URL's path carries without escaping.
bool IsUrlSafe(const std::string& name) {
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
  });
}

}  // namespace

bool ListRelease(const std::string& folder, const std::string& skip, std::size_t base_url_size,
                 std::vector<ReleaseFile>* files, std::vector<LeftOut>* left_out,
                 std::string* error) {
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(folder, ec)) &&
      !fs::is_directory(fs::status(folder, ec))) {
    *error = folder + ": not a folder";
    return false;
  }
  fs::recursive_directory_iterator it(folder, fs::directory_options::none, ec);
  if (ec) {
    *error = folder + ": " + ec.message();
    return false;
  }
  const fs::path skipped = skip.empty() ? fs::path() : fs::weakly_canonical(skip, ec);
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) {
      left_out->push_back({it->path().string(), ec.message()});
      ec.clear();
      continue;
    }
    const fs::directory_entry& entry = *it;
    const std::string path = entry.path().string();
    const fs::file_status status = entry.symlink_status(ec);
    const std::string name = entry.path().filename().string();
    if (fs::is_symlink(status)) {
      left_out->push_back({path, "a link is not published"});
      continue;
    }
    if (fs::is_directory(status)) {
      if (!IsUrlSafe(name)) {
        it.disable_recursion_pending();
        left_out->push_back({path, "the folder's name needs escaping in a URL"});
      }
      continue;
    }
    if (!fs::is_regular_file(status)) {
      left_out->push_back({path, "not a regular file"});
      continue;
    }
    if (!skipped.empty() && fs::equivalent(entry.path(), skipped, ec)) continue;
    if (name.ends_with(update::kPatchSuffix)) continue;
    if (!IsUrlSafe(name)) {
      left_out->push_back({path, "the file's name needs escaping in a URL"});
      continue;
    }
    const std::string local =
        entry.path().parent_path().lexically_relative(folder).generic_string();
    ReleaseFile file{path, local == "." ? std::string() : local, name};
    // The URL is the base, "/", the local path, "/" and the name.
    if (base_url_size + 2 + file.local_path.size() + name.size() > kMaxValueBytes) {
      left_out->push_back({path, "its URL would be longer than 259 bytes"});
      continue;
    }
    files->push_back(std::move(file));
  }
  std::sort(files->begin(), files->end(), [](const ReleaseFile& a, const ReleaseFile& b) {
    return std::tie(a.local_path, a.name) < std::tie(b.local_path, b.name);
  });
  return true;
}

}  // namespace manifest
