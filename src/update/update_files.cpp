#include "update/update_files.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <mutex>
#include <optional>

#include "platform/ansi.h"
#include "platform/desktop_module.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "update/download_folders.h"
#include "update/file_digest.h"
#include "update/installed_release.h"
#include "update/release_journal.h"
#include "update/release_trust.h"
#include "update/version_index.h"

namespace update {
namespace {

// libxml2 refuses GBK-only characters in a document declared GB2312, which the
// publishers' manifests hold: GB2312 is read as GB18030, a superset of both.
void InitXml() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlAddEncodingAlias("GB18030", "GB2312");
  });
}

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct ParserFree {
  void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
};
struct XmlCharFree {
  void operator()(xmlChar* text) const { xmlFree(text); }
};

void Silent(void*, const char*, ...) noexcept {}
void SilentStructured(void*, xmlError*) noexcept {}

// Keeps the parser's messages about a hostile manifest off the terminal for as long as
// it lives (the handlers are the thread's own), then puts the old handlers back.
class QuietXmlErrors {
 public:
  QuietXmlErrors()
      : generic_(xmlGenericError),
        generic_context_(xmlGenericErrorContext),
        structured_(xmlStructuredError),
        structured_context_(xmlStructuredErrorContext) {
    xmlSetGenericErrorFunc(nullptr, Silent);
    xmlSetStructuredErrorFunc(nullptr, SilentStructured);
  }
  ~QuietXmlErrors() {
    xmlSetGenericErrorFunc(generic_context_, generic_);
    xmlSetStructuredErrorFunc(structured_context_, structured_);
  }
  QuietXmlErrors(const QuietXmlErrors&) = delete;
  QuietXmlErrors& operator=(const QuietXmlErrors&) = delete;

 private:
  xmlGenericErrorFunc generic_;
  void* generic_context_;
  xmlStructuredErrorFunc structured_;
  void* structured_context_;
};

// Called by the parser at a DOCTYPE, before any declaration of it is read: the parse
// stops there, so no entity is ever declared, let alone expanded.
void RefuseDoctype(void* user_data, const xmlChar*, const xmlChar*, const xmlChar*) noexcept {
  auto* ctxt = static_cast<xmlParserCtxt*>(user_data);
  ctxt->_private = ctxt;  // marks the refusal
  xmlStopParser(ctxt);
}

// The parsed manifest, or null when it does not parse or holds a DOCTYPE (|error|
// says which).
std::unique_ptr<xmlDoc, DocFree> ParseManifest(const std::string& bytes, LoadError* error) {
  InitXml();
  QuietXmlErrors quiet;
  *error = LoadError::kMalformed;
  std::unique_ptr<xmlParserCtxt, ParserFree> ctxt(xmlNewParserCtxt());
  if (ctxt == nullptr || bytes.size() > static_cast<std::size_t>(INT32_MAX)) return nullptr;
  ctxt->sax->internalSubset = RefuseDoctype;
  ctxt->_private = nullptr;
  // No XML_PARSE_NOENT, XML_PARSE_HUGE or XML_PARSE_DTDLOAD, ever.
  std::unique_ptr<xmlDoc, DocFree> doc(
      xmlCtxtReadMemory(ctxt.get(), bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (ctxt->_private != nullptr ||
      (doc != nullptr && (doc->intSubset != nullptr || doc->extSubset != nullptr))) {
    *error = LoadError::kDoctype;
    return nullptr;
  }
  if (doc == nullptr || !ctxt->wellFormed) return nullptr;
  *error = LoadError::kNone;
  return doc;
}

// The whole text content of |node| in the code page.
std::string TextOf(xmlNode* node) {
  std::unique_ptr<xmlChar, XmlCharFree> content(xmlNodeGetContent(node));
  if (content == nullptr) return {};
  const std::string_view utf8(reinterpret_cast<const char*>(content.get()));
  std::string text;
  if (!ansi::FromUtf8(utf8, &text)) text = ansi::FromUtf8Lossy(utf8);
  return text;
}

// Decimal digits as an unsigned 32-bit value; anything else reads as 0, and a number
// too large for 32 bits as the largest.
std::uint32_t ParseNumber(const std::string& text) {
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > UINT32_MAX) return UINT32_MAX;
  }
  return static_cast<std::uint32_t>(value);
}

bool ParseFlag(const std::string& text) { return ansi::Lower(text) == "yes"; }

bool HasControl(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

// The parts of a manifest path separated by "\" or "/" that are characters of their
// own (a trail byte that looks like "\" separates nothing).
std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t pos = 0; pos < path.size(); pos = ansi::NextChar(path, pos)) {
    if (path[pos] == '\\' || path[pos] == '/') {
      parts.push_back(path.substr(start, pos - start));
      start = pos + 1;
    }
  }
  parts.push_back(path.substr(start));
  return parts;
}

// A FileName names one file inside its folder: no separator, not "." or "..".
bool IsSafeFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && !HasControl(name) &&
         SplitPath(name).size() == 1;
}

// A LocalPath is a relative path below its base folder. Empty and "." parts are dropped;
// an absolute path, a drive ("C:") or a ".." part is refused. The safe form uses '/'.
bool NormalizeLocalPath(const std::string& path, std::string* safe) {
  if (HasControl(path)) return false;
  const std::vector<std::string_view> parts = SplitPath(path);
  if (parts.size() > 1 && parts.front().empty()) return false;  // absolute
  if (!parts.front().empty() && parts.front().size() == 2 && parts.front()[1] == ':')
    return false;  // a drive
  std::string result;
  for (std::string_view part : parts) {
    if (part.empty() || part == ".") continue;
    if (part == "..") return false;
    if (!result.empty()) result += '/';
    result += part;
  }
  *safe = std::move(result);
  return true;
}

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

const char* RefusalText(Refusal reason) {
  switch (reason) {
    case Refusal::kUnsafeFileName:
      return "the file name is not a plain name";
    case Refusal::kUnsafeLocalPath:
      return "the local path leaves its base folder";
    case Refusal::kValueTooLong:
      return "a value is longer than 259 bytes";
    case Refusal::kBadDigest:
      return "the SHA256 value is not a digest";
  }
  return "refused";
}

BaseFolders BaseFolders::ForThisUser() {
  BaseFolders folders;
  const std::string data_home = ansi::CorePathLossy(platform::DataHome());
  const std::string data_folder = data_home + "/vellari";
  const std::string program = ansi::CorePathLossy(platform::ProgramFile());
  const std::size_t slash = program.rfind('/');
  folders.current_dir = slash == std::string::npos ? "." : program.substr(0, slash);
  folders.windows_dir = data_folder + "/windows";
  folders.system_dir = data_folder + "/system";
  folders.app_data_dir = data_home;
  folders.version_index = data_folder + "/installed-versions.txt";
  folders.download_folders = data_folder + "/" + DownloadFolders::kFileName;
  folders.locked_folder = data_folder + "/public";
  folders.release_journal = data_folder + "/" + ReleaseJournal::kFileName;
  folders.program_files = {program, ansi::CorePathLossy(platform::DesktopModulePath())};
  folders.release_keys = folders.current_dir + "/" + ReleaseTrust::kKeyFileName;
  folders.installed_release = data_folder + "/" + InstalledRelease::kFileName;
  folders.program_folder_is_system =
      platform::IsSystemProgramFolder(ansi::NativePath(folders.current_dir));
  return folders;
}

CUpdateFiles::CUpdateFiles() : CUpdateFiles(BaseFolders::ForThisUser()) {}

CUpdateFiles::CUpdateFiles(BaseFolders folders) : folders_(std::move(folders)) {}

CUpdateFiles::~CUpdateFiles() { Clear(); }

const std::string& CUpdateFiles::BaseFolderOf(const std::string& install_dir) const {
  const std::string macro = ansi::Lower(install_dir);
  if (macro == "windowsdir") return folders_.windows_dir;
  if (macro == "systemdir") return folders_.system_dir;
  if (macro == "appdatadir") return folders_.app_data_dir;
  return folders_.current_dir;
}

bool CUpdateFiles::Load(const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  Clear();
  refused_.clear();
  left_to_packages_ = 0;
  std::string bytes;
  if (platform::Status read =
          platform::ReadRegularFile(ansi::NativePath(path), kMaxFileBytes, &bytes);
      !read.ok()) {
    load_error_ = read.code() == platform::Status::Code::kTooLarge ? LoadError::kTooLarge
                                                                   : LoadError::kUnreadable;
    return false;
  }
  const auto doc = ParseManifest(bytes, &load_error_);
  if (doc == nullptr) return false;
  xmlNode* root = xmlDocGetRootElement(doc.get());
  if (root == nullptr) {
    load_error_ = LoadError::kMalformed;
    return false;
  }

  // Every element named File below the root, in document order, whatever its parent.
  std::vector<xmlNode*> file_elements;
  int depth = 0;
  for (xmlNode* node = root->children; node != nullptr;) {
    if (node->type == XML_ELEMENT_NODE &&
        xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>("File")) == 0) {
      if (file_elements.size() == kMaxEntries) {
        load_error_ = LoadError::kTooManyEntries;
        return false;
      }
      file_elements.push_back(node);
    }
    if (node->children != nullptr && node->type == XML_ELEMENT_NODE) {
      if (++depth > kMaxDepth) {
        load_error_ = LoadError::kTooDeep;
        return false;
      }
      node = node->children;
      continue;
    }
    while (node != nullptr && node->next == nullptr) {
      node = node->parent;
      --depth;
      if (node == root) node = nullptr;
    }
    if (node != nullptr) node = node->next;
  }

  for (xmlNode* element : file_elements) {
    auto entry = std::make_unique<CUpdateFile>(std::string(), folders_.version_index);
    bool too_long = false;
    std::string digest;
    std::string patch_from, patch_sha256, patch_length;
    bool patch_too_long = false;
    for (xmlNode* child = element->children; child != nullptr; child = child->next) {
      if (child->type != XML_ELEMENT_NODE) continue;
      const char* name = reinterpret_cast<const char*>(child->name);
      const auto is = [name](const char* field) { return strcasecmp(name, field) == 0; };
      std::string* text = nullptr;
      if (is("FileName"))
        text = &entry->file_name_;
      else if (is("FileVersion"))
        text = &entry->file_version_;
      else if (is("InstallDir"))
        text = &entry->install_dir_;
      else if (is("ExecutePar"))
        text = &entry->execute_par_;
      else if (is("LocalPath"))
        text = &entry->local_path_;
      else if (is("URL"))
        text = &entry->url_;
      else if (is("UserName"))
        text = &entry->user_name_;
      else if (is("Password"))
        text = &entry->password_;
      else if (is("SHA256"))
        text = &digest;
      // The patch's elements, read by readers that know them; a value too long drops the
      // patch, not the entry, which readers that ignore them take.
      std::string* patch = is("PatchURL")      ? &entry->patch_url_
                           : is("PatchFrom")   ? &patch_from
                           : is("PatchLength") ? &patch_length
                           : is("PatchSHA256") ? &patch_sha256
                                               : nullptr;
      if (patch != nullptr) {
        *patch = TextOf(child);
        if (patch->size() > kMaxValueBytes) patch_too_long = true;
        continue;
      }
      const bool number = is("Length") || is("FileDateLow") || is("FileDateHigh");
      const bool flag = is("Register") || is("ZipFile") || is("ForceOverwrite") || is("Execute");
      if (text == nullptr && !number && !flag) continue;
      std::string value = TextOf(child);
      if (value.size() > kMaxValueBytes) too_long = true;
      if (text != nullptr)
        *text = std::move(value);
      else if (is("Length")) {
        entry->length_ = ParseNumber(value);
        entry->has_length_ =
            !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
      } else if (is("FileDateLow"))
        entry->file_time_.low = ParseNumber(value);
      else if (is("FileDateHigh"))
        entry->file_time_.high = ParseNumber(value);
      else if (is("Register"))
        entry->register_ = ParseFlag(value);
      else if (is("ZipFile"))
        entry->zip_file_ = ParseFlag(value);
      else if (is("ForceOverwrite"))
        entry->force_overwrite_ = ParseFlag(value);
      else if (is("Execute"))
        entry->execute_ = ParseFlag(value);
    }

    std::string local;
    std::optional<Refusal> refusal;
    if (too_long)
      refusal = Refusal::kValueTooLong;
    else if (!IsSafeFileName(entry->file_name_))
      refusal = Refusal::kUnsafeFileName;
    else if (!NormalizeLocalPath(entry->local_path_, &local))
      refusal = Refusal::kUnsafeLocalPath;
    else if (!digest.empty() && !NormalizeSha256(digest, &entry->sha256_))
      refusal = Refusal::kBadDigest;
    if (refusal) {
      refused_.push_back(RefusedEntry{entry->file_name_, entry->local_path_, *refusal});
      continue;
    }
    if (!entry->patch_url_.empty()) {
      const bool whole = !patch_too_long && !HasControl(entry->patch_url_) &&
                         NormalizeSha256(patch_from, &entry->patch_from_) &&
                         NormalizeSha256(patch_sha256, &entry->patch_sha256_) &&
                         !patch_length.empty() &&
                         patch_length.find_first_not_of("0123456789") == std::string::npos;
      if (whole) entry->patch_length_ = ParseNumber(patch_length);
      if (!whole || entry->patch_length_ == 0 || entry->patch_length_ == UINT32_MAX) {
        entry->patch_url_.clear();
        entry->patch_from_.clear();
        entry->patch_sha256_.clear();
        entry->patch_length_ = 0;
      }
    }

    // Its folders are made only when its file is downloaded.
    const std::string& base = BaseFolderOf(entry->install_dir_);
    if (folders_.program_folder_is_system && &base == &folders_.current_dir) {
      ++left_to_packages_;
      continue;
    }
    entry->target_path_ = (local.empty() ? base : base + "/" + local) + "/" + entry->file_name_;
    entries_.push_back(std::move(entry));
  }
  return true;
}

bool CUpdateFiles::FindEntryWithoutLengthOrDigest(std::string* file_name) const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  for (const auto& entry : entries_)
    if (!entry->has_length() || entry->sha256().empty()) {
      *file_name = entry->file_name();
      return true;
    }
  return false;
}

LoadError CUpdateFiles::GetLoadError() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return load_error_;
}

std::vector<RefusedEntry> CUpdateFiles::GetRefused() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return refused_;
}

std::size_t CUpdateFiles::GetLeftToPackages() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return left_to_packages_;
}

std::size_t CUpdateFiles::CheckUpdates() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  std::size_t count = 0;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if ((*it)->NeedsUpdate()) {
      ++count;
      ++it;
    } else {
      it = entries_.erase(it);
    }
  }
  return count;
}

std::uint32_t CUpdateFiles::GetTotalLength() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  std::uint32_t total = 0;
  for (const auto& entry : entries_)
    if (entry->needs_update()) total += static_cast<std::uint32_t>(entry->length());
  return total;
}

std::unique_ptr<CUpdateFile> CUpdateFiles::PopFront() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (entries_.empty()) return nullptr;
  std::unique_ptr<CUpdateFile> first = std::move(entries_.front());
  entries_.pop_front();
  return first;
}

std::size_t CUpdateFiles::GetCount() const {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return entries_.size();
}

void CUpdateFiles::Clear() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  entries_.clear();
}

bool CUpdateFiles::CreateDirectories(const std::string& path) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  std::string folder = path;
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty()) return false;
  // A folder that appeared meanwhile counts as made.
  const auto make = [this](const std::string& prefix) {
    return mkdir(ansi::NativePath(prefix).c_str(), 0777) == 0 ||
           (errno == EEXIST && IsPathExist(prefix));
  };
  bool creating = false;
  for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
       slash = folder.find('/', slash + 1)) {
    const std::string prefix = folder.substr(0, slash);
    if (!creating && IsPathExist(prefix)) continue;
    if (!make(prefix)) return false;
    creating = true;
  }
  return IsPathExist(folder) || make(folder);
}

bool CUpdateFiles::IsPathExist(const std::string& path) const {
  std::string folder = path;
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return !folder.empty() && platform::IsDirectory(ansi::NativePath(folder));
}

bool CUpdateFiles::RecordInstalledVersion(const std::string& target_path,
                                          const std::string& version) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return VersionIndex(folders_.version_index).Record(target_path, version).ok();
}

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
  return platform::ReplaceFileContents(ansi::NativePath(path), Print(std::time(nullptr))).ok();
}

void CUpdateFiles::SetBaseUrl(std::string url) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  base_url_ = std::move(url);
}

}  // namespace update
