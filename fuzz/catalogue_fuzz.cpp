// The shelf's operations on a catalogue file: the input is a user shelf file, searched,
// copied from, looked up, moved within and removed from, the way the movie's commands
// do it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_files.h"
#include "library/search.h"
#include "library/shelf_names.h"
#include "library/shelf_operations.h"
#include "library/xml_element.h"
#include "library/xml_file_object.h"
#include "library/xml_group.h"

using library::CXmlElement;
using library::CXmlFileObject;
using library::CXmlGroup;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string shelf = fuzz::WriteScratchFile("shelf.xml", data, size);
  const std::string results = fuzz::ScratchFolder() + "/search.xml";
  const std::string copy = fuzz::ScratchFolder() + "/copy.xml";
  std::remove(results.c_str());
  std::remove(copy.c_str());

  // The first item of the first group and of the downloading group, when there are.
  std::string group_id, item_id, downloading_id;
  {
    std::unique_ptr<CXmlFileObject> file;
    if (CXmlFileObject::Open(&file, shelf.c_str())) {
      CXmlGroup* group = nullptr;
      CXmlElement* item = nullptr;
      if (file->GetGroupAt(0, &group)) {
        group_id = group->id();
        if (group->GetItemAt(0, &item)) item_id = item->id();
      }
      if (file->FindGroup(library::shelf_names::Downloading().c_str(), &group) &&
          group->GetItemAt(0, &item))
        downloading_id = item->id();
    }
  }

  // Each operation runs on whatever was read; only a crash or a sanitizer report counts.
  (void)library::SearchCatalogue(results, shelf, "a");
  std::string name;
  if (library::GetItemName(shelf, item_id, group_id, &name) && name.size() > 63)
    fuzz::Fail("an item name longer than 63 bytes");
  const int copied =
      library::CopyItemToGroup(shelf, group_id, item_id, copy, library::shelf_names::Purchased());
  if (copied != 1 && copied != -1) fuzz::Fail("a copy whose result is neither 1 nor -1");
  // A second copy of the same item finds it there.
  if (copied == 1 && library::CopyItemToGroup(shelf, group_id, item_id, copy,
                                              library::shelf_names::Purchased()) != -1)
    fuzz::Fail("an item copied twice into one group");
  const std::string target = "/books/a.pdf";
  (void)library::MoveDownloadedItem(shelf, downloading_id, &target);
  (void)library::RemoveCatalogueItem(shelf, group_id, item_id);
  return 0;
}
