// The reader of a manifest's bytes for `CUpdateFiles::Load`: it parses the XML (no
// DOCTYPE, nothing from the network, no entity expanded, at most
// CUpdateFiles::kMaxDepth deep and kMaxEntries File elements), and reads each File
// element into an entry, or into the reason the entry is not taken.
#ifndef LUMORA_UPDATE_MANIFEST_READER_H_
#define LUMORA_UPDATE_MANIFEST_READER_H_

#include <libxml/tree.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "update/update_file.h"
#include "update/update_files.h"

namespace update {

class ManifestReader {
 public:
  struct DocFree {
    void operator()(xmlDoc* doc) const noexcept { xmlFreeDoc(doc); }
  };
  // One File element, read.
  struct Entry {
    std::unique_ptr<CUpdateFile> file;
    // The safe form of its LocalPath ('/' separators); set for an entry taken.
    std::string local_path;
    // Why it is not taken; none for an entry taken. A patch whose elements do not hold
    // together is dropped, and the entry is taken without it.
    std::optional<Refusal> refusal;
  };

  // Parses the manifest |bytes| and finds its File elements, in document order, whatever
  // their parent. kNone when they can be read.
  [[nodiscard]] LoadError Parse(const std::string& bytes);
  // The number of File elements found.
  std::size_t size() const { return elements_.size(); }
  // Reads the File element |index| into a new entry, whose index of installed versions
  // is |version_index|. Its target path is not set.
  Entry Read(std::size_t index, const std::string& version_index) const;

 private:
  // The values of a File element that are not the entry's own as they are read.
  struct Values {
    std::string digest;
    std::string patch_from, patch_sha256, patch_length;
    bool too_long = false;        // a value longer than CUpdateFiles::kMaxValueBytes
    bool patch_too_long = false;  // the same of a patch element
  };
  // Reads the child element |child| of a File element into |entry| or |values|.
  static void ReadChild(xmlNode* child, CUpdateFile* entry, Values* values);
  // Where the text of the child |name| of a File element goes; null for a child that
  // is not text (a number, a flag, a patch element or one not known).
  static std::string* TextField(const char* name, CUpdateFile* entry, Values* values);
  // Sets the number or flag |name| of |entry| from |value|; false when |name| is
  // neither.
  static bool SetNumberOrFlag(const char* name, const std::string& value, CUpdateFile* entry);
  // Why |entry| is not taken, if it is not; its safe local path goes to |local|.
  static std::optional<Refusal> RefusalOf(CUpdateFile* entry, const Values& values,
                                          std::string* local);
  // Keeps the patch of |entry| when its elements hold together; drops it otherwise.
  static void CheckPatch(CUpdateFile* entry, const Values& values);

  std::unique_ptr<xmlDoc, DocFree> doc_;
  std::vector<xmlNode*> elements_;
};

}  // namespace update

#endif  // LUMORA_UPDATE_MANIFEST_READER_H_
