// Reads the argument text of a movie command: fields "key=value" separated by "|",
// taken by position (keys are never looked at).
//
// From the current position the next "=" starts a value; every value but the last ends
// at the next "|", the last at the next "|" or the end of the text. Both separators are
// found character by character, so the trail byte of a double-byte character (東 is
// 96 7C) is never taken for one. When an "=" or a
// required "|" is missing, reading stops there: the fields read so far keep their
// values, the rest are emptied, and the result is false. Each value is cut to its
// buffer (size including the terminating zero of the stored form, so a 64-byte field
// holds 63 bytes), never in the middle of a character.
#ifndef LUMORA_FIELDS_FIELD_LIST_H_
#define LUMORA_FIELDS_FIELD_LIST_H_

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace fields {

struct FieldBuffer {
  std::string* value;
  std::size_t size;
};

[[nodiscard]] bool ReadFieldList(std::string_view text, std::initializer_list<FieldBuffer> fields);

}  // namespace fields

#endif  // LUMORA_FIELDS_FIELD_LIST_H_
