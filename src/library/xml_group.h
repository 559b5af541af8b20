// One group of a catalogue: an element name, an id (its key in the file), a maximum
// (carried, never enforced) and its items, unique by id and kept in byte order of
// their ids. The group owns its items.
#ifndef LUMORA_LIBRARY_XML_GROUP_H_
#define LUMORA_LIBRARY_XML_GROUP_H_

#include <cstddef>
#include <memory>
#include <string>

#include "library/owned_map.h"
#include "library/xml_element.h"

namespace library {

class CXmlGroup {
 public:
  virtual ~CXmlGroup();
  CXmlGroup(const CXmlGroup&) = delete;
  CXmlGroup& operator=(const CXmlGroup&) = delete;

  // A new empty group. False, and nothing made, when an argument is missing.
  static bool Create(std::unique_ptr<CXmlGroup>* out, const char* element_name, const char* id,
                     const char* maximum);

  // The item with this id. False with |out| set to null when absent; false when an
  // argument is missing. The group keeps the item.
  bool FindItem(const char* id, CXmlElement** out) const;
  // Takes |item|. An item whose id is already present is discarded and the existing
  // one stays; true whenever an item was given.
  bool AddItem(std::unique_ptr<CXmlElement> item);
  // True when an item with this id was removed and destroyed.
  bool RemoveItem(const char* id);
  // Removes the item with this id and hands it over; null when there is none.
  std::unique_ptr<CXmlElement> TakeItem(const char* id);
  int GetItemCount() const { return static_cast<int>(items_.size()); }
  // The item at |position| in byte order of ids; false when |out| is missing or the
  // position is out of range.
  bool GetItemAt(int position, CXmlElement** out) const;

  const std::string& element_name() const { return element_name_; }
  const std::string& id() const { return id_; }
  const std::string& maximum() const { return maximum_; }

 private:
  CXmlGroup(std::string element_name, std::string id, std::string maximum)
      : element_name_(std::move(element_name)), id_(std::move(id)), maximum_(std::move(maximum)) {}

  const std::string element_name_;
  const std::string id_;
  const std::string maximum_;
  OwnedMap<CXmlElement> items_;
};

}  // namespace library

#endif  // LUMORA_LIBRARY_XML_GROUP_H_
