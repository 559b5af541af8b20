// Catalogue files for tests: written from UTF-8 text as the code page's bytes, read
// back into UTF-8, and items listed as "group/id" pairs.
#ifndef LUMORA_TESTS_LIBRARY_CATALOGUE_TEXT_H_
#define LUMORA_TESTS_LIBRARY_CATALOGUE_TEXT_H_

#include <memory>
#include <string>
#include <vector>

#include "../support/temp_dir.h"
#include "base/ansi.h"
#include "base/files.h"
#include "base/folders.h"
#include "library/xml_file_object.h"

inline std::string Gb(const std::string& utf8) { return ansi::FromUtf8Lossy(utf8); }
inline std::string Utf8(const std::string& gb) { return ansi::ToUtf8Lossy(gb); }

// A catalogue file in the usual layout, from UTF-8 text of its groups and items.
inline std::string CatalogueXml(const std::string& groups_utf8, const std::string& root = "目录") {
  return Gb("<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<" + root +
            " 分类=\"1\" 总数=\"0\" 最大值=\"1000\">\r\n" + groups_utf8 + "</" + root + ">\r\n");
}

// One item element with the nine attributes in the standard order.
inline std::string ItemXml(const std::string& id, const std::string& name,
                           const std::string& date = "", const std::string& element = "书") {
  return "<" + element + " id=\"" + id + "\" name=\"" + name + "\" photo=\"p.jpg\" date=\"" + date +
         "\" pay=\"1\" price=\"2\" DLurl=\"http://d/" + id + "\" RDurl=\"\" BYurl=\"b\"/>\r\n";
}

inline std::string GroupXml(const std::string& id, const std::string& items) {
  return "<分类 id=\"" + id + "\" 总数=\"0\" 最大值=\"100\">\r\n" + items + "</分类>\r\n";
}

// Every item of a catalogue file as "group/id=name", in enumeration order (UTF-8).
inline std::vector<std::string> ListItems(const std::string& path) {
  std::unique_ptr<library::CXmlFileObject> file;
  (void)library::CXmlFileObject::Open(&file, path.c_str());  // a missing file lists nothing
  std::vector<std::string> items;
  for (int g = 0; g < file->GetGroupCount(); ++g) {
    library::CXmlGroup* group = nullptr;
    file->GetGroupAt(g, &group);
    for (int i = 0; i < group->GetItemCount(); ++i) {
      library::CXmlElement* item = nullptr;
      group->GetItemAt(i, &item);
      items.push_back(Utf8(group->id() + "/" + item->id() + "=" + item->name()));
    }
  }
  return items;
}

#endif  // LUMORA_TESTS_LIBRARY_CATALOGUE_TEXT_H_
