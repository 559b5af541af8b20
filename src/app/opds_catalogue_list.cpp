#include "app/opds_catalogue_list.h"

#include <charconv>

#include "base/files.h"

namespace app {

namespace {

constexpr std::string_view kNextPrefix = "#next=";

// |text| split at |separator|.
std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t at = 0;;) {
    const std::size_t end = text.find(separator, at);
    parts.push_back(text.substr(at, end == std::string_view::npos ? end : end - at));
    if (end == std::string_view::npos) return parts;
    at = end + 1;
  }
}

unsigned NumberOf(std::string_view digits) {
  unsigned number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  return error == std::errc() && end == digits.data() + digits.size() ? number : 0;
}

}  // namespace

bool IsCatalogueId(std::string_view id) {
  if (id.size() < 2 || id.size() > 10 || id[0] != 'o') return false;
  for (char c : id.substr(1))
    if (c < '0' || c > '9') return false;
  return true;
}

bool IsListText(std::string_view text, std::size_t max) {
  if (text.size() > max) return false;
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7f || c == '|') return false;
  return true;
}

bool IsCatalogueUrl(std::string_view url) {
  std::size_t authority = 0;
  if (url.starts_with("http://"))
    authority = 7;
  else if (url.starts_with("https://"))
    authority = 8;
  else
    return false;
  const std::size_t end = url.find_first_of("/?#", authority);
  return url.size() > authority &&
         url.substr(authority, end - authority).find('@') == std::string_view::npos &&
         IsListText(url, OpdsCatalogueList::kMaxUrl);
}

const OpdsCatalogue* OpdsCatalogueList::Find(std::string_view id) const {
  for (const OpdsCatalogue& c : catalogues)
    if (c.id == id) return &c;
  return nullptr;
}

OpdsCatalogueList OpdsCatalogueList::Parse(std::string_view text) {
  OpdsCatalogueList list;
  for (std::string_view line : Split(text, '\n')) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.substr(0, kNextPrefix.size()) == kNextPrefix) {
      if (unsigned n = NumberOf(line.substr(kNextPrefix.size())); n > list.next_number)
        list.next_number = n;
      continue;
    }
    const std::vector<std::string_view> f = Split(line, '\t');
    if (f.size() != 4 || !IsCatalogueId(f[0]) || list.Find(f[0]) || f[1].empty() ||
        !IsListText(f[1], kMaxName) || !IsCatalogueUrl(f[2]) || !IsListText(f[3], kMaxUser))
      continue;  // a bad line is skipped
    if (list.catalogues.size() == kMaxCatalogues) break;
    list.catalogues.push_back(
        {std::string(f[0]), std::string(f[1]), std::string(f[2]), std::string(f[3])});
    if (unsigned n = NumberOf(f[0].substr(1)); n >= list.next_number) list.next_number = n + 1;
  }
  return list;
}

std::string OpdsCatalogueList::Format() const {
  std::string text = std::string(kNextPrefix) + std::to_string(next_number) + "\n";
  for (const OpdsCatalogue& c : catalogues)
    text += c.id + "\t" + c.name + "\t" + c.url + "\t" + c.user + "\n";
  return text;
}

std::string OpdsCatalogueList::TakeId() {
  std::string id = "o" + std::to_string(next_number);
  if (!IsCatalogueId(id)) return {};
  ++next_number;
  return id;
}

std::string OpdsCatalogueList::MovieText() const {
  std::string text;
  for (const OpdsCatalogue& c : catalogues) {
    if (!text.empty()) text += "\n";
    text += "id=" + c.id + "|name=" + c.name + "|url=" + c.url + "|user=" + c.user;
  }
  return text;
}

base::Status OpdsCatalogueList::Load(const std::string& path, OpdsCatalogueList* list) {
  *list = {};
  std::string text;
  base::Status read = base::ReadRegularFile(path, kMaxBytes, &text);
  if (read.IsNotFound()) return base::Status::Ok();
  if (!read) return read;
  *list = Parse(text);
  return base::Status::Ok();
}

base::Status OpdsCatalogueList::Save(const std::string& path) const {
  if (base::Status made = base::MakeParentFolders(path); !made) return made;
  return base::ReplaceFileContents(path, Format());
}

}  // namespace app
