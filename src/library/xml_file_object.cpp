#include "library/xml_file_object.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include <tinyxml.h>

#include "library/shelf_names.h"
#include "platform/ansi.h"
#include "platform/file_replace.h"
#include "platform/regular_file.h"

namespace {

// The values of the first |count| attributes of |element|, by position; missing ones
// stay empty.
template <std::size_t N>
void ReadAttributes(const TiXmlElement& element, std::string (&values)[N]) {
  const TiXmlAttribute* attribute = element.FirstAttribute();
  for (std::size_t i = 0; i < N && attribute != nullptr; ++i, attribute = attribute->Next())
    values[i] = attribute->ValueStr();
}

const std::string kId = "id", kName = "name", kPhoto = "photo", kDate = "date", kPay = "pay",
                  kPrice = "price", kDlUrl = "DLurl", kRdUrl = "RDurl", kByUrl = "BYurl";

// Prints a catalogue straight from the model, byte for byte as TinyXML's document
// printer prints the same tree (declaration first, one element per line, children
// indented by four spaces, values escaped by TinyXML's own encoder and quoted with
// single quotes when they hold a double quote), with CR LF line ends. Building a
// document tree first would add a third to the cost of every save.
class CatalogueText {
 public:
  struct Attribute {
    const std::string* name;
    const std::string* value;
  };

  void Declaration() { out_ += "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\r\n"; }

  // An element's start tag; an element without children is closed at once.
  void Open(const std::string& name, std::initializer_list<Attribute> attributes,
            bool has_children) {
    Indent();
    out_ += '<';
    out_ += name;
    for (const Attribute& a : attributes) {
      const bool quote = a.value->find('"') != std::string::npos;
      out_ += ' ';
      out_ += *a.name;
      out_ += quote ? "='" : "=\"";
      TiXmlBase::EncodeString(*a.value, &out_);
      out_ += quote ? '\'' : '"';
    }
    out_ += has_children ? ">\r\n" : " />\r\n";
    if (has_children) ++depth_;
  }

  void Close(const std::string& name) {
    --depth_;
    Indent();
    out_ += "</";
    out_ += name;
    out_ += ">\r\n";
  }

  std::string Take() { return std::move(out_); }

 private:
  void Indent() { out_.append(static_cast<std::size_t>(depth_) * 4, ' '); }

  std::string out_;
  int depth_ = 0;
};

// Line ends as TinyXML's own file reader leaves them: CR LF and a lone CR become LF,
// and the text ends at its first zero byte.
void NormaliseLineEnds(std::string* text) {
  text->resize(std::strlen(text->c_str()));
  std::size_t out = 0;
  for (std::size_t in = 0; in < text->size(); ++in) {
    if ((*text)[in] == '\r') {
      (*text)[out++] = '\n';
      if (in + 1 < text->size() && (*text)[in + 1] == '\n') ++in;
    } else {
      (*text)[out++] = (*text)[in];
    }
  }
  text->resize(out);
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool StartsWithIgnoringCase(std::string_view text, std::size_t at, std::string_view word) {
  if (text.size() - at < word.size()) return false;
  for (std::size_t k = 0; k < word.size(); ++k)
    if (std::tolower(static_cast<unsigned char>(text[at + k])) != word[k]) return false;
  return true;
}

// Where the XML declaration that starts at |from| ends (the offset of its '>', or the
// text's size), read as the parser reads it: the values of "version", "encoding" and
// "standalone" may be quoted and hide a '>'; any other word ends at white space or '>'.
// Where the parser would give up, the declaration is taken to end there, which only
// makes more of the text count.
std::size_t DeclarationEnd(std::string_view text, std::size_t from) {
  const std::size_t n = text.size();
  std::size_t j = from;
  while (j < n && text[j] != '>') {
    if (IsXmlSpace(text[j])) {
      ++j;
      continue;
    }
    if (!StartsWithIgnoringCase(text, j, "version") &&
        !StartsWithIgnoringCase(text, j, "encoding") &&
        !StartsWithIgnoringCase(text, j, "standalone")) {
      while (j < n && text[j] != '>' && !IsXmlSpace(text[j])) ++j;
      continue;
    }
    while (j < n && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_' ||
                     text[j] == '-' || text[j] == '.' || text[j] == ':'))
      ++j;
    while (j < n && IsXmlSpace(text[j])) ++j;
    if (j >= n || text[j] != '=') return j;
    ++j;
    while (j < n && IsXmlSpace(text[j])) ++j;
    if (j < n && (text[j] == '"' || text[j] == '\'')) {
      const std::size_t close = text.find(text[j], j + 1);
      if (close == std::string_view::npos) return n;
      j = close + 1;
      continue;
    }
    while (j < n && !IsXmlSpace(text[j]) && text[j] != '/' && text[j] != '>') {
      if (text[j] == '"' || text[j] == '\'') return j;
      ++j;
    }
  }
  return j;
}

// Whether elements in |text| may nest deeper than |limit| levels. The parser descends
// once per level, so a document nested tens of thousands of levels deep would exhaust
// the stack; it is refused before parsing. The count follows the parser's reading of
// markup and errs on the deep side: comments, CDATA sections, the declaration and other
// "<!" and "<?" markup hold no elements; a start tag ends at a '>' outside a value
// quoted right after its "="; "/>" closes at once; "</" closes one level.
bool NestingExceeds(std::string_view text, int limit) {
  int depth = 0;
  const std::size_t n = text.size();
  auto skip_past = [&](std::size_t from, std::string_view end) {
    std::size_t at = text.find(end, from);
    return at == std::string_view::npos ? n : at + end.size();
  };
  for (std::size_t i = text.find('<'); i < n; i = text.find('<', i)) {
    std::string_view rest = text.substr(i);
    if (rest.starts_with("<!--")) {
      i = skip_past(i + 4, "-->");
    } else if (rest.starts_with("<![CDATA[")) {
      i = skip_past(i + 9, "]]>");
    } else if (StartsWithIgnoringCase(text, i, "<?xml")) {
      i = std::min(DeclarationEnd(text, i + 5) + 1, n);
    } else if (rest.starts_with("<!") || rest.starts_with("<?")) {
      i = skip_past(i + 2, ">");
    } else if (rest.starts_with("</")) {
      if (depth > 0) --depth;
      i = skip_past(i + 2, ">");
    } else {
      // A start tag: find its end, stepping over quoted values.
      std::size_t j = i + 1;
      char last = '\0';  // the last character that was not white space
      while (j < n && text[j] != '>') {
        const char c = text[j];
        if ((c == '"' || c == '\'') && last == '=') {
          std::size_t close = text.find(c, j + 1);
          j = close == std::string_view::npos ? n : close + 1;
          last = c;
          continue;
        }
        if (!IsXmlSpace(c)) last = c;
        ++j;
      }
      if (j < n && last != '/' && ++depth > limit) return true;
      i = j < n ? j + 1 : n;
    }
  }
  return false;
}

}  // namespace

CXmlFileObject::~CXmlFileObject() = default;

bool CXmlFileObject::Create(std::unique_ptr<CXmlFileObject>* out, const char* path,
                            const char* root_name, const char* category,
                            const char* maximum) {
  if (out == nullptr || path == nullptr || root_name == nullptr || category == nullptr ||
      maximum == nullptr)
    return false;
  out->reset(new CXmlFileObject(path));
  (*out)->root_name_ = root_name;
  (*out)->category_ = category;
  (*out)->maximum_ = maximum;
  return true;
}

bool CXmlFileObject::Open(std::unique_ptr<CXmlFileObject>* out, const char* path) {
  if (out == nullptr || path == nullptr) return false;
  out->reset(new CXmlFileObject(path));
  return (*out)->Load();
}

void CXmlFileObject::Release(std::unique_ptr<CXmlFileObject> object, bool save) {
  if (object && save) object->Save();
}

bool CXmlFileObject::Load() {
  std::string text;
  const platform::FileRead read =
      platform::ReadRegularFile(ansi::NativePath(path_), kMaxFileBytes, &text);
  // A missing file may be written later; anything else that cannot be read (a folder,
  // a FIFO, a device, a file too large or too deep) is kept exactly as it is.
  unreadable_ = read != platform::FileRead::kMissing;
  if (read != platform::FileRead::kOk || NestingExceeds(text, kMaxDepth)) return false;
  // The encoding comes from the file itself; a "gb2312" declaration keeps every byte
  // of the text as it stands.
  TiXmlDocument document;
  NormaliseLineEnds(&text);
  document.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
  const TiXmlElement* root = document.Error() ? nullptr : document.RootElement();
  if (root == nullptr) return false;
  unreadable_ = false;
  loaded_ = true;

  // Root, groups and items are read by the position of their attributes. The second
  // attribute of the root and of a group is the stored count, which is recomputed.
  std::string root_values[3];
  ReadAttributes(*root, root_values);
  root_name_ = root->ValueStr();
  category_ = root_values[0];
  maximum_ = root_values[2];

  for (const TiXmlElement* g = root->FirstChildElement(); g != nullptr;
       g = g->NextSiblingElement()) {
    std::string group_values[3];
    ReadAttributes(*g, group_values);
    std::unique_ptr<CXmlGroup> group;
    CXmlGroup::Create(&group, g->Value(), group_values[0].c_str(), group_values[2].c_str());
    for (const TiXmlElement* e = g->FirstChildElement(); e != nullptr;
         e = e->NextSiblingElement()) {
      std::string v[9];
      ReadAttributes(*e, v);
      std::unique_ptr<CXmlElement> item;
      CXmlElement::Create(&item, CXmlElement::Fields{e->ValueStr(), v[0], v[1], v[2], v[3],
                                                     v[4], v[5], v[6], v[7], v[8]});
      group->AddItem(std::move(item));  // a repeated id: the first item stays
    }
    AddGroup(std::move(group));  // a repeated id: the first group stays
  }
  return true;
}

std::string CXmlFileObject::Print() const {
  using namespace shelf_names;
  CatalogueText text;
  text.Declaration();
  const std::string& root_name =
      root_name_.empty() ? std::string(kDefaultRootName) : root_name_;
  const bool has_groups = groups_.size() > 0;
  const std::string total = std::to_string(GetItemTotal());
  text.Open(root_name, {{&CategoryAttribute(), &category_},
                        {&TotalAttribute(), &total},
                        {&MaximumAttribute(), &maximum_}},
            has_groups);
  groups_.ForEach([&](const CXmlGroup& group) {
    const bool has_items = group.GetItemCount() > 0;
    const std::string count = std::to_string(group.GetItemCount());
    text.Open(group.element_name(),
              {{&kId, &group.id()}, {&TotalAttribute(), &count},
               {&MaximumAttribute(), &group.maximum()}},
              has_items);
    for (int i = 0; i < group.GetItemCount(); ++i) {
      CXmlElement* item = nullptr;
      group.GetItemAt(i, &item);
      const CXmlElement::Fields& f = item->fields();
      text.Open(f.element_name,
                {{&kId, &f.id}, {&kName, &f.name}, {&kPhoto, &f.photo}, {&kDate, &f.date},
                 {&kPay, &f.pay}, {&kPrice, &f.price}, {&kDlUrl, &f.dl_url},
                 {&kRdUrl, &f.rd_url}, {&kByUrl, &f.by_url}},
                false);
    }
    if (has_items) text.Close(group.element_name());
  });
  if (has_groups) text.Close(root_name);
  return text.Take();
}

bool CXmlFileObject::Save() {
  // A file that is there but could not be read is left exactly as it is.
  if (unreadable_) return false;
  return platform::ReplaceFileContents(ansi::NativePath(path_), Print());
}

bool CXmlFileObject::FindGroup(const char* id, CXmlGroup** out) const {
  if (id == nullptr || out == nullptr) return false;
  *out = groups_.Find(id);
  return *out != nullptr;
}

bool CXmlFileObject::AddGroup(std::unique_ptr<CXmlGroup> group) {
  if (!group) return false;
  const std::string id = group->id();
  groups_.Insert(id, std::move(group));
  return true;
}

bool CXmlFileObject::RemoveGroup(const char* id) {
  return id != nullptr && groups_.Remove(id);
}

bool CXmlFileObject::GetGroupAt(int position, CXmlGroup** out) const {
  if (out == nullptr || position < 0) return false;
  *out = groups_.At(static_cast<std::size_t>(position));
  return *out != nullptr;
}

int CXmlFileObject::GetItemTotal() const {
  int total = 0;
  groups_.ForEach([&](const CXmlGroup& group) { total += group.GetItemCount(); });
  return total;
}

bool CXmlFileObject::FindItemInAnyGroup(const char* id, CXmlElement** out) const {
  if (id == nullptr || out == nullptr) return false;
  *out = nullptr;
  for (int i = 0; i < GetGroupCount() && *out == nullptr; ++i) {
    CXmlGroup* group = nullptr;
    GetGroupAt(i, &group);
    group->FindItem(id, out);
  }
  return *out != nullptr;
}
