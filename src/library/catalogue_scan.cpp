// The catalogue scan: one pass over a catalogue's text, element by element, mirroring
// TinyXML's parser on the forms it takes (the bytes themselves are read by
// catalogue_scan_text, the matches kept by catalogue_scan_groups).
#include "library/catalogue_scan.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "library/catalogue_scan_groups.h"
#include "library/catalogue_scan_text.h"

namespace library {

namespace {

using Fields = CXmlElement::Fields;
using scan::Attribute;
using scan::Byte;
using scan::IsGuardSpace;

// Whether |text| starts with |tag| letter for letter, without regard to case as the
// C library's tolower sees it: how TinyXML matches a declared encoding ("utf-8x"
// starts with "UTF-8").
bool StartsWithIgnoringCase(std::string_view text, const char* tag) {
  std::size_t i = 0;
  for (; tag[i] != '\0'; ++i)
    if (i >= text.size() || std::tolower(text[i]) != std::tolower(tag[i])) return false;
  return true;
}

// One pass over a catalogue's text, mirroring TinyXML's parser on the forms it takes.
// The text is a std::string's, so a zero byte follows its last byte.
class Scanner {
 public:
  Scanner(const std::string& text, std::string_view keyword) : text_(text), keyword_(keyword) {}

  bool Read(std::vector<Fields>* matches);

 private:
  // More attributes on one element than this are left to the model (whose check for
  // repeated names takes time quadratic in their number anyway).
  static constexpr int kMaxAttributes = 32;
  // Root, groups and items; anything deeper is left to the model.
  static constexpr int kItemDepth = 2;

  bool Element(const char** at, int depth);
  bool StartTag(const char** at, std::string_view* name, Attribute* attributes, int* count,
                bool* empty) const;
  bool ReadAttribute(const char** at, Attribute* a) const;
  bool Content(const char** at, int depth);
  bool EndTag(const char** at, std::string_view name) const;
  std::string Value(const Attribute* attributes, int count, int position) const;
  bool Contains(const Attribute* attributes, int count, int position);
  bool DistinctNames(const Attribute* attributes, int count, int depth);
  void BeginGroup(const Attribute* attributes, int count);
  void Item(std::string_view element_name, const Attribute* attributes, int count);

  scan::ScanText text_;
  const std::string_view keyword_;
  // Per level, the keys of the last attribute names found distinct with distinct keys:
  // an element whose keys repeat them (or a prefix of them) needs no further check.
  std::vector<std::uint32_t> keys_seen_[kItemDepth + 1];
  scan::GroupMatches groups_;
  std::string scratch_;
};

// The value at |position|; empty when the element has fewer attributes.
std::string Scanner::Value(const Attribute* attributes, int count, int position) const {
  if (position >= count) return std::string();
  const Attribute& a = attributes[position];
  if (a.plain) return std::string(a.value, a.value_end);
  std::string value;
  text_.Decode(a, &value);
  return value;
}

bool Scanner::Contains(const Attribute* attributes, int count, int position) {
  if (position >= count) return keyword_.empty();
  const Attribute& a = attributes[position];
  if (a.plain) return a.Bytes().find(keyword_) != std::string_view::npos;
  text_.Decode(a, &scratch_);
  return std::string_view(scratch_).find(keyword_) != std::string_view::npos;
}

// TinyXML refuses an element with two attributes of the same name.
bool Scanner::DistinctNames(const Attribute* attributes, int count, int depth) {
  std::vector<std::uint32_t>& seen = keys_seen_[depth];
  if (static_cast<std::size_t>(count) <= seen.size()) {
    int i = 0;
    while (i < count && attributes[i].key == seen[static_cast<std::size_t>(i)]) ++i;
    if (i == count) return true;
  }
  bool distinct_keys = true;
  for (int i = 1; i < count; ++i) {
    for (int j = 0; j < i; ++j) {
      if (attributes[i].key != attributes[j].key) continue;
      if (attributes[i].Name() == attributes[j].Name()) return false;
      distinct_keys = false;
    }
  }
  if (distinct_keys) {
    seen.clear();
    for (int i = 0; i < count; ++i) seen.push_back(attributes[i].key);
  }
  return true;
}

// The element at |*at| (a '<' followed by the first byte of a name) with everything
// in it, at |depth| (0 the root).
bool Scanner::Element(const char** at, int depth) {
  const char* p = *at;
  std::string_view element_name;
  Attribute attributes[kMaxAttributes];
  int count = 0;
  bool empty = false;
  if (!StartTag(&p, &element_name, attributes, &count, &empty)) return false;
  if (!DistinctNames(attributes, count, depth)) return false;

  if (depth == 1)
    BeginGroup(attributes, count);
  else if (depth == kItemDepth)
    Item(element_name, attributes, count);

  if (!empty && (!Content(&p, depth) || !EndTag(&p, element_name))) return false;
  if (depth == 1 && !groups_.End()) return false;
  *at = p;
  return true;
}

// The start tag at |*at|: its name, its attributes, and whether it closes itself.
bool Scanner::StartTag(const char** at, std::string_view* name, Attribute* attributes, int* count,
                       bool* empty) const {
  const char* p = text_.SkipSpace(*at + 1);
  const char* first = p;
  if (!text_.classes().name_start[Byte(*p)]) return false;
  while (text_.classes().name_char[Byte(*p)]) ++p;
  *name = std::string_view(first, static_cast<std::size_t>(p - first));
  for (;;) {
    p = text_.SkipSpace(p);
    if (*p == '/') {
      if (p[1] != '>') return false;
      *at = p + 2;
      *empty = true;
      return true;
    }
    if (*p == '>') {
      *at = p + 1;
      return true;
    }
    if (!text_.classes().name_start[Byte(*p)] || *count == kMaxAttributes) return false;
    if (!ReadAttribute(&p, &attributes[(*count)++])) return false;
  }
}

// The attribute at |*at| (the first byte of its name): NAME = "VALUE" or 'VALUE'.
bool Scanner::ReadAttribute(const char** at, Attribute* a) const {
  const char* p = *at;
  a->name = p;
  while (text_.classes().name_char[Byte(*p)]) ++p;
  a->name_length = static_cast<std::uint32_t>(p - a->name);
  a->key = a->name_length << 16 | static_cast<std::uint32_t>(Byte(a->name[0])) << 8 | Byte(p[-1]);
  p = text_.SkipSpace(p);
  if (*p != '=') return false;
  ++p;
  // The parser steps over any white space before the quote; the depth guard takes a
  // quote for the start of a value only after '=' and its own white space.
  while (IsGuardSpace(*p)) ++p;
  const char quote = *p;
  if (quote != '"' && quote != '\'') return false;  // unquoted values are left to the model
  a->value = p + 1;
  a->value_end = text_.ScanValue(a->value, quote, &a->plain);
  if (a->value_end == nullptr) return false;
  p = a->value_end + 1;
  if (*p == '\0') return false;
  *at = p;
  return true;
}

// What stands between an element's start tag and its end tag at |*at|: elements down to
// the items, comments and CDATA sections, with white space between. Stops at "</".
bool Scanner::Content(const char** at, int depth) {
  const char* p = text_.SkipSpace(*at);
  while (*p != '\0') {
    if (*p != '<') return false;  // text
    if (p[1] == '/') break;
    if (depth < kItemDepth && text_.classes().name_start[Byte(p[1])]) {
      if (!Element(&p, depth + 1)) return false;
    } else if (std::strncmp(p, "<!--", 4) == 0) {
      p = text_.PastComment(p);
    } else if (std::strncmp(p, "<![CDATA[", 9) == 0) {
      p = text_.PastCdata(p);
      if (p == nullptr || *p == '\0') return false;
    } else {
      return false;  // a declaration, "<!" or "<?" markup, or elements below the items
    }
    p = text_.SkipSpace(p);
  }
  if (*p == '\0') return false;
  *at = p;
  return true;
}

// The end tag at |*at| ("</"): the element's |name|, white space, '>'.
bool Scanner::EndTag(const char** at, std::string_view name) const {
  const char* p = *at + 2;
  for (const char c : name)
    if (*p++ != c) return false;  // the zero byte at the end differs from every name byte
  p = text_.SkipSpace(p);
  if (*p != '>') return false;
  *at = p + 1;
  return true;
}

// A group element: its first attribute's value is its id.
void Scanner::BeginGroup(const Attribute* attributes, int count) {
  std::string id = Value(attributes, count, 0);
  id.resize(std::strlen(id.c_str()));  // the model makes a group from the id's C string
  groups_.Begin(std::move(id));
}

void Scanner::Item(std::string_view element_name, const Attribute* attributes, int count) {
  if (!groups_.Open()) return;
  std::string_view id;
  if (count > 0 && attributes[0].plain) {
    id = attributes[0].Bytes();
  } else if (count > 0) {
    std::string decoded;
    text_.Decode(attributes[0], &decoded);
    id = groups_.KeepId(std::move(decoded));
  }
  groups_.AddItem(id);
  if (!Contains(attributes, count, 1) && !Contains(attributes, count, 3)) return;
  groups_.AddMatch(Fields{std::string(element_name), std::string(id), Value(attributes, count, 1),
                          Value(attributes, count, 2), Value(attributes, count, 3),
                          Value(attributes, count, 4), Value(attributes, count, 5),
                          Value(attributes, count, 6), Value(attributes, count, 7),
                          Value(attributes, count, 8)});
}

bool Scanner::Read(std::vector<Fields>* matches) {
  // The parser's text ends at its first zero byte, while the depth guard reads all of
  // it: such a file is left to the model.
  const std::string& text = text_.text();
  if (std::memchr(text.data(), 0, text.size()) != nullptr) return false;
  const char* p = text.c_str();
  // A byte-order mark makes the text UTF-8 whatever is declared; without one the first
  // declaration decides, and without a declaration every byte stands alone.
  const bool mark = Byte(p[0]) == 0xEF && Byte(p[1]) == 0xBB && Byte(p[2]) == 0xBF;
  text_.SetUtf8(mark);
  p = text_.SkipSpace(p);
  bool root = false;
  bool declaration = false;
  while (*p != '\0') {
    if (*p != '<') return false;  // text: the parser stops, the depth guard reads on
    if (std::strncmp(p, "<?xml", 5) == 0) {
      if (root || declaration) return false;
      declaration = true;
      std::string encoding;
      if (!text_.Declaration(&p, &encoding)) return false;
      if (!mark)
        text_.SetUtf8(encoding.empty() || StartsWithIgnoringCase(encoding, "UTF-8") ||
                      StartsWithIgnoringCase(encoding, "UTF8"));
    } else if (std::strncmp(p, "<!--", 4) == 0) {
      p = text_.PastComment(p);
    } else if (!root && text_.classes().name_start[Byte(p[1])]) {
      root = true;
      if (!Element(&p, 0)) return false;
    } else {
      return false;
    }
    p = text_.SkipSpace(p);
  }
  if (!root) return false;
  groups_.TakeMatches(matches);
  return true;
}

}  // namespace

CatalogueScan::Result CatalogueScan::FindMatches(const std::string& text, std::string_view keyword,
                                                 std::vector<CXmlElement::Fields>* matches) {
  matches->clear();
  Scanner scanner(text, keyword);
  if (scanner.Read(matches)) return Result::kRead;
  matches->clear();
  return Result::kNotSure;
}

}  // namespace library
