#include "base/ansi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

std::string Ansi(const std::string& utf8) {
  std::string out;
  EXPECT_TRUE(ansi::FromUtf8(utf8, &out)) << utf8;
  return out;
}

TEST(AnsiTest, ShelfGroupsSortInGbkByteOrder) {
  std::vector<std::string> groups = {Ansi("正在下载"), Ansi("已阅读"), Ansi("我的收藏"),
                                     Ansi("已下载"), Ansi("已购买")};
  std::sort(groups.begin(), groups.end());
  std::vector<std::string> expected = {Ansi("我的收藏"), Ansi("已购买"), Ansi("已下载"),
                                       Ansi("已阅读"), Ansi("正在下载")};
  EXPECT_EQ(groups, expected);
  // The bytes are GBK's: 我 is CE D2.
  EXPECT_EQ(Ansi("我"), "\xCE\xD2");
  // In UTF-8 the order differs, which is why the core keeps the code page's bytes.
  EXPECT_GT(std::string("我的收藏"), std::string("已购买"));
}

TEST(AnsiTest, TrailBytesAreNeverTakenForSeparatorsOrLetters) {
  // 0x81 0x5C is one GBK character whose trail byte is a backslash.
  const std::string text = std::string("dir\\name") + "\x81\x5C" + "tail";
  std::size_t sep = ansi::FindLastSeparator(text, '\\');
  EXPECT_EQ(sep, 3u);
  // A trail byte that looks like an upper-case letter is kept as it is.
  EXPECT_EQ(ansi::Lower("AB\x81\x41.PDF"), "ab\x81\x41.pdf");
  EXPECT_EQ(ansi::AfterLastSeparator("a/b/\xCE\xD2.txt"), "\xCE\xD2.txt");
  EXPECT_EQ(ansi::AfterLastSeparator("plain"), "plain");
}

TEST(AnsiTest, TextOutsideGb2312RoundTrips) {
  for (const std::string utf8 : {"€ 😀 𠀀 ḁ", "鿿龥䶵", "مرحبا", "plain ascii"}) {
    std::string text = Ansi(utf8);
    std::string back;
    ASSERT_TRUE(ansi::ToUtf8(text, &back));
    EXPECT_EQ(back, utf8);
    std::u16string wide;
    ASSERT_TRUE(ansi::ToUtf16(text, &wide));
    std::string again;
    ASSERT_TRUE(ansi::FromUtf16(wide, &again));
    EXPECT_EQ(again, text);
  }
  // An emoji takes a four-byte sequence, stepped over as one character.
  std::string emoji = Ansi("😀");
  ASSERT_EQ(emoji.size(), 4u);
  EXPECT_EQ(ansi::CharLength(emoji, 0), 4u);
  EXPECT_EQ(ansi::NextChar("a" + emoji + "b", 1), 5u);
}

TEST(AnsiTest, CuttingNeverSplitsACharacter) {
  std::string text = "ab" + Ansi("我的");  // 2 + 2 + 2 bytes
  EXPECT_EQ(ansi::CutToBytes(text, 6), text);
  EXPECT_EQ(ansi::CutToBytes(text, 5), "ab" + Ansi("我"));
  EXPECT_EQ(ansi::CutToBytes(text, 3), "ab");
  EXPECT_EQ(ansi::CutToBytes(text, 0), "");
}

TEST(AnsiTest, InvalidInputIsRefusedOrReplaced) {
  std::string out = "unchanged";
  EXPECT_FALSE(ansi::FromUtf8("bad \xFF byte", &out));
  EXPECT_EQ(out, "unchanged");
  EXPECT_EQ(ansi::FromUtf8Lossy("bad \xFF byte"), "bad ? byte");
  EXPECT_FALSE(ansi::ToUtf8("\xFF\xFF", &out));
  EXPECT_EQ(ansi::ToUtf8Lossy("a\xFF"
                              "b"),
            "a\xEF\xBF\xBD"
            "b");
  // A lead byte at the very end is one character of its own: no read past the end.
  EXPECT_EQ(ansi::CharLength("x\xCE", 1), 1u);
  EXPECT_EQ(ansi::ToUtf8Lossy("x\xCE"), "x\xEF\xBF\xBD");
}

TEST(AnsiTest, CorePathsAndNativePathsConvertBothWays) {
  const std::string native = "/home/用户/书架/😀.pdf";
  std::string core;
  ASSERT_TRUE(ansi::CorePath(native, &core));
  EXPECT_NE(core, native);
  EXPECT_EQ(ansi::NativePath(core), native);
  EXPECT_FALSE(ansi::CorePath("/tmp/\xFF", &core));
}

}  // namespace
