// The writer of manifests: entries made from scanned local files, their patches, and
// the manifest's bytes as a publisher's tools write them.
#include <cstdio>
#include <ctime>
#include <mutex>
#include <utility>

#include "base/ansi.h"
#include "base/files.h"
#include "update/file_digest.h"
#include "update/update_files.h"

namespace update {
namespace {

// Escapes the characters that would end a text element early.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Element(const char* name, const std::string& value) {
  return std::string("\t\t\t<") + name + ">" + Escape(value) + "</" + name + ">\r\n";
}

std::string Decimal(std::uint32_t value) { return std::to_string(value); }

// |path| with each separator ("\" or "/" that is a character of its own, never the
// trail byte of a double-byte character) written as |separator|.
std::string WithSeparators(const std::string& path, char separator) {
  std::string out = path;
  for (std::size_t pos = 0; pos < out.size(); pos = ansi::NextChar(out, pos))
    if (out[pos] == '\\' || out[pos] == '/') out[pos] = separator;
  return out;
}

}  // namespace

bool CUpdateFiles::AddScannedFile(const std::string& path) {
  return AddScannedFile(path, "CURRENTDIR", "");
}

bool CUpdateFiles::AddScannedFile(const std::string& path, const std::string& install_dir,
                                  const std::string& local_path) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  const std::string key = ansi::Lower(path);
  entries_.remove_if([&key](const std::unique_ptr<CUpdateFile>& entry) {
    return ansi::Lower(entry->target_path()) == key;
  });
  auto entry = std::make_unique<CUpdateFile>(path, folders_.version_index);
  if (!entry->Scan()) return false;
  std::string digest;
  if (Sha256OfFile(ansi::NativePath(path), &digest).ok()) entry->sha256_ = digest;
  entry->install_dir_ = install_dir;
  entry->local_path_ = local_path;
  entries_.push_back(std::move(entry));
  return true;
}

bool CUpdateFiles::SetPatch(const std::string& path, const std::string& patch_name,
                            const std::string& from_sha256, std::uint64_t length,
                            const std::string& sha256) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  const std::string key = ansi::Lower(path);
  for (const auto& entry : entries_) {
    if (ansi::Lower(entry->target_path()) != key) continue;
    std::string from, own;
    if (patch_name.empty() || length == 0 || length >= UINT32_MAX ||
        !NormalizeSha256(from_sha256, &from) || !NormalizeSha256(sha256, &own))
      return false;
    entry->patch_name_ = patch_name;
    entry->patch_from_ = from;
    entry->patch_length_ = length;
    entry->patch_sha256_ = own;
    return true;
  }
  return false;
}

std::string CUpdateFiles::Print(std::time_t now) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  struct tm local {};
  localtime_r(&now, &local);
  char date[64];
  std::snprintf(date, sizeof date, "%.4u-%.2u-%.2u %.2u:%.2u:%.2u",
                static_cast<unsigned>(local.tm_year + 1900),
                static_cast<unsigned>(local.tm_mon + 1), static_cast<unsigned>(local.tm_mday),
                static_cast<unsigned>(local.tm_hour), static_cast<unsigned>(local.tm_min),
                static_cast<unsigned>(local.tm_sec));
  std::string out = "<?xml version=\"1.0\" encoding=\"GB2312\" ?> \r\n";
  out += "<xmlRoot keyname=\"KeyValue\">\r\n";
  out += "\t<Product productname=\"Product-Name\" createdate=\"";
  out += date;
  out += "\" filenum=\"" + Decimal(static_cast<std::uint32_t>(entries_.size())) + "\">\r\n";
  for (const auto& entry : entries_) {
    entry->url_ =
        base_url_ + "/" + WithSeparators(entry->local_path_, '/') + "/" + entry->file_name_;
    out += "\t\t<File>\r\n";
    out += Element("FileName", entry->file_name_);
    out += Element("FileVersion", entry->file_version_);
    out += Element("ProductVersion", entry->product_version_);
    out += Element("Length", Decimal(static_cast<std::uint32_t>(entry->length_)));
    out += Element("FileDateLow", Decimal(entry->file_time_.low));
    out += Element("FileDateHigh", Decimal(entry->file_time_.high));
    out += Element("InstallDir", entry->install_dir_);
    out += Element("Register", entry->register_ ? "REGISTER" : "NO");
    out += Element("ZipFile", entry->zip_file_ ? "ZIPFILE" : "NO");
    out += Element("ForceOverwrite", entry->force_overwrite_ ? "FORCEOVERWRITE" : "NO");
    out += Element("Execute", entry->execute_ ? "EXECUTE" : "NO");
    out += Element("ExecutePar", entry->execute_par_);
    out += Element("LocalPath", WithSeparators(entry->local_path_, '\\'));
    out += Element("URL", entry->url_);
    out += Element("UserName", entry->user_name_);
    out += Element("Password", entry->password_);
    if (!entry->sha256_.empty()) out += Element("SHA256", entry->sha256_);
    if (!entry->patch_name_.empty()) {
      entry->patch_url_ =
          base_url_ + "/" + WithSeparators(entry->local_path_, '/') + "/" + entry->patch_name_;
      out += Element("PatchURL", entry->patch_url_);
      out += Element("PatchFrom", entry->patch_from_);
      out += Element("PatchLength", Decimal(static_cast<std::uint32_t>(entry->patch_length_)));
      out += Element("PatchSHA256", entry->patch_sha256_);
    }
    out += "\t\t</File>\r\n";
  }
  out += "\t</Product>\r\n</xmlRoot>\r\n";
  return out;
}

bool CUpdateFiles::Save(const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return base::ReplaceFileContents(ansi::NativePath(path), Print(std::time(nullptr))).ok();
}

void CUpdateFiles::SetBaseUrl(std::string url) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  base_url_ = std::move(url);
}

}  // namespace update
