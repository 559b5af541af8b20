// The bytes of a catalogue's text as TinyXML's parser reads them, for the catalogue
// scan: white space, names, comments, the declaration and quoted attribute values with
// their entities. Each reader either reads a place as the parser does or says that it
// is not sure (the scan then leaves the file to the model).
#ifndef LUMORA_LIBRARY_CATALOGUE_SCAN_TEXT_H_
#define LUMORA_LIBRARY_CATALOGUE_SCAN_TEXT_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace library::scan {

inline unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

// The white space of the depth guard (tinyxml_text::NestingExceeds). Where the guard
// must read a place as the parser does, only these may stand there.
inline bool IsGuardSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The bytes TinyXML's readers tell apart, asked of the C library in the current locale
// as TinyXML asks: white space (isspace, and CR and LF), the first byte of a name (a
// letter, '_', or any byte from 127 up) and the further bytes of a name (also digits,
// '-', '.' and ':'). The zero byte is none of them.
struct ByteClasses {
  ByteClasses();
  std::array<bool, 256> space{};
  std::array<bool, 256> name_start{};
  std::array<bool, 256> name_char{};
};

// An attribute as it stands in the text: its name and its value between the quotes.
// (Left uninitialised until read: an element reserves room for many.)
struct Attribute {
  const char* name;
  std::uint32_t name_length;
  // The name's length, first and last byte: names with distinct keys are distinct.
  std::uint32_t key;
  const char* value;
  const char* value_end;
  bool plain;  // no entity and no CR: the bytes are the value

  std::string_view Name() const { return std::string_view(name, name_length); }
  std::string_view Bytes() const {
    return std::string_view(value, static_cast<std::size_t>(value_end - value));
  }
};

// A catalogue's text read the parser's way. The text is a std::string's, so a zero
// byte follows its last byte; every reader stops there.
class ScanText {
 public:
  explicit ScanText(const std::string& text);

  const std::string& text() const { return text_; }
  const ByteClasses& classes() const { return classes_; }
  // Whether the text is read as UTF-8 (else every byte stands alone).
  void SetUtf8(bool utf8);

  // Past the white space at |p|; most places have none or one blank.
  const char* SkipSpace(const char* p) const {
    if (!classes_.space[Byte(*p)] && Byte(*p) != 0xEF) return p;
    return SkipSpaceFrom(p);
  }
  // Past the comment that starts at |p|; an unterminated comment runs to the end.
  const char* PastComment(const char* p) const;
  // Past the CDATA section that starts at |p|; null when it never ends.
  const char* PastCdata(const char* p) const;
  // The declaration at |*at| ("<?xml"); see the definition for the form read.
  bool Declaration(const char** at, std::string* encoding) const;
  // The quoted value that starts at |p|: the position of its closing quote, or null
  // when the scan is not sure of it. |plain| is cleared when the value holds an entity
  // or a CR (line ends are normalised before parsing).
  const char* ScanValue(const char* p, char quote, bool* plain) const;
  // The value of |attribute| as the parser gives it, into |out|.
  void Decode(const Attribute& attribute, std::string* out) const;

 private:
  const char* SkipSpaceFrom(const char* p) const;
  const char* PastEntity(const char* p) const;
  const char* DecodeEntity(const char* p, std::string* out) const;

  const std::string& text_;
  const ByteClasses classes_;
  // Where the plain run of a quoted value stops: the zero byte, quotes, '&', CR, and in
  // UTF-8 the first bytes of sequences.
  std::array<bool, 256> value_stop_{};
  bool utf8_ = false;
  const char* text_end_ = nullptr;
};

}  // namespace library::scan

#endif  // LUMORA_LIBRARY_CATALOGUE_SCAN_TEXT_H_
