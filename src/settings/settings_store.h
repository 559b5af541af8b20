// The user's system settings (sound, start with the desktop, web setting) and the record
// of the applications that open the shelf's two document types, kept as `item` elements
// in the settings file, the XML file "vellariInfo.xml" of the public folder.
//
// One store per process. It reads the file at start-up, looks values up by an element
// path and an `id`, and writes every changed value back at once: the file read again,
// changed and replaced atomically as one step under the lock of its folder
// (platform/folder_lock.h), so that what other processes saved meanwhile stays, in the
// file's own code page and line ends. It only changes `value`
// attributes that are already there; it never makes the file, an element or an
// attribute. A file that is there but cannot be read whole and understood (a folder, a
// FIFO, too large, too deep, not well-formed, holding a zero byte or a character
// reference the code page cannot keep, UTF-8 that is not, or anything else that would be
// written back in a form that reads otherwise) leaves the store unloaded, so it is never
// overwritten.
//
// It also keeps the desktop's records: the autostart entry that starts the program with
// the session, and the open command and icon of .sla and .slr files, read from the
// desktop's default applications (platform/system_entries.h).
//
// Texts are in the code page and paths use '/'. Used on the user-interface thread only.
#ifndef LUMORA_SETTINGS_SETTINGS_STORE_H_
#define LUMORA_SETTINGS_SETTINGS_STORE_H_

#include <cstddef>
#include <memory>
#include <string>

#include "os/system_entries.h"

class TiXmlDocument;
class TiXmlElement;

namespace settings {

// The roots of the record keys that ReadRegistryDefault answers.
enum class RegistryRoot {
  kClassesRoot,   // the document types: "<name>file/DefaultIcon" and
                  // "<name>file/shell/open/command" for files ending in "." + name
  kLocalMachine,  // nothing is read below it here
};

class CSettingsStore {
 public:
  // Where the settings items are: `item` elements below `systemsetting`.
  static constexpr const char* kItemPath = "systemsetting/item";
  // The separator of the file-handler list: "┊" in the code page.
  static constexpr const char* kHandlerSeparator = "\xA9\xAE";
  // Settings files larger than this, or nested deeper, are not read.
  static constexpr std::size_t kMaxFileBytes = 4u << 20;
  static constexpr int kMaxDepth = 256;
  // A record value does not fit when it takes this many bytes with its terminating zero.
  static constexpr std::size_t kRecordValueBytes = 260;
  // The buffer of one value of the "系统设置" argument, its terminating zero included.
  static constexpr std::size_t kSettingValueBytes = 10;

  // The process-wide store on the desktop's own records, made on the first call.
  static CSettingsStore& GetInstance();

  // A store of its own on |entries|, which must outlive it (tests use this).
  explicit CSettingsStore(os::SystemEntries& entries);
  ~CSettingsStore();
  CSettingsStore(const CSettingsStore&) = delete;
  CSettingsStore& operator=(const CSettingsStore&) = delete;

  // Remembers |path| and reads the file there; true when it was understood and has a
  // root element. Whatever was loaded before is dropped first.
  [[nodiscard]] bool Load(const char* path);
  // This store when it is loaded, else null.
  CSettingsStore* IsLoaded() { return loaded_ ? this : nullptr; }

  // The value of the attribute |name| of the element at |element_path| (parts separated
  // by '/'), whose last element carries the `id` |id| unless |id| is null. False, and
  // |value| untouched, when the element or the attribute is missing.
  [[nodiscard]] bool GetAttribute(const char* element_path, const char* id, const char* name,
                                  std::string* value) const;
  // Reads the file again, replaces that attribute's value and saves the file. False,
  // with nothing changed on disk, when the store is not loaded, the element or the
  // attribute is missing or the file cannot be written; when the file can no longer be
  // read and understood the store is left unloaded.
  [[nodiscard]] bool SetAttribute(const char* element_path, const char* id, const char* name,
                                  const char* value);

  // Starts the running program with the desktop session, or no longer. False when the
  // autostart entry could not be written or removed.
  [[nodiscard]] bool SetAutorun(bool enable);
  // The value of the record |sub_key| below |root|: for a document type, the icon or the
  // open command of its default application. Empty when there is none or it does not
  // fit kRecordValueBytes.
  std::string ReadRegistryDefault(RegistryRoot root, const char* sub_key) const;

  // Loads the settings file at |settings_path| and records in its `fileAPP` item the
  // applications that open .sla and .slr files now, keeping the records of other
  // extensions. Writes nothing when the file or the item is missing.
  void RecordFileHandlers(const char* settings_path);
  // The "系统设置" command: three fields "key=value" separated by "|" (sound, autorun,
  // websetting). Switches the autostart entry on when the second value reads as the
  // number 1, off otherwise; stores the three values when the store is loaded.
  void ApplySystemSettings(const char* argument) { (void)ChangeSystemSettings(argument); }

  // What became of the autostart entry.
  enum class AutorunResult {
    kAsAsked,          // the entry is as the setting asks
    kNotMade,          // it could not be written
    kProgramNotNamed,  // the running program's path is one that an entry cannot carry
    kNotRemoved,       // it could not be removed
  };
  // ApplySystemSettings, telling what became of the autostart entry. When it is not as
  // asked, the stored autorun value says what the desktop does instead: one that
  // already does stays, else it becomes "0" (the entry was not made) or "1" (it stays).
  [[nodiscard]] AutorunResult ChangeSystemSettings(const char* argument);

 private:
  // The element at |element_path| with |id| on its last part, or null.
  TiXmlElement* FindElement(const char* element_path, const char* id) const;
  // Prints the document as the file was written (code page, line ends, byte order
  // mark) and replaces the file with it.
  [[nodiscard]] bool Save() const;
  // Texts between the core and the file's own encoding.
  std::string ToFileText(const std::string& core) const;
  std::string FromFileText(const std::string& stored) const;

  std::unique_ptr<TiXmlDocument> document_;
  TiXmlElement* root_ = nullptr;  // inside document_
  std::string path_;
  bool loaded_ = false;
  // How the file was written, so that a save writes it the same way.
  bool utf8_ = false;
  bool byte_order_mark_ = false;
  bool crlf_ = false;
  os::SystemEntries& entries_;
};

}  // namespace settings

#endif  // LUMORA_SETTINGS_SETTINGS_STORE_H_
