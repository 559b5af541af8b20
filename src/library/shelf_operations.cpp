#include "library/shelf_operations.h"

#include <functional>
#include <memory>

#include "base/ansi.h"
#include "library/shelf_names.h"
#include "library/xml_file_object.h"

namespace library {

namespace {

constexpr std::size_t kMaxValue = 63;

void Report(bool* unsaved, bool value) {
  if (unsaved != nullptr) *unsaved = value;
}

// The item |item_id| of |source|: in the group |group_id| when that holds it, otherwise
// in the first group (in id order) that does; null when none does.
CXmlElement* FindSourceItem(const CXmlFileObject& source, const std::string& group_id,
                            const std::string& item_id) {
  CXmlGroup* group = nullptr;
  CXmlElement* item = nullptr;
  if (!source.FindGroup(group_id.c_str(), &group) || !group->FindItem(item_id.c_str(), &item))
    source.FindItemInAnyGroup(item_id.c_str(), &item);
  return item;
}

void AddCopy(CXmlGroup* group, const CXmlElement& item) {
  std::unique_ptr<CXmlElement> copy;
  CXmlElement::Create(&copy, item.fields());
  group->AddItem(std::move(copy));
}

// Adds an item |item_id| to the group |group_id| of |destination_path| (made when
// missing) through |add|, unless the group holds it already: 1 when |add| added it, else
// -1. A destination that is missing starts empty and is made; one that cannot be read is
// never written (its Save refuses). The destination is written last, so that when the
// source |add| reads is the same file, the destination's content is the one that stays.
// The result keeps its meaning (whether an item was added); an addition that did not
// reach the file is reported through |unsaved|.
int AddOnce(const std::string& destination_path, const std::string& group_id,
            const std::string& item_id, bool* unsaved, const std::function<bool(CXmlGroup*)>& add) {
  std::unique_ptr<CXmlFileObject> destination;
  (void)CXmlFileObject::Open(&destination, destination_path.c_str());
  CXmlGroup* target = FindOrAddGroup(*destination, group_id, "100");
  CXmlElement* present = nullptr;
  const int result = !target->FindItem(item_id.c_str(), &present) && add(target) ? 1 : -1;
  const bool saved = CXmlFileObject::Release(std::move(destination), true);
  Report(unsaved, result == 1 && !saved);
  return result;
}

}  // namespace

int CopyItemToGroup(const std::string& source_path, const std::string& source_group,
                    const std::string& item_id, const std::string& destination_path,
                    const std::string& destination_group, bool* unsaved) {
  return AddOnce(destination_path, destination_group, item_id, unsaved, [&](CXmlGroup* target) {
    // The source is only looked up: a missing one is not made.
    std::unique_ptr<CXmlFileObject> source;
    const bool source_loaded = CXmlFileObject::Open(&source, source_path.c_str());
    const CXmlElement* item = FindSourceItem(*source, source_group, item_id);
    if (item) AddCopy(target, *item);
    // Writing the source back only normalises it; the copy's result does not hang on it.
    (void)CXmlFileObject::Release(std::move(source), source_loaded);
    return item != nullptr;
  });
}

int AddItemToGroup(const std::string& destination_path, const std::string& destination_group,
                   const CXmlElement::Fields& fields, bool* unsaved) {
  return AddOnce(destination_path, destination_group, fields.id, unsaved, [&](CXmlGroup* target) {
    std::unique_ptr<CXmlElement> item;
    CXmlElement::Create(&item, fields);
    target->AddItem(std::move(item));
    return true;
  });
}

bool GetItemName(const std::string& path, const std::string& item_id, const std::string& group_id,
                 std::string* name) {
  std::unique_ptr<CXmlFileObject> catalogue;
  const bool loaded = CXmlFileObject::Open(&catalogue, path.c_str());
  CXmlGroup* group = nullptr;
  CXmlElement* item = nullptr;
  bool found =
      catalogue->FindGroup(group_id.c_str(), &group) && group->FindItem(item_id.c_str(), &item);
  if (found) *name = std::string(ansi::CutToBytes(item->name(), kMaxValue));
  // A look-up never makes a file that was not there; writing back only normalises.
  (void)CXmlFileObject::Release(std::move(catalogue), loaded);
  return found;
}

std::vector<CXmlElement::Fields> ListGroupItems(const std::string& path,
                                                const std::string& group_id) {
  std::unique_ptr<CXmlFileObject> catalogue;
  (void)CXmlFileObject::Open(&catalogue, path.c_str());  // a missing file lists nothing
  std::vector<CXmlElement::Fields> items;
  CXmlGroup* group = nullptr;
  if (catalogue->FindGroup(group_id.c_str(), &group)) {
    for (int i = 0; i < group->GetItemCount(); ++i) {
      CXmlElement* item = nullptr;
      if (group->GetItemAt(i, &item)) items.push_back(item->fields());
    }
  }
  // Read only: nothing to save.
  (void)CXmlFileObject::Release(std::move(catalogue), false);
  return items;
}

bool RemoveCatalogueItem(const std::string& path, const std::string& group_id,
                         const std::string& item_id, bool* unsaved) {
  std::unique_ptr<CXmlFileObject> catalogue;
  const bool loaded = CXmlFileObject::Open(&catalogue, path.c_str());
  CXmlGroup* group = nullptr;
  bool removed =
      catalogue->FindGroup(group_id.c_str(), &group) && group->RemoveItem(item_id.c_str());
  // Removing from a file that was not there makes none. An item removed from the
  // model but not from the file was not removed.
  const bool saved = CXmlFileObject::Release(std::move(catalogue), loaded);
  Report(unsaved, removed && !saved);
  return removed && saved;
}

bool MoveDownloadedItem(const std::string& user_shelf_path, const std::string& item_id,
                        const std::string* target_path, bool* unsaved) {
  std::unique_ptr<CXmlFileObject> shelf;
  const bool loaded = CXmlFileObject::Open(&shelf, user_shelf_path.c_str());
  CXmlGroup* downloading = nullptr;
  CXmlGroup* downloaded = nullptr;
  CXmlElement* item = nullptr;
  bool found = shelf->FindGroup(shelf_names::Downloading().c_str(), &downloading) &&
               shelf->FindGroup(shelf_names::Downloaded().c_str(), &downloaded) &&
               downloading->FindItem(item_id.c_str(), &item);
  if (found) {
    CXmlElement::Fields fields = item->fields();
    if (target_path != nullptr) fields.rd_url = *target_path;
    std::unique_ptr<CXmlElement> moved;
    CXmlElement::Create(&moved, std::move(fields));
    downloaded->AddItem(std::move(moved));
    downloading->RemoveItem(item_id.c_str());
  }
  // The move counts only once it is in the file.
  const bool saved = CXmlFileObject::Release(std::move(shelf), loaded);
  Report(unsaved, found && !saved);
  return found && saved;
}

}  // namespace library
