#include "library/xml_group.h"

namespace library {

CXmlGroup::~CXmlGroup() = default;

bool CXmlGroup::Create(std::unique_ptr<CXmlGroup>* out, const char* element_name, const char* id,
                       const char* maximum) {
  if (out == nullptr || element_name == nullptr || id == nullptr || maximum == nullptr)
    return false;
  out->reset(new CXmlGroup(element_name, id, maximum));
  return true;
}

bool CXmlGroup::FindItem(const char* id, CXmlElement** out) const {
  if (id == nullptr || out == nullptr) return false;
  *out = items_.Find(id);
  return *out != nullptr;
}

bool CXmlGroup::AddItem(std::unique_ptr<CXmlElement> item) {
  if (!item) return false;
  const std::string id = item->id();
  items_.Insert(id, std::move(item));
  return true;
}

bool CXmlGroup::RemoveItem(const char* id) { return id != nullptr && items_.Remove(id); }

std::unique_ptr<CXmlElement> CXmlGroup::TakeItem(const char* id) {
  return id == nullptr ? nullptr : items_.Take(id);
}

bool CXmlGroup::GetItemAt(int position, CXmlElement** out) const {
  if (out == nullptr || position < 0) return false;
  *out = items_.At(static_cast<std::size_t>(position));
  return *out != nullptr;
}

}  // namespace library
