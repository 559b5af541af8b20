#include "library/xml_element.h"

namespace library {

CXmlElement::~CXmlElement() = default;

bool CXmlElement::Create(std::unique_ptr<CXmlElement>* out, const char* element_name,
                         const char* id, const char* name, const char* photo, const char* date,
                         const char* pay, const char* price, const char* dl_url, const char* rd_url,
                         const char* by_url) {
  for (const char* s : {element_name, id, name, photo, date, pay, price, dl_url, rd_url, by_url})
    if (s == nullptr) return false;
  return Create(out,
                Fields{element_name, id, name, photo, date, pay, price, dl_url, rd_url, by_url});
}

bool CXmlElement::Create(std::unique_ptr<CXmlElement>* out, Fields fields) {
  if (out == nullptr) return false;
  out->reset(new CXmlElement(std::move(fields)));
  return true;
}

}  // namespace library
