#include "library/xml_file_object.h"

#include <tinyxml.h>

#include "base/ansi.h"
#include "base/files.h"
#include "library/shelf_names.h"
#include "library/tinyxml_text.h"

namespace library {

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

}  // namespace

CXmlFileObject::~CXmlFileObject() = default;

bool CXmlFileObject::Create(std::unique_ptr<CXmlFileObject>* out, const char* path,
                            const char* root_name, const char* category, const char* maximum) {
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

bool CXmlFileObject::Release(std::unique_ptr<CXmlFileObject> object, bool save) {
  return !(object && save) || object->Save();
}

bool CXmlFileObject::Load() {
  std::string text;
  const base::Status read = base::ReadRegularFile(ansi::NativePath(path_), kMaxFileBytes, &text);
  // A missing file may be written later; anything else that cannot be read (a folder,
  // a FIFO, a device, a file too large or too deep) is kept exactly as it is.
  unreadable_ = !read.IsNotFound();
  if (!read.ok() || tinyxml_text::NestingExceeds(text, kMaxDepth)) return false;
  // The encoding comes from the file itself; a "gb2312" declaration keeps every byte
  // of the text as it stands.
  TiXmlDocument document;
  tinyxml_text::NormaliseLineEnds(&text);
  tinyxml_text::Parse(&text, &document);
  const TiXmlElement* root = document.Error() ? nullptr : document.RootElement();
  if (root == nullptr) return false;
  unreadable_ = false;

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
      CXmlElement::Create(
          &item,
          CXmlElement::Fields{e->ValueStr(), std::move(v[0]), std::move(v[1]), std::move(v[2]),
                              std::move(v[3]), std::move(v[4]), std::move(v[5]), std::move(v[6]),
                              std::move(v[7]), std::move(v[8])});
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
  const std::string& root_name = root_name_.empty() ? std::string(kDefaultRootName) : root_name_;
  const bool has_groups = groups_.size() > 0;
  const std::string total = std::to_string(GetItemTotal());
  text.Open(root_name,
            {{&CategoryAttribute(), &category_},
             {&TotalAttribute(), &total},
             {&MaximumAttribute(), &maximum_}},
            has_groups);
  groups_.ForEach([&](const CXmlGroup& group) {
    const bool has_items = group.GetItemCount() > 0;
    const std::string count = std::to_string(group.GetItemCount());
    text.Open(
        group.element_name(),
        {{&kId, &group.id()}, {&TotalAttribute(), &count}, {&MaximumAttribute(), &group.maximum()}},
        has_items);
    for (int i = 0; i < group.GetItemCount(); ++i) {
      CXmlElement* item = nullptr;
      group.GetItemAt(i, &item);
      const CXmlElement::Fields& f = item->fields();
      text.Open(f.element_name,
                {{&kId, &f.id},
                 {&kName, &f.name},
                 {&kPhoto, &f.photo},
                 {&kDate, &f.date},
                 {&kPay, &f.pay},
                 {&kPrice, &f.price},
                 {&kDlUrl, &f.dl_url},
                 {&kRdUrl, &f.rd_url},
                 {&kByUrl, &f.by_url}},
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
  return base::ReplaceFileContents(ansi::NativePath(path_), Print()).ok();
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

bool CXmlFileObject::RemoveGroup(const char* id) { return id != nullptr && groups_.Remove(id); }

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

CXmlGroup* FindOrAddGroup(CXmlFileObject& file, const std::string& id, const char* maximum,
                          bool* made) {
  CXmlGroup* group = nullptr;
  const bool found = file.FindGroup(id.c_str(), &group);
  if (made != nullptr) *made = !found;
  if (!found) {
    std::unique_ptr<CXmlGroup> fresh;
    CXmlGroup::Create(&fresh, shelf_names::GroupElement().c_str(), id.c_str(), maximum);
    group = fresh.get();
    file.AddGroup(std::move(fresh));
  }
  return group;
}

}  // namespace library
