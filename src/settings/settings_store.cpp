#include "settings/settings_store.h"

#include <glib.h>
#include <tinyxml.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "base/ansi.h"
#include "base/files.h"
#include "base/folder_lock.h"
#include "base/folders.h"
#include "fields/field_list.h"
#include "library/tinyxml_text.h"

namespace settings {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// The parts of an element path, split at '/' (never a trail byte), empty parts dropped.
std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = ansi::FindChar(path, '/', start);
    if (slash == std::string_view::npos) slash = path.size();
    if (slash > start) parts.emplace_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

// The first element, depth first and in document order, starting with |start| itself,
// named |name| and, when |id| is given, carrying that `id`. Walks the tree without
// recursion.
TiXmlElement* FindFrom(TiXmlElement* start, const std::string& name, const std::string* id) {
  static const std::string kId = "id";
  TiXmlNode* node = start;
  while (node != nullptr) {
    if (TiXmlElement* e = node->ToElement(); e != nullptr && e->ValueStr() == name) {
      const std::string* value = id == nullptr ? nullptr : e->Attribute(kId);
      if (id == nullptr || (value != nullptr && *value == *id)) return e;
    }
    if (TiXmlNode* child = node->FirstChild(); child != nullptr) {
      node = child;
      continue;
    }
    while (node != start && node->NextSibling() == nullptr) node = node->Parent();
    if (node == start) return nullptr;
    node = node->NextSibling();
  }
  return nullptr;
}

// The file's text for |document|: indented, with the file's line ends and byte order mark.
std::string PrintDocument(const TiXmlDocument& document, bool crlf, bool byte_order_mark) {
  TiXmlPrinter printer;
  printer.SetIndent("    ");
  printer.SetLineBreak(crlf ? "\r\n" : "\n");
  document.Accept(&printer);
  std::string text = byte_order_mark ? std::string(kUtf8Mark) : std::string();
  text += printer.Str();
  return text;
}

// Whether the document is read as UTF-8, as TinyXML reads it: a byte order mark, or a
// first declaration that names no encoding or UTF-8.
bool IsUtf8Document(const TiXmlDocument& document, bool byte_order_mark) {
  if (byte_order_mark) return true;
  for (const TiXmlNode* n = document.FirstChild(); n != nullptr; n = n->NextSibling()) {
    if (const TiXmlDeclaration* d = n->ToDeclaration()) {
      std::string encoding = ansi::Lower(d->Encoding());
      return encoding.empty() || encoding == "utf-8" || encoding == "utf8";
    }
  }
  return false;
}

// Whether |text| holds a numeric character reference that TinyXML turns into a
// different character when it reads the file in the code page: it keeps only one byte
// of the number, and a byte from 0x80 up is half a character there.
bool HasReferenceBeyondAscii(std::string_view text) {
  for (std::size_t at = text.find("&#"); at != std::string_view::npos;
       at = text.find("&#", at + 2)) {
    std::size_t i = at + 2;
    const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
    if (hex) ++i;
    unsigned long value = 0;
    for (; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i) {
      const char c = text[i];
      if (!hex && !std::isdigit(static_cast<unsigned char>(c))) break;
      const unsigned digit = std::isdigit(static_cast<unsigned char>(c))
                                 ? unsigned(c - '0')
                                 : unsigned(std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
      value = value * (hex ? 16 : 10) + digit;
      if (value >= 0x80) return true;
    }
  }
  return false;
}

// The icon location without its icon index: cut at the first comma unless the text
// begins with it.
std::string IconLocation(std::string icon) {
  const std::size_t comma = ansi::FindChar(icon, ',');
  if (comma != std::string::npos && comma > 0) icon.resize(comma);
  return icon;
}

// The open command without the place holders of the document: every blank followed by
// "%1", or by one of the field codes "%f", "%F", "%u", "%U" of a desktop entry. Neither
// a blank nor '%' is ever a trail byte, so the bytes are walked one by one.
std::string WithoutDocumentCodes(std::string_view command) {
  std::string out;
  for (std::size_t i = 0; i < command.size(); ++i) {
    if (command.substr(i, 2) == " %" && i + 2 < command.size() &&
        std::string_view("1fFuU").find(command[i + 2]) != std::string_view::npos) {
      i += 2;
      continue;
    }
    out += command[i];
  }
  return out;
}

using HandlerMap = std::map<std::string, std::pair<std::string, std::string>>;

// The records of a file-handler list. A record is three fields, extension, icon and
// command, each followed by the separator "┊" (found character by character), and one
// more separator that ends it; any field may be empty, so fields are taken by position.
// A record without its ending separator is read as well: what follows it is then a
// field that is not empty. An incomplete last record is dropped, and a later record of
// an extension replaces an earlier one.
HandlerMap ParseHandlerList(std::string_view list) {
  const std::string_view separator = CSettingsStore::kHandlerSeparator;
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t i = 0; i < list.size(); i = ansi::NextChar(list, i)) {
    if (list.substr(i, separator.size()) == separator) {
      fields.emplace_back(list.substr(start, i - start));
      start = i + separator.size();
    }
  }
  if (start < list.size()) fields.emplace_back(list.substr(start));
  HandlerMap handlers;
  for (std::size_t i = 0; i + 3 <= fields.size();) {
    handlers[fields[i]] = {fields[i + 1], fields[i + 2]};
    i += 3;
    if (i < fields.size() && fields[i].empty()) ++i;  // the end of the record
  }
  return handlers;
}

// The file-handler list of |handlers|, in byte order of the extensions: each field
// followed by the separator, each record by one more.
std::string JoinHandlerList(const HandlerMap& handlers) {
  const std::string separator = CSettingsStore::kHandlerSeparator;
  std::string list;
  for (const auto& [extension, handler] : handlers)
    list +=
        extension + separator + handler.first + separator + handler.second + separator + separator;
  return list;
}

// A decimal number as the C library's atoi reads it: leading white space, a sign,
// then digits up to the first other character. Whether it reads as 1 (a number too
// large for an int never does).
bool ReadsAsOne(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 2147483648LL) return false;
  }
  return !negative && value == 1;
}

// The lock of the folder of the settings file at |path|, which every process of the
// user's takes to read, change and write the file in one step (platform/folder_lock.h).
// A folder that is not there holds no settings file to write. A lock that cannot be
// taken is named on standard error and the file is changed without it, as the catalogues
// are (app/lumora_dlg.h): it matters only while another process changes the file too.
base::FolderLock LockSettingsFolder(const std::string& path) {
  base::FolderLock lock;
  if (path.empty()) return lock;  // no file, nothing to write
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const base::Status taken =
      base::FolderLock::Acquire(ansi::NativePath(folder), base::FolderLock::Mode::kMake, &lock);
  if (!taken.ok() && !taken.IsNotFound())
    std::fprintf(stderr, "lumora: cannot lock %s (%s); the settings file is changed without it\n",
                 ansi::ToUtf8Lossy(folder).c_str(), taken.ToString().c_str());
  return lock;
}

}  // namespace

CSettingsStore& CSettingsStore::GetInstance() {
  static CSettingsStore store(os::XdgSystemEntries());
  return store;
}

CSettingsStore::CSettingsStore(os::SystemEntries& entries) : entries_(entries) {}

CSettingsStore::~CSettingsStore() = default;

bool CSettingsStore::Load(const char* path) {
  path_ = path != nullptr ? path : "";
  root_ = nullptr;
  document_.reset();
  loaded_ = false;
  std::string text;
  if (!base::ReadRegularFile(ansi::NativePath(path_), kMaxFileBytes, &text).ok() ||
      library::tinyxml_text::NestingExceeds(text, kMaxDepth))
    return false;
  // The parser stops at a zero byte: what follows it would be lost by the next save.
  if (text.find('\0') != std::string::npos) return false;
  byte_order_mark_ = text.starts_with(kUtf8Mark);
  crlf_ = text.find("\r\n") != std::string::npos;
  library::tinyxml_text::NormaliseLineEnds(&text);
  auto document = std::make_unique<TiXmlDocument>();
  library::tinyxml_text::Parse(&text, document.get());
  if (document->Error() || document->RootElement() == nullptr) return false;
  utf8_ = IsUtf8Document(*document, byte_order_mark_);
  if (!utf8_ && HasReferenceBeyondAscii(text)) return false;
  // In UTF-8 the parser takes a lead byte and the bytes it announces as one character,
  // whatever they are: a quote or a '<' behind a stray lead byte would be swallowed once
  // the value is written back between quotes, and the saved file would not read again.
  if (utf8_ && !g_utf8_validate_len(text.data(), text.size(), nullptr)) return false;
  // Nor does TinyXML escape the values of the declaration: whatever a save would write
  // must read back as the same document, or the file is not taken.
  std::string printed = PrintDocument(*document, crlf_, byte_order_mark_);
  const std::string expected = printed;
  library::tinyxml_text::NormaliseLineEnds(&printed);
  TiXmlDocument reread;
  library::tinyxml_text::Parse(&printed, &reread);
  if (reread.Error() || PrintDocument(reread, crlf_, byte_order_mark_) != expected) return false;
  document_ = std::move(document);
  root_ = document_->RootElement();
  loaded_ = true;
  return true;
}

std::string CSettingsStore::ToFileText(const std::string& core) const {
  return utf8_ ? ansi::ToUtf8Lossy(core) : core;
}

std::string CSettingsStore::FromFileText(const std::string& stored) const {
  return utf8_ ? ansi::FromUtf8Lossy(stored) : stored;
}

TiXmlElement* CSettingsStore::FindElement(const char* element_path, const char* id) const {
  if (root_ == nullptr || element_path == nullptr) return nullptr;
  const std::vector<std::string> parts = SplitPath(element_path);
  const std::string file_id = id != nullptr ? ToFileText(id) : std::string();
  TiXmlElement* current = root_;
  for (std::size_t i = 0; i < parts.size() && current != nullptr; ++i) {
    const bool last = i + 1 == parts.size();
    current = FindFrom(current, ToFileText(parts[i]), last && id != nullptr ? &file_id : nullptr);
  }
  return parts.empty() ? nullptr : current;
}

bool CSettingsStore::GetAttribute(const char* element_path, const char* id, const char* name,
                                  std::string* value) const {
  if (name == nullptr || value == nullptr) return false;
  const TiXmlElement* element = FindElement(element_path, id);
  if (element == nullptr) return false;
  const std::string file_name = ToFileText(name);
  for (const TiXmlAttribute* a = element->FirstAttribute(); a != nullptr; a = a->Next()) {
    if (a->NameTStr() == file_name) {
      *value = FromFileText(a->ValueStr());
      return true;
    }
  }
  return false;
}

bool CSettingsStore::SetAttribute(const char* element_path, const char* id, const char* name,
                                  const char* value) {
  if (name == nullptr || value == nullptr || !loaded_) return false;
  // The file is read again, changed and written under the lock: what another process
  // saved since this one read it stays. A file no longer understood is not written.
  const base::FolderLock lock = LockSettingsFolder(path_);
  if (const std::string path = path_; !Load(path.c_str())) return false;
  TiXmlElement* element = FindElement(element_path, id);
  if (element == nullptr) return false;
  const std::string file_name = ToFileText(name);
  for (TiXmlAttribute* a = element->FirstAttribute(); a != nullptr; a = a->Next()) {
    if (a->NameTStr() != file_name) continue;
    std::string old = a->ValueStr();
    a->SetValue(ToFileText(value));
    if (Save()) return true;
    // The store keeps what the file holds.
    a->SetValue(old);
    return false;
  }
  return false;
}

bool CSettingsStore::Save() const {
  const std::string text = PrintDocument(*document_, crlf_, byte_order_mark_);
  return base::ReplaceFileContents(ansi::NativePath(path_), text).ok();
}

bool CSettingsStore::SetAutorun(bool enable) {
  return entries_.SetAutostart(enable, base::ProgramFile()).ok();
}

std::string CSettingsStore::ReadRegistryDefault(RegistryRoot root, const char* sub_key) const {
  if (root != RegistryRoot::kClassesRoot || sub_key == nullptr) return {};
  // "<name>file/DefaultIcon" or "<name>file/shell/open/command": the document type of
  // files ending in "." + name.
  const std::string_view key = sub_key;
  const std::size_t slash = ansi::FindChar(key, '/');
  if (slash == std::string_view::npos) return {};
  const std::string_view type = key.substr(0, slash), value = key.substr(slash + 1);
  if (type.size() <= 4 || !type.ends_with("file")) return {};
  const bool icon = value == "DefaultIcon";
  if (!icon && value != "shell/open/command") return {};
  os::FileHandler handler;
  const std::string extension = "." + ansi::ToUtf8Lossy(type.substr(0, type.size() - 4));
  if (!entries_.FindDefaultHandler(extension, &handler).ok()) return {};
  std::string text = ansi::FromUtf8Lossy(icon ? handler.icon : handler.command);
  // The terminating zero must fit as well.
  if (text.size() >= kRecordValueBytes) return {};
  return text;
}

void CSettingsStore::RecordFileHandlers(const char* settings_path) {
  const base::FolderLock lock = LockSettingsFolder(settings_path != nullptr ? settings_path : "");
  loaded_ = Load(settings_path);
  const std::string sla_icon =
      IconLocation(ReadRegistryDefault(RegistryRoot::kClassesRoot, "slafile/DefaultIcon"));
  const std::string sla_command = WithoutDocumentCodes(
      ReadRegistryDefault(RegistryRoot::kClassesRoot, "slafile/shell/open/command"));
  const std::string slr_icon =
      IconLocation(ReadRegistryDefault(RegistryRoot::kClassesRoot, "slrfile/DefaultIcon"));
  const std::string slr_command = WithoutDocumentCodes(
      ReadRegistryDefault(RegistryRoot::kClassesRoot, "slrfile/shell/open/command"));

  std::string stored;
  if (!GetAttribute(kItemPath, "fileAPP", "value", &stored)) return;
  HandlerMap handlers = ParseHandlerList(stored);
  if (!sla_command.empty()) handlers[".sla"] = {sla_icon, sla_command};
  if (!slr_command.empty()) handlers[".slr"] = {slr_icon, slr_command};
  // A failed save keeps the file as it was; nothing is reported.
  (void)SetAttribute(kItemPath, "fileAPP", "value", JoinHandlerList(handlers).c_str());
}

CSettingsStore::AutorunResult CSettingsStore::ChangeSystemSettings(const char* argument) {
  std::string sound, autorun, web_setting;
  // Missing fields stay empty and read as "not set".
  (void)fields::ReadFieldList(argument != nullptr ? argument : "",
                              {{&sound, kSettingValueBytes},
                               {&autorun, kSettingValueBytes},
                               {&web_setting, kSettingValueBytes}});
  const bool enable = ReadsAsOne(autorun);
  const base::Status switched = entries_.SetAutostart(enable, base::ProgramFile());
  AutorunResult result = AutorunResult::kAsAsked;
  if (!switched.ok()) {
    // An entry that cannot be changed stays as it was: so does the stored setting
    // when it already says so, else it says what the desktop does.
    if (!enable)
      result = AutorunResult::kNotRemoved;
    else if (switched.code() == base::Status::Code::kInvalid)
      result = AutorunResult::kProgramNotNamed;
    else
      result = AutorunResult::kNotMade;
    std::string stored;
    if (GetAttribute(kItemPath, "autorun", "value", &stored) && ReadsAsOne(stored) != enable)
      autorun = stored;
    else
      autorun = enable ? "0" : "1";
  }
  if (IsLoaded() == nullptr) return result;
  const base::FolderLock lock = LockSettingsFolder(path_);
  // Each value is saved as it is set; one that cannot be saved does not stop the next.
  (void)SetAttribute(kItemPath, "sound", "value", sound.c_str());
  (void)SetAttribute(kItemPath, "autorun", "value", autorun.c_str());
  (void)SetAttribute(kItemPath, "websetting", "value", web_setting.c_str());
  return result;
}

}  // namespace settings
