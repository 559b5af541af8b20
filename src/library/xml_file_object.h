// One catalogue file in memory: the root's name, category value and maximum, and the
// groups, unique by id and kept in byte order of their ids. A file is read whole,
// changed in memory and written back whole; the object owns its groups.
//
// Loading reads attributes by position, never by name. Saving normalises: groups and
// items in id order, counts recomputed, every attribute written under its standard
// name, the declared encoding "gb2312", lines ending in CR LF. The file is replaced
// atomically. A file that exists but could not be parsed is never overwritten; a file
// that did not exist is written with a proper root element.
#ifndef LUMORA_LIBRARY_XML_FILE_OBJECT_H_
#define LUMORA_LIBRARY_XML_FILE_OBJECT_H_

#include <memory>
#include <string>

#include "library/owned_map.h"
#include "library/xml_group.h"

namespace library {

class CXmlFileObject {
 public:
  // The root name written for a file that did not exist when it was opened.
  static constexpr const char* kDefaultRootName = "catalogue";
  // Files larger than this, or nested deeper, are not read (and so never replaced).
  static constexpr std::size_t kMaxFileBytes = 64u << 20;
  static constexpr int kMaxDepth = 256;

  virtual ~CXmlFileObject();
  CXmlFileObject(const CXmlFileObject&) = delete;
  CXmlFileObject& operator=(const CXmlFileObject&) = delete;

  // A new empty file object for |path| (code page, '/' separators); the file is not
  // touched. False, and nothing made, when an argument is missing.
  static bool Create(std::unique_ptr<CXmlFileObject>* out, const char* path, const char* root_name,
                     const char* category, const char* maximum);
  // A file object for |path| with empty root fields, delivered in any case, then
  // loaded: the result is Load's, true when the file was there and understood, so
  // writing it back loses nothing (operations that only look up or remove write a file
  // back only then). False without an object only when an argument is missing.
  [[nodiscard]] static bool Open(std::unique_ptr<CXmlFileObject>* out, const char* path);
  // Saves first when |save| is set, then destroys the object and all it owns. False
  // only when a save was asked for and failed.
  [[nodiscard]] static bool Release(std::unique_ptr<CXmlFileObject> object, bool save);

  // Reads the file: true when it was parsed. On failure the object stays empty. Only a
  // regular file is read, without ever blocking on a FIFO or a device.
  [[nodiscard]] bool Load();
  // Writes the whole file. The result says whether it was written.
  [[nodiscard]] bool Save();

  bool FindGroup(const char* id, CXmlGroup** out) const;
  // Takes |group|; a group whose id is present is discarded and the existing one
  // stays. True whenever a group was given.
  bool AddGroup(std::unique_ptr<CXmlGroup> group);
  bool RemoveGroup(const char* id);
  int GetGroupCount() const { return static_cast<int>(groups_.size()); }
  bool GetGroupAt(int position, CXmlGroup** out) const;
  int GetItemTotal() const;
  // The first item with this id, searching the groups in id order.
  bool FindItemInAnyGroup(const char* id, CXmlElement** out) const;

  const std::string& path() const { return path_; }
  const std::string& root_name() const { return root_name_; }
  const std::string& category() const { return category_; }
  const std::string& maximum() const { return maximum_; }

  // The printed form of the model, as Save writes it.
  std::string Print() const;

 private:
  explicit CXmlFileObject(std::string path) : path_(std::move(path)) {}

  const std::string path_;
  std::string root_name_;
  std::string category_;
  std::string maximum_;
  // Set when the file is there but could not be read: Save never replaces it.
  bool unreadable_ = false;
  OwnedMap<CXmlGroup> groups_;
};

// The group |id| of |file|. When the file lacks it, a group "分类" with this id and
// |maximum| is made and added, and |made| (when given) is set.
CXmlGroup* FindOrAddGroup(CXmlFileObject& file, const std::string& id, const char* maximum,
                          bool* made = nullptr);

}  // namespace library

#endif  // LUMORA_LIBRARY_XML_FILE_OBJECT_H_
