#include "account/purchased_list.h"

#include <algorithm>
#include <iterator>
#include <memory>

#include "base/ansi.h"
#include "library/shelf_names.h"
#include "library/shelf_operations.h"
#include "library/xml_file_object.h"

namespace account {

using library::Catalogue;
using library::CatalogueFolders;
using library::CatalogueOfPurchasedCategory;
using library::CopyItemToGroup;
using library::CXmlElement;
using library::CXmlFileObject;
using library::CXmlGroup;
using library::FindOrAddGroup;
namespace shelf_names = library::shelf_names;

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

void Report(bool* unsaved, bool value) {
  if (unsaved != nullptr) *unsaved = value;
}

// Takes the item |item_id| out of |source|, found as FindSourceItem finds it; null when
// none is there.
std::unique_ptr<CXmlElement> TakeSourceItem(CXmlFileObject& source, const std::string& group_id,
                                            const std::string& item_id) {
  CXmlGroup* group = nullptr;
  CXmlElement* item = nullptr;
  if (source.FindGroup(group_id.c_str(), &group) && group->FindItem(item_id.c_str(), &item))
    return group->TakeItem(item_id.c_str());
  for (int i = 0; source.GetGroupAt(i, &group); ++i)
    if (group->FindItem(item_id.c_str(), &item)) return group->TakeItem(item_id.c_str());
  return nullptr;
}

constexpr Catalogue kCategoryCatalogues[] = {Catalogue::kMagazines, Catalogue::kBooks,
                                             Catalogue::kAudio, Catalogue::kMiscellaneous,
                                             Catalogue::kVideo};

// When the shelf could not be written, entry by entry each entry would have found the
// shelf as its file holds it, and read its catalogue for every id missing there, also
// for an id that an earlier entry had copied. The catalogues so read that |read| does
// not mark yet are read and written back normalised, as those reads would leave them.
void RewriteCataloguesReadAgainstTheFile(const CatalogueFolders& folders,
                                         const std::string& user_shelf_path,
                                         const std::vector<PurchasedEntry>& entries,
                                         bool (&read)[std::size(kCategoryCatalogues)]) {
  std::unique_ptr<CXmlFileObject> shelf;
  (void)CXmlFileObject::Open(&shelf, user_shelf_path.c_str());
  CXmlGroup* purchased = nullptr;
  shelf->FindGroup(shelf_names::Purchased().c_str(), &purchased);
  for (const PurchasedEntry& e : entries) {
    Catalogue catalogue;
    CXmlElement* present = nullptr;
    if (!CatalogueOfPurchasedCategory(e.category, &catalogue) ||
        static_cast<std::size_t>(catalogue) >= std::size(read) ||
        read[static_cast<std::size_t>(catalogue)] ||
        (purchased != nullptr && purchased->FindItem(e.item_id.c_str(), &present)))
      continue;
    read[static_cast<std::size_t>(catalogue)] = true;
    std::unique_ptr<CXmlFileObject> source;
    const bool loaded = CXmlFileObject::Open(&source, folders.Path(catalogue).c_str());
    // A catalogue that cannot be saved keeps its file; the import goes on.
    (void)CXmlFileObject::Release(std::move(source), loaded);
  }
  // Read only: nothing to save.
  (void)CXmlFileObject::Release(std::move(shelf), false);
}

}  // namespace

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
                         const std::string& reply, bool* unsaved) {
  const std::vector<PurchasedEntry> entries = ParsePurchasedList(reply);
  // Entry by entry, each file would be read back as it was last written, which is what
  // its model holds: the changes are made in the models, in the same order, and each
  // file is written once. The shelf is opened at the first entry of a known category and
  // written at the end. A catalogue is opened when an entry first needs it and written
  // back at once, since the entries never change what it holds; an item found in it
  // then moves into "已购买" rather than being copied, as no later entry looks for that
  // id there again ("已购买" has it). Even a catalogue that is the shelf file itself
  // reads the same: an entry reads its catalogue only for an id that "已购买" lacks, and
  // only "已购买" changes.
  std::unique_ptr<CXmlFileObject> sources[std::size(kCategoryCatalogues)];
  std::unique_ptr<CXmlFileObject> shelf;
  CXmlGroup* purchased = nullptr;
  bool copied = false;
  for (const PurchasedEntry& e : entries) {
    Catalogue catalogue;
    if (!CatalogueOfPurchasedCategory(e.category, &catalogue)) continue;
    const auto index = static_cast<std::size_t>(catalogue);
    if (index >= std::size(sources)) continue;  // not a category catalogue
    if (!shelf) {
      (void)CXmlFileObject::Open(&shelf, user_shelf_path.c_str());
      purchased = FindOrAddGroup(*shelf, shelf_names::Purchased(), "100");
    }
    CXmlElement* present = nullptr;
    if (purchased->FindItem(e.item_id.c_str(), &present)) continue;  // the first entry won
    if (!sources[index]) {
      // Written back only normalised, as each copy would leave it.
      if (CXmlFileObject::Open(&sources[index], folders.Path(catalogue).c_str()))
        // A catalogue that cannot be written stays as it was; the import goes on.
        (void)sources[index]->Save();
    }
    if (std::unique_ptr<CXmlElement> item =
            TakeSourceItem(*sources[index], e.class_id, e.item_id)) {
      purchased->AddItem(std::move(item));
      copied = true;
    }
  }
  bool read[std::size(kCategoryCatalogues)] = {};
  for (std::size_t i = 0; i < std::size(sources); ++i) read[i] = sources[i] != nullptr;
  if (shelf && !CXmlFileObject::Release(std::move(shelf), true)) {
    Report(unsaved, copied);
    RewriteCataloguesReadAgainstTheFile(folders, user_shelf_path, entries, read);
    return;
  }
  Report(unsaved, false);
}

int ImportPurchasedItem(const CatalogueFolders& folders, const std::string& user_shelf_path,
                        const std::string& item_id, const std::string& category,
                        const std::string& class_id, bool* unsaved) {
  Report(unsaved, false);
  Catalogue catalogue;
  if (!CatalogueOfPurchasedCategory(category, &catalogue)) return 0;
  return CopyItemToGroup(folders.Path(catalogue), class_id, item_id, user_shelf_path,
                         shelf_names::Purchased(), unsaved);
}

}  // namespace account
