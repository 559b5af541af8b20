// Reads a catalogue file's text for a search without building a document tree: one
// pass over the text finds the items whose name or date holds the keyword, in the order
// in which the catalogue model would hand them out.
//
// The model reads a catalogue through TinyXML, whose reading has quirks of its own
// (the code page chosen by a byte-order mark or the declaration, UTF-8 sequences that
// swallow the bytes after their first, entities, white space, the depth guard run before
// parsing). The scan reads the form the program writes and the usual hand-written forms
// exactly as TinyXML does; at the first thing it is not sure of it stops and says so,
// and the caller reads that file through the model instead. Its results are therefore
// the model's, byte for byte, on every file it does read.
#ifndef LUMORA_LIBRARY_CATALOGUE_SCAN_H_
#define LUMORA_LIBRARY_CATALOGUE_SCAN_H_

#include <string>
#include <string_view>
#include <vector>

#include "library/xml_element.h"

namespace library {

class CatalogueScan {
 public:
  enum class Result {
    kRead,     // the text was read; the matches are what the model would find
    kNotSure,  // the text holds something the scan does not read: ask the model
  };

  // The items of the catalogue |text| (a file's bytes as read, unchanged) whose name
  // or date contains |keyword| as plain bytes: the groups in byte order of their ids
  // (the first group of an id only), in each the first item of each id. With kNotSure
  // |matches| is left empty.
  [[nodiscard]] static Result FindMatches(const std::string& text, std::string_view keyword,
                                          std::vector<CXmlElement::Fields>* matches);
};

}  // namespace library

#endif  // LUMORA_LIBRARY_CATALOGUE_SCAN_H_
