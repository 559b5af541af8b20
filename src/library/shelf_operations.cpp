#include "library/shelf_operations.h"

#include <memory>

#include "library/shelf_names.h"
#include "library/xml_file_object.h"
#include "platform/ansi.h"

namespace library {

namespace {

constexpr std::size_t kMaxEntry = 511;
constexpr std::size_t kMaxValue = 63;

// The text between the quote at or after |from| and the next quote; |end| is set past
// the closing quote. False when either quote is missing.
bool QuotedValue(const std::string& text, std::size_t from, std::string* value, std::size_t* end) {
  std::size_t open = text.find('"', from);
  if (open == std::string::npos) return false;
  std::size_t close = text.find('"', open + 1);
  if (close == std::string::npos) return false;
  *value = std::string(
      ansi::CutToBytes(std::string_view(text).substr(open + 1, close - open - 1), kMaxValue));
  *end = close + 1;
  return true;
}

// Reads one entry; false when a value is missing.
bool ParseEntry(const std::string& entry, PurchasedEntry* out) {
  std::size_t pos = 0;
  if (!QuotedValue(entry, 0, &out->item_id, &pos)) return false;
  std::size_t big = entry.find("BigClass", pos);
  if (big == std::string::npos || !QuotedValue(entry, big, &out->category, &pos)) return false;
  std::size_t cls = entry.find("Class", pos);
  return cls != std::string::npos && QuotedValue(entry, cls, &out->class_id, &pos);
}

}  // namespace

int CopyItemToGroup(const std::string& source_path, const std::string& source_group,
                    const std::string& item_id, const std::string& destination_path,
                    const std::string& destination_group) {
  // A destination that is missing starts empty and is made; one that cannot be read is
  // never written (its Save refuses).
  std::unique_ptr<CXmlFileObject> destination;
  (void)CXmlFileObject::Open(&destination, destination_path.c_str());
  CXmlGroup* target = FindOrAddGroup(*destination, destination_group, "100");

  int result = -1;
  CXmlElement* present = nullptr;
  if (!target->FindItem(item_id.c_str(), &present)) {
    // The source is only looked up: a missing one is not made.
    std::unique_ptr<CXmlFileObject> source;
    const bool source_loaded = CXmlFileObject::Open(&source, source_path.c_str());
    CXmlGroup* group = nullptr;
    CXmlElement* item = nullptr;
    if (!source->FindGroup(source_group.c_str(), &group) ||
        !group->FindItem(item_id.c_str(), &item))
      source->FindItemInAnyGroup(item_id.c_str(), &item);
    if (item != nullptr) {
      std::unique_ptr<CXmlElement> copy;
      CXmlElement::Create(&copy, item->fields());
      target->AddItem(std::move(copy));
      result = 1;
    }
    // Writing the source back only normalises it; the copy's result does not hang on it.
    (void)CXmlFileObject::Release(std::move(source), source_loaded);
  }
  // Last: when both are one file, the destination's content is the one that stays.
  // The result keeps its meaning (whether an item was found and added) and the
  // movie's reply is the same either way, so a failed save is not reported here.
  (void)CXmlFileObject::Release(std::move(destination), true);
  return result;
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

bool RemoveCatalogueItem(const std::string& path, const std::string& group_id,
                         const std::string& item_id) {
  std::unique_ptr<CXmlFileObject> catalogue;
  const bool loaded = CXmlFileObject::Open(&catalogue, path.c_str());
  CXmlGroup* group = nullptr;
  bool removed =
      catalogue->FindGroup(group_id.c_str(), &group) && group->RemoveItem(item_id.c_str());
  // Removing from a file that was not there makes none. An item removed from the
  // model but not from the file was not removed.
  const bool saved = CXmlFileObject::Release(std::move(catalogue), loaded);
  return removed && saved;
}

bool MoveDownloadedItem(const std::string& user_shelf_path, const std::string& item_id,
                        const std::string* target_path) {
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
  return found && saved;
}

std::vector<PurchasedEntry> ParsePurchasedList(const std::string& reply) {
  std::vector<PurchasedEntry> entries;
  std::size_t pid = reply.find("PID");
  while (pid != std::string::npos) {
    std::size_t close = reply.find('>', pid);
    if (close == std::string::npos) break;
    std::string entry = reply.substr(pid, std::min(close - pid, kMaxEntry));
    PurchasedEntry parsed;
    bool complete = ParseEntry(entry, &parsed);
    if (complete) entries.push_back(std::move(parsed));
    std::size_t next = complete ? close : close + 3;
    pid = next < reply.size() ? reply.find("PID", next) : std::string::npos;
  }
  return entries;
}

void ImportPurchasedList(const CatalogueFolders& folders, const std::string& user_shelf_path,
                         const std::string& reply) {
  for (const PurchasedEntry& e : ParsePurchasedList(reply))
    ImportPurchasedItem(folders, user_shelf_path, e.item_id, e.category, e.class_id);
}

int ImportPurchasedItem(const CatalogueFolders& folders, const std::string& user_shelf_path,
                        const std::string& item_id, const std::string& category,
                        const std::string& class_id) {
  Catalogue catalogue;
  if (!CatalogueOfPurchasedCategory(category, &catalogue)) return 0;
  return CopyItemToGroup(folders.Path(catalogue), class_id, item_id, user_shelf_path,
                         shelf_names::Purchased());
}

}  // namespace library
