// A catalogue file read into the model, written back and read again: what was
// understood is written so that it reads back the same.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/files.h"
#include "fuzz_files.h"
#include "library/xml_element.h"
#include "library/xml_file_object.h"
#include "library/xml_group.h"

using library::CXmlElement;
using library::CXmlFileObject;
using library::CXmlGroup;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::WriteScratchFile("catalogue.xml", data, size);
  std::unique_ptr<CXmlFileObject> file;
  if (!CXmlFileObject::Open(&file, path.c_str())) {
    // Not understood: the file is never replaced.
    if (CXmlFileObject::Release(std::move(file), true)) fuzz::Fail("a file not read was saved");
    std::string after;
    if (!base::ReadWholeFile(path, &after).ok() ||
        after != std::string_view(reinterpret_cast<const char*>(data), size))
      fuzz::Fail("a file not read was changed");
    return 0;
  }
  // Every group and item is reachable by position and by id.
  int items = 0;
  for (int g = 0; g < file->GetGroupCount(); ++g) {
    CXmlGroup* group = nullptr;
    CXmlGroup* found = nullptr;
    if (!file->GetGroupAt(g, &group) || !file->FindGroup(group->id().c_str(), &found) ||
        found != group)
      fuzz::Fail("a group not found by its id");
    for (int i = 0; i < group->GetItemCount(); ++i) {
      CXmlElement* item = nullptr;
      CXmlElement* by_id = nullptr;
      if (!group->GetItemAt(i, &item) || !group->FindItem(item->id().c_str(), &by_id) ||
          by_id != item)
        fuzz::Fail("an item not found by its id");
      ++items;
    }
  }
  if (items != file->GetItemTotal()) fuzz::Fail("the item total is not the items' count");

  const std::string printed = file->Print();
  if (!CXmlFileObject::Release(std::move(file), true)) fuzz::Fail("a loaded file not saved");
  std::unique_ptr<CXmlFileObject> again;
  if (!CXmlFileObject::Open(&again, path.c_str())) fuzz::Fail("a saved file not read back");
  if (again->Print() != printed) fuzz::Fail("a saved file read back otherwise");
  return 0;
}
