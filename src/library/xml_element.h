// One item of a catalogue: ten byte strings (code page), fixed once made. A change of
// any field is made by creating a new item and replacing the old one.
#ifndef LUMORA_LIBRARY_XML_ELEMENT_H_
#define LUMORA_LIBRARY_XML_ELEMENT_H_

#include <memory>
#include <string>

namespace library {

class CXmlElement {
 public:
  // The ten strings, in the order in which they are read and written.
  struct Fields {
    std::string element_name;
    std::string id;
    std::string name;
    std::string photo;
    std::string date;
    std::string pay;
    std::string price;
    std::string dl_url;
    std::string rd_url;
    std::string by_url;
  };

  virtual ~CXmlElement();
  CXmlElement(const CXmlElement&) = delete;
  CXmlElement& operator=(const CXmlElement&) = delete;

  // A new item. False, and nothing made, when |out| or any string is missing; empty
  // strings are allowed.
  static bool Create(std::unique_ptr<CXmlElement>* out, const char* element_name, const char* id,
                     const char* name, const char* photo, const char* date, const char* pay,
                     const char* price, const char* dl_url, const char* rd_url, const char* by_url);
  // A new item from its ten strings. False only when |out| is missing.
  static bool Create(std::unique_ptr<CXmlElement>* out, Fields fields);

  const Fields& fields() const { return fields_; }
  const std::string& element_name() const { return fields_.element_name; }
  const std::string& id() const { return fields_.id; }
  const std::string& name() const { return fields_.name; }
  const std::string& photo() const { return fields_.photo; }
  const std::string& date() const { return fields_.date; }
  const std::string& pay() const { return fields_.pay; }
  const std::string& price() const { return fields_.price; }
  const std::string& dl_url() const { return fields_.dl_url; }
  const std::string& rd_url() const { return fields_.rd_url; }
  const std::string& by_url() const { return fields_.by_url; }

 private:
  explicit CXmlElement(Fields fields) : fields_(std::move(fields)) {}

  const Fields fields_;
};

}  // namespace library

#endif  // LUMORA_LIBRARY_XML_ELEMENT_H_
