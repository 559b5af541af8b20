#include "library/catalogue_scan.h"

#include <array>
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <utility>

namespace library {

namespace {

using Fields = CXmlElement::Fields;

unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

// The length TinyXML gives a character by its first byte when it reads UTF-8: 0xC2 to
// 0xDF start two bytes, 0xE0 to 0xEF three, 0xF0 to 0xF4 four, any other byte stands
// alone. The bytes after the first are taken whatever they are.
int Utf8Length(unsigned char c) {
  if (c < 0xC2) return 1;
  if (c < 0xE0) return 2;
  if (c < 0xF0) return 3;
  if (c < 0xF5) return 4;
  return 1;
}

// The white space of the depth guard (tinyxml_text::NestingExceeds). Where the guard
// must read a place as the parser does, only these may stand there.
bool IsGuardSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The bytes of a declaration's value that the scan takes: plain ASCII words such as
// "1.0", "gb2312", "UTF-8" or "yes".
bool IsDeclarationValueByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_' || c == ':';
}

// A hash of a short id for the table of EndGroup: eight bytes at a time, mixed.
std::uint64_t HashId(std::string_view id) {
  std::uint64_t hash = id.size() * 0x9E3779B97F4A7C15u;
  std::size_t i = 0;
  for (; i + 8 <= id.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, id.data() + i, sizeof word);
    hash = (hash ^ word) * 0xFF51AFD7ED558CCDu;
    hash ^= hash >> 32;
  }
  std::uint64_t tail = 0;
  for (; i < id.size(); ++i) tail = tail << 8 | Byte(id[i]);
  hash = (hash ^ tail) * 0xC4CEB9FE1A85EC53u;
  return hash ^ hash >> 29;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Whether |text| starts with |tag| letter for letter, without regard to case as the
// C library's tolower sees it: how TinyXML matches a declared encoding ("utf-8x"
// starts with "UTF-8").
bool StartsWithIgnoringCase(std::string_view text, const char* tag) {
  std::size_t i = 0;
  for (; tag[i] != '\0'; ++i)
    if (i >= text.size() || std::tolower(text[i]) != std::tolower(tag[i])) return false;
  return true;
}

// The bytes TinyXML's readers tell apart, asked of the C library in the current locale
// as TinyXML asks: white space (isspace, and CR and LF), the first byte of a name (a
// letter, '_', or any byte from 127 up) and the further bytes of a name (also digits,
// '-', '.' and ':'). The zero byte is none of them.
struct ByteClasses {
  ByteClasses() {
    for (int c = 1; c < 256; ++c) {
      space[c] = std::isspace(c) != 0 || c == '\n' || c == '\r';
      name_start[c] = (c < 127 ? std::isalpha(c) != 0 : true) || c == '_';
      name_char[c] =
          (c < 127 ? std::isalnum(c) != 0 : true) || c == '_' || c == '-' || c == '.' || c == ':';
    }
  }
  std::array<bool, 256> space{};
  std::array<bool, 256> name_start{};
  std::array<bool, 256> name_char{};
};

// One pass over a catalogue's text, mirroring TinyXML's parser on the forms it takes.
// The text is a std::string's, so a zero byte follows its last byte.
class Scanner {
 public:
  Scanner(const std::string& text, std::string_view keyword) : text_(text), keyword_(keyword) {}

  bool Read(std::vector<Fields>* matches);

 private:
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
  };
  // More attributes on one element than this are left to the model (whose check for
  // repeated names takes time quadratic in their number anyway).
  static constexpr int kMaxAttributes = 32;
  // Root, groups and items; anything deeper is left to the model.
  static constexpr int kItemDepth = 2;

  void SetUtf8(bool utf8);
  // Past the white space at |p|; most places have none or one blank.
  const char* SkipSpace(const char* p) const {
    if (!classes_.space[Byte(*p)] && Byte(*p) != 0xEF) return p;
    return SkipSpaceFrom(p);
  }
  const char* SkipSpaceFrom(const char* p) const;
  const char* PastComment(const char* p) const;
  bool Declaration(const char** at, std::string* encoding) const;
  bool Element(const char** at, int depth);
  const char* ScanValue(const char* p, char quote, bool* plain) const;
  const char* PastEntity(const char* p) const;
  const char* DecodeEntity(const char* p, std::string* out) const;
  void Decode(const Attribute& attribute, std::string* out) const;
  std::string Value(const Attribute* attributes, int count, int position) const;
  bool Contains(const Attribute* attributes, int count, int position);
  bool DistinctNames(const Attribute* attributes, int count, int depth);
  void BeginGroup(std::string id);
  void Item(std::string_view element_name, const Attribute* attributes, int count);
  void EndGroup();

  const std::string& text_;
  const std::string_view keyword_;
  const ByteClasses classes_;
  // Where the plain run of a quoted value stops: the zero byte, quotes, '&', CR, and in
  // UTF-8 the first bytes of sequences.
  std::array<bool, 256> value_stop_{};
  bool utf8_ = false;
  // Per level, the keys of the last attribute names found distinct with distinct keys:
  // an element whose keys repeat them (or a prefix of them) needs no further check.
  std::vector<std::uint32_t> keys_seen_[kItemDepth + 1];
  const char* text_end_ = nullptr;

  // The groups read, each id's first only, with their matching items.
  std::map<std::string, std::vector<Fields>> groups_;
  // The group being read: null when its id came before (the model drops it whole).
  std::vector<Fields>* group_ = nullptr;
  // The ids of its items in document order, whether they rise strictly (then none
  // repeats), and its matching items with their positions.
  std::vector<std::string_view> ids_;
  bool ids_rise_ = true;
  std::vector<std::pair<std::size_t, Fields>> pending_;
  std::deque<std::string> decoded_ids_;  // ids that differ from their bytes
  std::vector<std::uint32_t> slots_;     // a hash table of the pending ids' positions
  bool gave_up_ = false;
  std::string scratch_;
};

void Scanner::SetUtf8(bool utf8) {
  utf8_ = utf8;
  value_stop_.fill(false);
  for (char c : {'\0', '"', '\'', '&', '\r'}) value_stop_[Byte(c)] = true;
  if (utf8)
    for (int c = 0xC2; c < 0xF5; ++c) value_stop_[c] = true;
}

// TinyXML's SkipWhiteSpace: in UTF-8 the byte-order mark and the two non-characters
// EF BF BE and EF BF BF count as white space wherever it skips.
const char* Scanner::SkipSpaceFrom(const char* p) const {
  for (;;) {
    const unsigned char c = Byte(*p);
    if (classes_.space[c]) {
      ++p;
      continue;
    }
    if (utf8_ && c == 0xEF) {
      const unsigned char second = Byte(p[1]);
      if ((second == 0xBB && Byte(p[2]) == 0xBF) ||
          (second == 0xBF && (Byte(p[2]) == 0xBE || Byte(p[2]) == 0xBF))) {
        p += 3;
        continue;
      }
    }
    return p;
  }
}

// Past the comment that starts at |p|; an unterminated comment runs to the end.
const char* Scanner::PastComment(const char* p) const {
  const std::size_t from = static_cast<std::size_t>(p - text_.data()) + 4;
  const std::size_t end = std::string_view(text_).find("-->", from);
  return end == std::string_view::npos ? text_.data() + text_.size() : text_.data() + end + 3;
}

// The declaration at |*at| ("<?xml"), in the form "<?xml" (NAME="VALUE")* "?>" with
// version, encoding and standalone as names, plain words as values and only the depth
// guard's white space: that form the parser and the guard read alike.
bool Scanner::Declaration(const char** at, std::string* encoding) const {
  const char* p = *at + 5;
  for (;;) {
    while (IsGuardSpace(*p)) ++p;
    if (p[0] == '>' || (p[0] == '?' && p[1] == '>')) {
      *at = p + (p[0] == '>' ? 1 : 2);
      return true;
    }
    const char* name = p;
    while (classes_.name_char[Byte(*p)]) ++p;
    const std::string_view word(name, static_cast<std::size_t>(p - name));
    if (word != "version" && word != "encoding" && word != "standalone") return false;
    while (IsGuardSpace(*p)) ++p;
    if (*p != '=') return false;
    ++p;
    while (IsGuardSpace(*p)) ++p;
    const char quote = *p;
    if (quote != '"' && quote != '\'') return false;
    const char* value = ++p;
    while (IsDeclarationValueByte(*p)) ++p;
    if (*p != quote) return false;
    if (word == "encoding") encoding->assign(value, static_cast<std::size_t>(p - value));
    ++p;
    if (*p == '\0') return false;
  }
}

// The quoted value that starts at |p|: the position of its closing quote, or null
// when the scan is not sure of it. |plain| is cleared when the value holds an entity
// or a CR (line ends are normalised before parsing).
const char* Scanner::ScanValue(const char* p, char quote, bool* plain) const {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  *plain = true;
  for (;;) {
    // Eight bytes at a time while none of them is below '(' (which the zero byte, CR,
    // the quotes and '&' all are) nor, in UTF-8, a high byte.
    while (text_end_ - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      std::uint64_t candidates = (word - kOnes * '(') & ~word & kHighBits;
      if (utf8_) candidates |= word & kHighBits;
      if (candidates == 0) {
        p += 8;
        continue;
      }
      // The first candidate in text order (the lowest byte of the word read as little
      // endian; a big-endian machine just steps byte by byte from here).
      if constexpr (std::endian::native == std::endian::little)
        p += std::countr_zero(candidates) / 8;
      break;
    }
    if (!value_stop_[Byte(*p)]) {
      ++p;  // a byte that only looked like one that stops the run
      continue;
    }
    const char c = *p;
    if (c == quote) return p;
    switch (c) {
      case '\0':
        return nullptr;  // the parser fails at the end of the text
      case '\r':
        *plain = false;
        ++p;
        break;
      case '&':
        *plain = false;
        p = PastEntity(p);
        if (p == nullptr) return nullptr;
        break;
      case '"':
      case '\'':
        ++p;  // the other quote
        break;
      default: {
        // The first byte of a UTF-8 sequence: the parser takes the bytes after it
        // blindly, which may swallow a quote or an '&'. Only sequences whose further
        // bytes are all high bytes are taken here.
        const int length = Utf8Length(Byte(c));
        for (int k = 1; k < length; ++k)
          if (Byte(p[k]) < 0x80) return nullptr;
        p += length;
      }
    }
  }
}

// Past the entity at |p| ('&'), as TinyXML reads it: the five named entities; a
// character reference "&#DIGITS;" or "&#xHEX;" (only those of up to 9 decimal or 8 hex
// digits ending in ';': TinyXML looks for the ';' anywhere further in the text); any
// other '&' is dropped. Null when not sure.
const char* Scanner::PastEntity(const char* p) const {
  if (p[1] == '#' && p[2] != '\0') {
    const char* q = p + 2;
    int digits = 0;
    if (*q == 'x') {
      for (++q; HexDigit(*q) >= 0; ++q) ++digits;
      if (digits == 0 || digits > 8) return nullptr;
    } else {
      for (; *q >= '0' && *q <= '9'; ++q) ++digits;
      if (digits == 0 || digits > 9) return nullptr;
    }
    return *q == ';' ? q + 1 : nullptr;
  }
  for (const char* entity : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"}) {
    const std::size_t length = std::strlen(entity);
    if (std::strncmp(p, entity, length) == 0) return p + length;
  }
  return p + 1;
}

// Appends what the entity at |p| stands for; returns the position after it. The entity
// was checked by PastEntity.
const char* Scanner::DecodeEntity(const char* p, std::string* out) const {
  if (p[1] == '#') {
    const char* q = p + 2;
    unsigned long code = 0;
    if (*q == 'x') {
      for (++q; *q != ';'; ++q) code = code * 16 + static_cast<unsigned long>(HexDigit(*q));
    } else {
      for (; *q != ';'; ++q) code = code * 10 + static_cast<unsigned long>(*q - '0');
    }
    if (!utf8_) {
      out->push_back(static_cast<char>(code));  // the low byte, as TinyXML keeps it
    } else if (code < 0x80) {
      out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (code >> 6)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (code >> 12)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x200000) {
      out->push_back(static_cast<char>(0xF0 | (code >> 18)));
      out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }  // larger codes give nothing
    return q + 1;
  }
  static constexpr struct {
    const char* text;
    std::size_t length;
    char value;
  } kNamed[] = {{"&amp;", 5, '&'},
                {"&lt;", 4, '<'},
                {"&gt;", 4, '>'},
                {"&quot;", 6, '"'},
                {"&apos;", 6, '\''}};
  for (const auto& entity : kNamed) {
    if (std::strncmp(p, entity.text, entity.length) == 0) {
      out->push_back(entity.value);
      return p + entity.length;
    }
  }
  return p + 1;  // an '&' that starts no entity is dropped
}

void Scanner::Decode(const Attribute& attribute, std::string* out) const {
  out->clear();
  const char* p = attribute.value;
  while (p < attribute.value_end) {
    const char c = *p;
    if (c == '\r') {
      out->push_back('\n');  // CR LF and a lone CR become LF
      p += p[1] == '\n' ? 2 : 1;
    } else if (c == '&') {
      p = DecodeEntity(p, out);
    } else {
      const int length = utf8_ ? Utf8Length(Byte(c)) : 1;
      out->append(p, static_cast<std::size_t>(length));
      p += length;
    }
  }
}

// The value at |position|; empty when the element has fewer attributes.
std::string Scanner::Value(const Attribute* attributes, int count, int position) const {
  if (position >= count) return std::string();
  const Attribute& a = attributes[position];
  if (a.plain) return std::string(a.value, a.value_end);
  std::string value;
  Decode(a, &value);
  return value;
}

bool Scanner::Contains(const Attribute* attributes, int count, int position) {
  if (position >= count) return keyword_.empty();
  const Attribute& a = attributes[position];
  if (a.plain)
    return std::string_view(a.value, static_cast<std::size_t>(a.value_end - a.value))
               .find(keyword_) != std::string_view::npos;
  Decode(a, &scratch_);
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
  const char* p = SkipSpace(*at + 1);
  const char* name = p;
  if (!classes_.name_start[Byte(*p)]) return false;
  while (classes_.name_char[Byte(*p)]) ++p;
  const std::string_view element_name(name, static_cast<std::size_t>(p - name));

  Attribute attributes[kMaxAttributes];
  int count = 0;
  bool empty = false;
  for (;;) {
    p = SkipSpace(p);
    if (*p == '/') {
      if (p[1] != '>') return false;
      p += 2;
      empty = true;
      break;
    }
    if (*p == '>') {
      ++p;
      break;
    }
    if (!classes_.name_start[Byte(*p)] || count == kMaxAttributes) return false;
    Attribute& a = attributes[count++];
    a.name = p;
    while (classes_.name_char[Byte(*p)]) ++p;
    a.name_length = static_cast<std::uint32_t>(p - a.name);
    a.key = a.name_length << 16 | static_cast<std::uint32_t>(Byte(a.name[0])) << 8 | Byte(p[-1]);
    p = SkipSpace(p);
    if (*p != '=') return false;
    ++p;
    // The parser steps over any white space before the quote; the depth guard takes a
    // quote for the start of a value only after '=' and its own white space.
    while (IsGuardSpace(*p)) ++p;
    const char quote = *p;
    if (quote != '"' && quote != '\'') return false;  // unquoted values are left to the model
    a.value = p + 1;
    a.value_end = ScanValue(a.value, quote, &a.plain);
    if (a.value_end == nullptr) return false;
    p = a.value_end + 1;
    if (*p == '\0') return false;
  }
  if (!DistinctNames(attributes, count, depth)) return false;

  if (depth == 1) {
    std::string id = Value(attributes, count, 0);
    id.resize(std::strlen(id.c_str()));  // the model makes a group from the id's C string
    BeginGroup(std::move(id));
  } else if (depth == kItemDepth) {
    Item(element_name, attributes, count);
  }

  if (!empty) {
    p = SkipSpace(p);
    while (*p != '\0') {
      if (*p != '<') return false;  // text
      if (p[1] == '/') break;
      if (depth < kItemDepth && classes_.name_start[Byte(p[1])]) {
        if (!Element(&p, depth + 1)) return false;
      } else if (std::strncmp(p, "<!--", 4) == 0) {
        p = PastComment(p);
      } else if (std::strncmp(p, "<![CDATA[", 9) == 0) {
        const std::size_t end =
            std::string_view(text_).find("]]>", static_cast<std::size_t>(p - text_.data()) + 9);
        if (end == std::string_view::npos) return false;
        p = text_.data() + end + 3;
        if (*p == '\0') return false;
      } else {
        return false;  // a declaration, "<!" or "<?" markup, or elements below the items
      }
      p = SkipSpace(p);
    }
    if (*p == '\0') return false;
    // The end tag: "</", the name, white space, '>'.
    p += 2;
    for (const char c : element_name)
      if (*p++ != c) return false;  // the zero byte at the end differs from every name byte
    p = SkipSpace(p);
    if (*p != '>') return false;
    ++p;
  }
  if (depth == 1) {
    EndGroup();
    if (gave_up_) return false;
  }
  *at = p;
  return true;
}

void Scanner::BeginGroup(std::string id) {
  auto [entry, first] = groups_.try_emplace(std::move(id));
  group_ = first ? &entry->second : nullptr;
  ids_.clear();
  ids_rise_ = true;
  pending_.clear();
  decoded_ids_.clear();
}

void Scanner::Item(std::string_view element_name, const Attribute* attributes, int count) {
  if (group_ == nullptr) return;
  std::string_view id;
  if (count > 0 && attributes[0].plain) {
    id = std::string_view(attributes[0].value,
                          static_cast<std::size_t>(attributes[0].value_end - attributes[0].value));
  } else if (count > 0) {
    Decode(attributes[0], &decoded_ids_.emplace_back());
    id = decoded_ids_.back();
  }
  if (ids_rise_ && !ids_.empty() && !(ids_.back() < id)) ids_rise_ = false;
  ids_.push_back(id);
  if (!Contains(attributes, count, 1) && !Contains(attributes, count, 3)) return;
  Fields fields{std::string(element_name),   std::string(id),
                Value(attributes, count, 1), Value(attributes, count, 2),
                Value(attributes, count, 3), Value(attributes, count, 4),
                Value(attributes, count, 5), Value(attributes, count, 6),
                Value(attributes, count, 7), Value(attributes, count, 8)};
  pending_.emplace_back(ids_.size() - 1, std::move(fields));
}

// A group's matches are its items that match and came first with their id. When the
// ids did not rise, the matches' ids go into a small hash table (a match whose id is
// there already is hidden by that earlier one), and each id before the last match is
// looked up in it: an earlier item of the same id hides a match. Ids made to collide
// would make that slow: past a bound on the probes the scan gives the file up.
void Scanner::EndGroup() {
  if (group_ == nullptr) return;
  if (!ids_rise_ && !pending_.empty()) {
    std::size_t size = 8;
    while (size < pending_.size() * 2) size *= 2;
    const std::size_t mask = size - 1;
    slots_.assign(size, 0);  // 0 is free, else a position in pending_ plus one
    const std::size_t last = pending_.back().first;
    std::size_t probes_left = 16 * (last + pending_.size()) + 1024;
    std::vector<bool> hidden(pending_.size(), false);
    for (std::size_t k = 0; k < pending_.size(); ++k) {
      const std::string_view id = ids_[pending_[k].first];
      std::size_t slot = HashId(id) & mask;
      for (; slots_[slot] != 0 && !hidden[k]; slot = (slot + 1) & mask) {
        if (probes_left-- == 0) {
          gave_up_ = true;
          return;
        }
        hidden[k] = ids_[pending_[slots_[slot] - 1].first] == id;
      }
      if (!hidden[k]) slots_[slot] = static_cast<std::uint32_t>(k + 1);
    }
    for (std::size_t i = 0; i < last; ++i) {
      for (std::size_t slot = HashId(ids_[i]) & mask; slots_[slot] != 0; slot = (slot + 1) & mask) {
        if (probes_left-- == 0) {
          gave_up_ = true;
          return;
        }
        const std::size_t k = slots_[slot] - 1;
        if (pending_[k].first > i && ids_[pending_[k].first] == ids_[i]) hidden[k] = true;
      }
    }
    for (std::size_t k = 0; k < pending_.size(); ++k)
      if (!hidden[k]) group_->push_back(std::move(pending_[k].second));
  } else {
    for (auto& [position, fields] : pending_) group_->push_back(std::move(fields));
  }
  group_ = nullptr;
}

bool Scanner::Read(std::vector<Fields>* matches) {
  // The parser's text ends at its first zero byte, while the depth guard reads all of
  // it: such a file is left to the model.
  if (std::memchr(text_.data(), 0, text_.size()) != nullptr) return false;
  const char* p = text_.c_str();
  text_end_ = p + text_.size();
  // A byte-order mark makes the text UTF-8 whatever is declared; without one the first
  // declaration decides, and without a declaration every byte stands alone.
  const bool mark = Byte(p[0]) == 0xEF && Byte(p[1]) == 0xBB && Byte(p[2]) == 0xBF;
  SetUtf8(mark);
  p = SkipSpace(p);
  bool root = false;
  bool declaration = false;
  while (*p != '\0') {
    if (*p != '<') return false;  // text: the parser stops, the depth guard reads on
    if (std::strncmp(p, "<?xml", 5) == 0) {
      if (root || declaration) return false;
      declaration = true;
      std::string encoding;
      if (!Declaration(&p, &encoding)) return false;
      if (!mark)
        SetUtf8(encoding.empty() || StartsWithIgnoringCase(encoding, "UTF-8") ||
                StartsWithIgnoringCase(encoding, "UTF8"));
    } else if (std::strncmp(p, "<!--", 4) == 0) {
      p = PastComment(p);
    } else if (!root && classes_.name_start[Byte(p[1])]) {
      root = true;
      if (!Element(&p, 0)) return false;
    } else {
      return false;
    }
    p = SkipSpace(p);
  }
  if (!root) return false;
  for (auto& [id, group] : groups_)
    for (Fields& fields : group) matches->push_back(std::move(fields));
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
