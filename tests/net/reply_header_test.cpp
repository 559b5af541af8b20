// The header block of a reply, read byte by byte up to its empty line, and the values
// read out of a service's reply by key.
#include "net/reply_header.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "base/ansi.h"
#include "net/reply_value.h"

namespace {

// Feeds |reply| to a header block; the bytes taken until the block said it was complete
// (all of them when it never did).
std::string HeaderOf(std::string_view reply, bool* complete) {
  net::ReplyHeader header;
  *complete = false;
  for (char c : reply)
    if (header.Add(c)) {
      *complete = true;
      break;
    }
  return header.Take();
}

TEST(ReplyHeaderTest, TheBlockEndsAtTheFirstEmptyLineWithOrWithoutCarriageReturns) {
  bool complete;
  EXPECT_EQ(HeaderOf("HTTP/1.0 200 OK\r\nA: b\r\n\r\nbody\r\n\r\n", &complete),
            "HTTP/1.0 200 OK\r\nA: b\r\n\r\n");
  EXPECT_TRUE(complete);
  EXPECT_EQ(HeaderOf("HTTP/1.0 200 OK\n\nbody", &complete), "HTTP/1.0 200 OK\n\n");
  EXPECT_TRUE(complete);
  // A line of carriage returns alone is empty too.
  EXPECT_EQ(HeaderOf("X\r\n\r\r\nbody", &complete), "X\r\n\r\r\n");
  EXPECT_TRUE(complete);
  // A leading empty line ends the block at once.
  EXPECT_EQ(HeaderOf("\r\nHTTP/1.0 200 OK\r\n\r\n", &complete), "\r\n");
  EXPECT_TRUE(complete);
}

TEST(ReplyHeaderTest, AReplyWithoutAnEmptyLineIsAllHeader) {
  bool complete;
  EXPECT_EQ(HeaderOf("HTTP/1.0 500\r\nX: y\r\n", &complete), "HTTP/1.0 500\r\nX: y\r\n");
  EXPECT_FALSE(complete);
  // A line of spaces is no empty line.
  EXPECT_EQ(HeaderOf("A\r\n \r\nB", &complete), "A\r\n \r\nB");
  EXPECT_FALSE(complete);
}

TEST(ReplyValueTest, TheValueAfterTheKeysFirstOccurrenceUpToTheNextTag) {
  const std::string reply = "<Result><Code>0</Code><UserID>42</UserID></Result>";
  EXPECT_EQ(net::ReplyValue(reply, "Code"), "0");
  EXPECT_EQ(net::ReplyValue(reply, "UserID"), "42");
  // Only the first occurrence counts, wherever it stands.
  EXPECT_EQ(net::ReplyValue("<a x=\"Code\">1</a><Code>0</Code>", "Code"), "1");
  // A missing key, ">" or "<" gives nothing.
  EXPECT_EQ(net::ReplyValue(reply, "PID"), "");
  EXPECT_EQ(net::ReplyValue("Code", "Code"), "");
  EXPECT_EQ(net::ReplyValue("<Code>0", "Code"), "");
}

TEST(ReplyValueTest, ALongValueIsCutBetweenCharacters) {
  const std::string long_ascii(100, 'x');
  EXPECT_EQ(net::ReplyValue("<Code>" + long_ascii + "</Code>", "Code"),
            std::string(net::kReplyValueBytes, 'x'));
  // 62 bytes and then a double-byte character: the character does not fit in 63 bytes.
  const std::string east = ansi::FromUtf8Lossy("東");
  ASSERT_EQ(east.size(), 2u);
  const std::string value = std::string(62, 'y') + east + "z";
  EXPECT_EQ(net::ReplyValue("<Code>" + value + "</Code>", "Code"), std::string(62, 'y'));
}

}  // namespace
