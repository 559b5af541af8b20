// The purchased list: the shop's reply to "yigoumai" read entry by entry, and its items
// copied from their category catalogues into "已购买" of the user shelf file. Paths are
// in the code page with '/' separators; |unsaved| is as in library/shelf_operations.h.
#ifndef LUMORA_ACCOUNT_PURCHASED_LIST_H_
#define LUMORA_ACCOUNT_PURCHASED_LIST_H_

#include <string>
#include <vector>

#include "library/catalogues.h"

namespace account {

// One entry of the purchased list.
struct PurchasedEntry {
  std::string item_id;   // "PID"
  std::string category;  // "BigClass"
  std::string class_id;  // "Class": the group of the category catalogue
};

// The complete entries of a purchased-list reply, in order. An entry is the text from
// "PID" to the next ">" (its first 511 bytes); values are cut to 63 bytes. An entry
// lacking a value is skipped.
std::vector<PurchasedEntry> ParsePurchasedList(const std::string& reply);

// Copies each purchased item into "已购买" of the user shelf file: the shelf and each
// category catalogue it reads are read once and written once, with the files coming out
// as ImportPurchasedItem entry by entry would leave them (the first entry of an id wins;
// entries of no known category are passed over; the shelf is not touched when no entry
// names a known category).
void ImportPurchasedList(const library::CatalogueFolders& folders,
                         const std::string& user_shelf_path, const std::string& reply,
                         bool* unsaved = nullptr);
// Copies one purchased item from the category catalogue its category text names into
// "已购买": the result of the copy, or 0 when no catalogue matches.
int ImportPurchasedItem(const library::CatalogueFolders& folders,
                        const std::string& user_shelf_path, const std::string& item_id,
                        const std::string& category, const std::string& class_id,
                        bool* unsaved = nullptr);

}  // namespace account

#endif  // LUMORA_ACCOUNT_PURCHASED_LIST_H_
