#include "fields/field_list.h"

#include "base/ansi.h"

namespace fields {

bool ReadFieldList(std::string_view text, std::initializer_list<FieldBuffer> fields) {
  for (const FieldBuffer& field : fields) field.value->clear();
  std::size_t pos = 0;
  std::size_t index = 0;
  for (const FieldBuffer& field : fields) {
    const bool last = ++index == fields.size();
    std::size_t equals = ansi::FindChar(text, '=', pos);
    if (equals == std::string_view::npos) return false;
    std::size_t start = equals + 1;
    std::size_t bar = ansi::FindChar(text, '|', start);
    if (bar == std::string_view::npos && !last) return false;
    std::size_t end = bar == std::string_view::npos ? text.size() : bar;
    std::size_t room = field.size > 0 ? field.size - 1 : 0;
    field.value->assign(ansi::CutToBytes(text.substr(start, end - start), room));
    pos = end == text.size() ? end : end + 1;
  }
  return true;
}

}  // namespace fields
