// The list of OPDS catalogues the user added, kept in the data folder as
// public/opds/catalogues.txt: a first line "#next=N" (the number the next catalogue's id
// takes, so that no id is used twice while the file lives), then one catalogue a line,
// "ID\tNAME\tURL\tUSER" (core code page). Never a password. Read with limits: at most
// 64 KiB and 100 catalogues; a line that does not hold together is skipped.
#ifndef LUMORA_APP_OPDS_CATALOGUE_LIST_H_
#define LUMORA_APP_OPDS_CATALOGUE_LIST_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace app {

struct OpdsCatalogue {
  std::string id;    // "o" + a number
  std::string name;  // no tab, line end or "|"
  std::string url;   // http or https
  std::string user;  // may be empty
};

struct OpdsCatalogueList {
  static constexpr std::size_t kMaxBytes = 64u << 10;
  static constexpr std::size_t kMaxCatalogues = 100;
  static constexpr std::size_t kMaxName = 256;
  static constexpr std::size_t kMaxUrl = 2048;
  static constexpr std::size_t kMaxUser = 256;

  unsigned next_number = 1;
  std::vector<OpdsCatalogue> catalogues;

  // The catalogue |id|, or nullptr.
  const OpdsCatalogue* Find(std::string_view id) const;
  // The list read from |text|: bad lines skipped, at most kMaxCatalogues kept, the next
  // number never below one past the ids found.
  static OpdsCatalogueList Parse(std::string_view text);
  std::string Format() const;
  // The movie's OpdsCatalogues: "id=ID|name=NAME|url=URL|user=USER" a line.
  std::string MovieText() const;
  // The id a new catalogue takes ("o" + the next number, which then moves on); empty
  // when the numbers an id can hold are used up.
  std::string TakeId();

  // Reads |path| (native); a missing file is an empty list, a larger one than kMaxBytes
  // or one that is not a regular file fails.
  [[nodiscard]] static base::Status Load(const std::string& path, OpdsCatalogueList* list);
  // Replaces |path| (native) as a whole, making its folder when missing.
  [[nodiscard]] base::Status Save(const std::string& path) const;
};

// True for an id of the form "o" + 1 to 9 digits.
bool IsCatalogueId(std::string_view id);
// True for an http or https URL the list may hold: a list text of at most kMaxUrl bytes
// with no user information ("user:password@") before its host, which would put a
// password into the list, the movie's variables and the page files.
bool IsCatalogueUrl(std::string_view url);
// True for a text that may stand in a field of the list and of the movie's variables:
// at most |max| bytes, no control character, tab or "|".
bool IsListText(std::string_view text, std::size_t max);

}  // namespace app

#endif  // LUMORA_APP_OPDS_CATALOGUE_LIST_H_
