// The reader of a manifest's bytes: the XML parse, under the limits a hostile manifest
// meets, and the reading and checking of each File element.
#include "update/manifest_reader.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <strings.h>

#include <mutex>
#include <string_view>
#include <utility>

#include "base/ansi.h"
#include "update/file_digest.h"

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

using DocFree = ManifestReader::DocFree;
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

// Every element named File below |root|, in document order, whatever its parent, into
// |found|; kNone unless there are too many or they nest too deep.
LoadError FindFileElements(xmlNode* root, std::vector<xmlNode*>* found) {
  int depth = 0;
  for (xmlNode* node = root->children; node != nullptr;) {
    if (node->type == XML_ELEMENT_NODE &&
        xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>("File")) == 0) {
      if (found->size() == CUpdateFiles::kMaxEntries) return LoadError::kTooManyEntries;
      found->push_back(node);
    }
    if (node->children != nullptr && node->type == XML_ELEMENT_NODE) {
      if (++depth > CUpdateFiles::kMaxDepth) return LoadError::kTooDeep;
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
  return LoadError::kNone;
}

}  // namespace

LoadError ManifestReader::Parse(const std::string& bytes) {
  elements_.clear();
  LoadError error = LoadError::kNone;
  doc_ = ParseManifest(bytes, &error);
  if (doc_ == nullptr) return error;
  xmlNode* root = xmlDocGetRootElement(doc_.get());
  if (root == nullptr) return LoadError::kMalformed;
  return FindFileElements(root, &elements_);
}

ManifestReader::Entry ManifestReader::Read(std::size_t index,
                                           const std::string& version_index) const {
  Entry read;
  read.file = std::make_unique<CUpdateFile>(std::string(), version_index);
  Values values;
  for (xmlNode* child = elements_[index]->children; child != nullptr; child = child->next)
    if (child->type == XML_ELEMENT_NODE) ReadChild(child, read.file.get(), &values);
  read.refusal = RefusalOf(read.file.get(), values, &read.local_path);
  if (!read.refusal) CheckPatch(read.file.get(), values);
  return read;
}

void ManifestReader::ReadChild(xmlNode* child, CUpdateFile* entry, Values* values) {
  const char* name = reinterpret_cast<const char*>(child->name);
  const auto is = [name](const char* field) { return strcasecmp(name, field) == 0; };
  // The patch's elements, read by readers that know them; a value too long drops the
  // patch, not the entry, which readers that ignore them take.
  std::string* patch = is("PatchURL")      ? &entry->patch_url_
                       : is("PatchFrom")   ? &values->patch_from
                       : is("PatchLength") ? &values->patch_length
                       : is("PatchSHA256") ? &values->patch_sha256
                                           : nullptr;
  if (patch != nullptr) {
    *patch = TextOf(child);
    if (patch->size() > CUpdateFiles::kMaxValueBytes) values->patch_too_long = true;
    return;
  }
  std::string* text = TextField(name, entry, values);
  const bool number = is("Length") || is("FileDateLow") || is("FileDateHigh");
  const bool flag = is("Register") || is("ZipFile") || is("ForceOverwrite") || is("Execute");
  if (text == nullptr && !number && !flag) return;
  std::string value = TextOf(child);
  if (value.size() > CUpdateFiles::kMaxValueBytes) values->too_long = true;
  if (text != nullptr)
    *text = std::move(value);
  else
    // Names the manifest does not know are left out, as before.
    (void)SetNumberOrFlag(name, value, entry);
}

std::string* ManifestReader::TextField(const char* name, CUpdateFile* entry, Values* values) {
  const auto is = [name](const char* field) { return strcasecmp(name, field) == 0; };
  if (is("FileName")) return &entry->file_name_;
  if (is("FileVersion")) return &entry->file_version_;
  if (is("InstallDir")) return &entry->install_dir_;
  if (is("ExecutePar")) return &entry->execute_par_;
  if (is("LocalPath")) return &entry->local_path_;
  if (is("URL")) return &entry->url_;
  if (is("UserName")) return &entry->user_name_;
  if (is("Password")) return &entry->password_;
  if (is("SHA256")) return &values->digest;
  return nullptr;
}

bool ManifestReader::SetNumberOrFlag(const char* name, const std::string& value,
                                     CUpdateFile* entry) {
  const auto is = [name](const char* field) { return strcasecmp(name, field) == 0; };
  if (is("Length")) {
    entry->length_ = ParseNumber(value);
    entry->has_length_ =
        !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
  } else if (is("FileDateLow")) {
    entry->file_time_.low = ParseNumber(value);
  } else if (is("FileDateHigh")) {
    entry->file_time_.high = ParseNumber(value);
  } else if (is("Register")) {
    entry->register_ = ParseFlag(value);
  } else if (is("ZipFile")) {
    entry->zip_file_ = ParseFlag(value);
  } else if (is("ForceOverwrite")) {
    entry->force_overwrite_ = ParseFlag(value);
  } else if (is("Execute")) {
    entry->execute_ = ParseFlag(value);
  } else {
    return false;
  }
  return true;
}

std::optional<Refusal> ManifestReader::RefusalOf(CUpdateFile* entry, const Values& values,
                                                 std::string* local) {
  if (values.too_long) return Refusal::kValueTooLong;
  if (!IsSafeFileName(entry->file_name_)) return Refusal::kUnsafeFileName;
  if (!NormalizeLocalPath(entry->local_path_, local)) return Refusal::kUnsafeLocalPath;
  if (!values.digest.empty() && !NormalizeSha256(values.digest, &entry->sha256_))
    return Refusal::kBadDigest;
  return std::nullopt;
}

void ManifestReader::CheckPatch(CUpdateFile* entry, const Values& values) {
  if (entry->patch_url_.empty()) return;
  const bool whole = !values.patch_too_long && !HasControl(entry->patch_url_) &&
                     NormalizeSha256(values.patch_from, &entry->patch_from_) &&
                     NormalizeSha256(values.patch_sha256, &entry->patch_sha256_) &&
                     !values.patch_length.empty() &&
                     values.patch_length.find_first_not_of("0123456789") == std::string::npos;
  if (whole) entry->patch_length_ = ParseNumber(values.patch_length);
  if (!whole || entry->patch_length_ == 0 || entry->patch_length_ == UINT32_MAX) {
    entry->patch_url_.clear();
    entry->patch_from_.clear();
    entry->patch_sha256_.clear();
    entry->patch_length_ = 0;
  }
}

}  // namespace update
