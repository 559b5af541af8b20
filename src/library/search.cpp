#include "library/search.h"

#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "base/ansi.h"
#include "base/files.h"
#include "library/catalogue_scan.h"
#include "library/shelf_names.h"
#include "library/xml_file_object.h"

namespace library {

namespace {

using Fields = CXmlElement::Fields;

// The matches of a catalogue read through the model: its groups in id order, in each
// its items in id order.
std::vector<Fields> MatchesThroughModel(const std::string& catalogue_path,
                                        const std::string& keyword) {
  std::vector<Fields> matches;
  // A catalogue that cannot be read has no hits.
  std::unique_ptr<CXmlFileObject> catalogue;
  (void)CXmlFileObject::Open(&catalogue, catalogue_path.c_str());
  for (int g = 0; g < catalogue->GetGroupCount(); ++g) {
    CXmlGroup* group = nullptr;
    catalogue->GetGroupAt(g, &group);
    for (int i = 0; i < group->GetItemCount(); ++i) {
      CXmlElement* item = nullptr;
      group->GetItemAt(i, &item);
      if (item->name().find(keyword) != std::string::npos ||
          item->date().find(keyword) != std::string::npos)
        matches.push_back(item->fields());
    }
  }
  (void)CXmlFileObject::Release(std::move(catalogue), false);  // nothing to save
  return matches;
}

// The same from the catalogue's text, read as the model reads its file; a text the
// scan is not sure of goes through the model.
std::vector<Fields> Matches(const std::string& catalogue_path, const std::string& keyword,
                            CatalogueReading reading) {
  if (reading == CatalogueReading::kScan) {
    std::string text;
    // What the model cannot read (missing, not a regular file, too large) has no hits.
    if (!base::ReadRegularFile(ansi::NativePath(catalogue_path), CXmlFileObject::kMaxFileBytes,
                               &text)
             .ok())
      return {};
    std::vector<Fields> matches;
    if (CatalogueScan::FindMatches(text, keyword, &matches) == CatalogueScan::Result::kRead)
      return matches;
  }
  return MatchesThroughModel(catalogue_path, keyword);
}

// Adds the matches of one catalogue to |hits|; an id already there stays as it is.
void AddMatches(CXmlGroup* hits, const std::string& catalogue_path, const std::string& keyword,
                CatalogueReading reading) {
  for (Fields& fields : Matches(catalogue_path, keyword, reading)) {
    std::unique_ptr<CXmlElement> copy;
    CXmlElement::Create(&copy, std::move(fields));
    hits->AddItem(std::move(copy));
  }
}

// The results file, read through the model. It is the program's own output, not the
// user's data: one that is there but cannot be read (cut short by a full disk or by a
// kill of another program, or grown past what is read) starts empty and is replaced by
// the new results. What is not a plain file under its name (a folder, a FIFO, a device,
// a link) is left as it is, as every catalogue is.
std::unique_ptr<CXmlFileObject> OpenResults(const std::string& results_path) {
  std::unique_ptr<CXmlFileObject> results;
  std::error_code error;
  if (!CXmlFileObject::Open(&results, results_path.c_str()) &&
      std::filesystem::symlink_status(ansi::NativePath(results_path), error).type() ==
          std::filesystem::file_type::regular)
    // Results that cannot be made are refused by their Save, which is reported.
    (void)CXmlFileObject::Create(&results, results_path.c_str(), "", "", "");
  return results;
}

}  // namespace

bool Search(const CatalogueFolders& folders, const std::string& category_list,
            const std::string& keyword, CatalogueReading reading) {
  // The results file is read once, emptied, filled from every catalogue and written
  // once: what a reload between catalogues would read is what the model holds, so the
  // file comes out as it would catalogue by catalogue, at one write instead of seven.
  // A results file that is missing or damaged starts empty.
  std::unique_ptr<CXmlFileObject> results = OpenResults(folders.SearchResultsPath());
  results->RemoveGroup(shelf_names::SearchResults().c_str());
  CXmlGroup* hits = FindOrAddGroup(*results, shelf_names::SearchResults(), "1000");

  std::size_t start = 0;
  while (start <= category_list.size()) {
    std::size_t end = category_list.find('&', start);
    if (end == std::string::npos) end = category_list.size();
    Catalogue catalogue;
    if (end > start && CatalogueOfSearchToken(
                           std::string_view(category_list).substr(start, end - start), &catalogue))
      AddMatches(hits, folders.Path(catalogue), keyword, reading);
    start = end + 1;
  }
  return CXmlFileObject::Release(std::move(results), true);
}

bool SearchCatalogue(const std::string& results_path, const std::string& catalogue_path,
                     const std::string& keyword, CatalogueReading reading) {
  // As above: a results file that is missing or damaged starts empty.
  std::unique_ptr<CXmlFileObject> results = OpenResults(results_path);
  AddMatches(FindOrAddGroup(*results, shelf_names::SearchResults(), "1000"), catalogue_path,
             keyword, reading);
  return CXmlFileObject::Release(std::move(results), true);
}

}  // namespace library
