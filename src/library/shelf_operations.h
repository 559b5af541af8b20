// Moving items between catalogues on behalf of the movie: copying into the shelf,
// deleting, looking up names and finishing downloads.
// Each operation opens the catalogues it needs, changes them and writes them back.
// Paths are in the code page with '/' separators.
//
// The operations that change a catalogue take an optional |unsaved|: it is set when
// they made a change that could not be written (a full disk, a read-only file or
// folder, a file that is there but could not be read and so is never replaced), and
// cleared otherwise. A rewrite that would only have normalised the file does not count.
#ifndef LUMORA_LIBRARY_SHELF_OPERATIONS_H_
#define LUMORA_LIBRARY_SHELF_OPERATIONS_H_

#include <string>
#include <vector>

#include "library/catalogues.h"
#include "library/xml_element.h"

namespace library {

// Copies an item into a group of another (or the same) catalogue, making the group
// (maximum "100") when it is missing. The item is looked up in the source group, or
// when that fails in any group of the source. 1 when copied; -1 when the destination
// already holds the id or the source has no such item. Both files are rewritten, the
// destination last, so that it wins when both are the same file.
int CopyItemToGroup(const std::string& source_path, const std::string& source_group,
                    const std::string& item_id, const std::string& destination_path,
                    const std::string& destination_group, bool* unsaved = nullptr);

// Adds a new item with |fields| to a group of a catalogue, making the group (maximum
// "100") when it is missing. 1 when added; -1 when the group already holds the id.
int AddItemToGroup(const std::string& destination_path, const std::string& destination_group,
                   const CXmlElement::Fields& fields, bool* unsaved = nullptr);

// The name of an item (cut to 63 bytes), found by group and id. The catalogue is
// rewritten by the lookup.
[[nodiscard]] bool GetItemName(const std::string& path, const std::string& item_id,
                               const std::string& group_id, std::string* name);

// The items of a group, in order (none when the file or the group is missing). The
// file is only read.
std::vector<CXmlElement::Fields> ListGroupItems(const std::string& path,
                                                const std::string& group_id);

// Removes an item from a group; true when it was there and the file was written. The
// catalogue is rewritten.
[[nodiscard]] bool RemoveCatalogueItem(const std::string& path, const std::string& group_id,
                                       const std::string& item_id, bool* unsaved = nullptr);

// Moves a finished download from "正在下载" to "已下载" of the user shelf file. Its
// RDurl becomes |target_path| when one is given and stays as it was otherwise. True
// when both groups and the item were found and the file was written.
[[nodiscard]] bool MoveDownloadedItem(const std::string& user_shelf_path,
                                      const std::string& item_id, const std::string* target_path,
                                      bool* unsaved = nullptr);

}  // namespace library

#endif  // LUMORA_LIBRARY_SHELF_OPERATIONS_H_
