// Replies of the web services, from UTF-8 to the code page, and the parts of a URL.
#include "net/reply_body.h"

#include <gtest/gtest.h>

#include "base/ansi.h"
#include "net/request.h"

namespace {

std::string Gb(const char* utf8) { return ansi::FromUtf8Lossy(utf8); }

TEST(ReplyBodyTest, OneThreeAndWellFormedTwoAndFourByteSequences) {
  EXPECT_EQ(net::ReplyBodyToAnsi("plain <Code>0</Code>"), "plain <Code>0</Code>");
  // E4 B8 AD is U+4E2D 中, two bytes in the code page.
  EXPECT_EQ(net::ReplyBodyToAnsi("\xE4\xB8\xAD"), "\xD6\xD0");
  // Two-byte UTF-8 (é, U+00E9) is a character too, and what follows it survives.
  EXPECT_EQ(net::ReplyBodyToAnsi("caf\xC3\xA9!"), "caf" + Gb("é") + "!");
  // Four-byte UTF-8 (U+1F600) becomes its four code-page bytes.
  EXPECT_EQ(net::ReplyBodyToAnsi("<\xF0\x9F\x98\x80>"), "<" + Gb("\xF0\x9F\x98\x80") + ">");
  EXPECT_EQ(Gb("\xF0\x9F\x98\x80").size(), 4u);
  // A character outside the double-byte set (U+20AC €, U+00B7 ·) keeps its bytes.
  EXPECT_EQ(net::ReplyBodyToAnsi("\xE2\x82\xAC"), Gb("€"));
}

TEST(ReplyBodyTest, CutAndMalformedSequencesGiveAQuestionMarkAndReadingGoesOn) {
  EXPECT_EQ(net::ReplyBodyToAnsi("a\xE4\xB8"), "a?");  // cut at the end
  EXPECT_EQ(net::ReplyBodyToAnsi("a\xE4\xB8"
                                 "b"),
            "a?b");  // cut before a letter
  EXPECT_EQ(net::ReplyBodyToAnsi("\xE4"
                                 "A\xB8"
                                 "B"),
            "?A?B");                                          // not continuations
  EXPECT_EQ(net::ReplyBodyToAnsi("\x80\x80x\xFFy"), "?x?y");  // stray bytes
  EXPECT_EQ(net::ReplyBodyToAnsi("\xED\xA0\x80z"), "?z");     // a lone surrogate
  // After a broken sequence, the next character is read whole.
  EXPECT_EQ(net::ReplyBodyToAnsi("\xF0\x9F\xE4\xB8\xAD"), "?\xD6\xD0");
  // The text ends at its first zero byte.
  EXPECT_EQ(net::ReplyBodyToAnsi(std::string("ab\0cd", 5)), "ab");
}

TEST(ParseUrlTest, SchemeHostPathAndPort) {
  std::string scheme, host, path;
  int port = 0;
  net::ParseUrl("http://server/Path?a=B", &scheme, &host, &path, &port);
  EXPECT_EQ(scheme, "HTTP");
  EXPECT_EQ(host, "SERVER");
  EXPECT_EQ(path, "/Path?a=B");
  EXPECT_EQ(port, 80);
  net::ParseUrl("http://host.example:8080", &scheme, &host, &path, &port);
  EXPECT_EQ(host, "HOST.EXAMPLE");
  EXPECT_EQ(path, "");
  EXPECT_EQ(port, 8080);
  // https goes to 443 unless the URL names a port.
  net::ParseUrl("https://secure.example/x", &scheme, &host, &path, &port);
  EXPECT_EQ(scheme, "HTTPS");
  EXPECT_EQ(port, 443);
  net::ParseUrl("HTTPS://secure.example:8443/x", &scheme, &host, &path, &port);
  EXPECT_EQ(port, 8443);
  // Without a scheme but with a port, the text before the colon is taken as scheme.
  net::ParseUrl("host:8080/x", &scheme, &host, &path, &port);
  EXPECT_EQ(scheme, "HOST");
  net::ParseUrl("server/x", &scheme, &host, &path, &port);
  EXPECT_EQ(scheme, "HTTP");
  EXPECT_EQ(host, "SERVER");
  EXPECT_EQ(path, "/x");
  // Parts longer than their buffers are cut.
  net::ParseUrl("http://" + std::string(300, 'h') + "/" + std::string(2000, 'p'), &scheme, &host,
                &path, &port);
  EXPECT_EQ(host.size(), 255u);
  EXPECT_EQ(path.size(), 1023u);
  EXPECT_EQ(path.substr(0, 2), "/p");
}

TEST(ParseUrlTest, APortOutOfRangeIsNone) {
  std::string scheme, host, path;
  int port = 80;
  // The host characters include '-': a negative number once came back as the port.
  for (const char* url : {"http://h:-2222/", "http://h:99999/", "http://h:0/", "http://h:/",
                          "http://h:x/", "http://h:4294967376/"}) {
    net::ParseUrl(url, &scheme, &host, &path, &port);
    EXPECT_EQ(port, 0) << url;
    EXPECT_EQ(host, "H") << url;
  }
  net::ParseUrl("http://h:65535/", &scheme, &host, &path, &port);
  EXPECT_EQ(port, 65535);
}

}  // namespace
