#include "fields/field_list.h"

#include <gtest/gtest.h>

namespace fields {

namespace {

TEST(FieldListTest, ReadsValuesByPositionIgnoringKeys) {
  std::string a, b, c;
  EXPECT_TRUE(ReadFieldList("x=1|anything=two|=3", {{&a, 64}, {&b, 64}, {&c, 64}}));
  EXPECT_EQ(a, "1");
  EXPECT_EQ(b, "two");
  EXPECT_EQ(c, "3");
  // The last field ends at the next "|" when there is one.
  EXPECT_TRUE(ReadFieldList("k=v|k=last|k=more", {{&a, 64}, {&b, 64}}));
  EXPECT_EQ(b, "last");
  // Values are neither trimmed nor unescaped; an "=" inside a value stays.
  EXPECT_TRUE(ReadFieldList("k= a=b |k=%20", {{&a, 64}, {&b, 64}}));
  EXPECT_EQ(a, " a=b ");
  EXPECT_EQ(b, "%20");
}

TEST(FieldListTest, MissingSeparatorsStopReadingAndReportFailure) {
  std::string a = "old", b = "old", c = "old";
  // No "|" after the first field: nothing is read.
  EXPECT_FALSE(ReadFieldList("k=1", {{&a, 64}, {&b, 64}}));
  EXPECT_EQ(a, "");
  EXPECT_EQ(b, "");
  // Two of three fields: the first two keep their values.
  EXPECT_FALSE(ReadFieldList("k=1|k=2|", {{&a, 64}, {&b, 64}, {&c, 64}}));
  EXPECT_EQ(a, "1");
  EXPECT_EQ(b, "2");
  EXPECT_EQ(c, "");
  // No "=" at all.
  EXPECT_FALSE(ReadFieldList("no equals here", {{&a, 64}}));
  EXPECT_EQ(a, "");
  // An empty text with one field.
  EXPECT_FALSE(ReadFieldList("", {{&a, 64}}));
}

TEST(FieldListTest, LongValuesAreCutToTheirBuffer) {
  std::string a, b;
  const std::string long_value(300, 'x');
  EXPECT_TRUE(ReadFieldList("k=" + long_value + "|k=" + long_value, {{&a, 64}, {&b, 256}}));
  EXPECT_EQ(a, std::string(63, 'x'));
  EXPECT_EQ(b, std::string(255, 'x'));
  // A cut never splits a double-byte character: 62 bytes of ASCII and one of two bytes
  // leave 62 bytes in a 64-byte field.
  std::string text = "k=" + std::string(62, 'y') + "\xCE\xD2";
  EXPECT_TRUE(ReadFieldList(text, {{&a, 64}}));
  EXPECT_EQ(a, std::string(62, 'y'));
  // The buffer of 12 of the download state.
  EXPECT_TRUE(ReadFieldList("s=falsefalsefalse", {{&a, 12}}));
  EXPECT_EQ(a, "falsefalsef");
}

// Hostile argument texts from the movie.
TEST(FieldListHostileTest, TrailBytesThatLookLikeSeparatorsStayInTheirCharacter) {
  std::string a, b;
  // 東 is 96 7C in the code page: its second byte is "|". It belongs to the keyword.
  EXPECT_TRUE(ReadFieldList("k=\x96\x7C|k=x", {{&a, 64}, {&b, 64}}));
  EXPECT_EQ(a, "\x96\x7C");
  EXPECT_EQ(b, "x");
  // The same character in a key, and as the last value, with no real "|" after it.
  EXPECT_TRUE(ReadFieldList("\x96\x7C=1|\x96\x7C=\x96\x7C\x96\x7C", {{&a, 64}, {&b, 64}}));
  EXPECT_EQ(a, "1");
  EXPECT_EQ(b, "\x96\x7C\x96\x7C");
  // A lone lead byte at the end does not swallow anything beyond the text.
  EXPECT_TRUE(ReadFieldList("k=a\x96", {{&a, 64}}));
  EXPECT_EQ(a, "a\x96");
}

}  // namespace

}  // namespace fields
