// Where catalogue names from the movie lead, and which catalogue a token or a
// purchased category names.
#include "library/catalogues.h"

#include <gtest/gtest.h>

#include "catalogue_text.h"

namespace library {

namespace {

const CatalogueFolders kFolders("/data/vellari/", "/prog/");
const std::string kShelf = "/prog/me/me.xml";

TEST(CataloguesTest, CopiesResolveSearchResultsAndTheShelfInTheProgramFolder) {
  std::string path;
  ASSERT_TRUE(kFolders.ResolveForCopy("search.xml", kShelf, &path));
  EXPECT_EQ(path, "/prog/search.xml");
  ASSERT_TRUE(kFolders.ResolveForCopy("me/me.xml", kShelf, &path));
  EXPECT_EQ(path, kShelf);
  ASSERT_TRUE(kFolders.ResolveForCopy("public/book/book1.xml", kShelf, &path));
  EXPECT_EQ(path, "/data/vellari/public/book/book1.xml");
  // The comparisons are exact.
  ASSERT_TRUE(kFolders.ResolveForCopy("Search.xml", kShelf, &path));
  EXPECT_EQ(path, "/data/vellari/Search.xml");
}

TEST(CataloguesTest, DeletionsResolveAllButTheLocalCatalogueInTheProgramFolder) {
  std::string path;
  ASSERT_TRUE(kFolders.ResolveForDelete("public/local/local1.xml", &path));
  EXPECT_EQ(path, "/data/vellari/public/local/local1.xml");
  ASSERT_TRUE(kFolders.ResolveForDelete("public/book/book1.xml", &path));
  EXPECT_EQ(path, "/prog/public/book/book1.xml");
  ASSERT_TRUE(kFolders.ResolveForDelete("me/me.xml", &path));
  EXPECT_EQ(path, kShelf);
}

TEST(CataloguesTest, NamesThatLeaveTheirFolderAreRefused) {
  for (const char* name : {"../x.xml", "a/../../x.xml", "..", "a/..", "/etc/passwd", "",
                           // Names of folders: a catalogue is always a file.
                           ".", "public/", "public/.", "a/./",
                           // A folder's lock file, which must never be replaced.
                           ".lumora.lock", "public/.lumora.lock"}) {
    std::string path = "unchanged";
    EXPECT_FALSE(kFolders.ResolveForCopy(name, kShelf, &path)) << name;
    EXPECT_FALSE(kFolders.ResolveForDelete(name, &path)) << name;
    EXPECT_EQ(path, "unchanged");
  }
  for (const char* name : {"..x.xml", "a..b/c.xml", "a/.../b.xml", "./a.xml", "public"})
    EXPECT_TRUE(IsSafeCatalogueName(name)) << name;
  // A zero byte would end the name at the file system.
  EXPECT_FALSE(IsSafeCatalogueName(std::string_view("a.xml\0/../x", 12)));
}

TEST(CataloguesTest, SearchTokensNameTheirCatalogues) {
  Catalogue c;
  ASSERT_TRUE(CatalogueOfSearchToken(Gb("程序"), &c));
  EXPECT_EQ(kFolders.Path(c), "/data/vellari/public/mics/mics1.xml");
  ASSERT_TRUE(CatalogueOfSearchToken(Gb("本地文件"), &c));
  EXPECT_EQ(kFolders.Path(c), "/data/vellari/public/local/local1.xml");
  ASSERT_TRUE(CatalogueOfSearchToken(Gb("杂志"), &c));
  EXPECT_EQ(kFolders.Path(c), "/data/vellari/public/maga/maga1.xml");
  // "杂项" is a purchased-list keyword, not a search token.
  EXPECT_FALSE(CatalogueOfSearchToken(Gb("杂项"), &c));
  EXPECT_FALSE(CatalogueOfSearchToken(Gb("图书 "), &c));
}

TEST(CataloguesTest, PurchasedCategoriesMatchKeywordsInCatalogueOrder) {
  Catalogue c;
  ASSERT_TRUE(CatalogueOfPurchasedCategory(Gb("精品视频与图书"), &c));
  EXPECT_EQ(c, Catalogue::kBooks);  // books are tested before video
  ASSERT_TRUE(CatalogueOfPurchasedCategory(Gb("xx软件源码xx"), &c));
  EXPECT_EQ(c, Catalogue::kMiscellaneous);
  ASSERT_TRUE(CatalogueOfPurchasedCategory(Gb("摄影图片"), &c));
  EXPECT_EQ(c, Catalogue::kVideo);
  EXPECT_FALSE(CatalogueOfPurchasedCategory(Gb("本地文件"), &c));
  EXPECT_FALSE(CatalogueOfPurchasedCategory("", &c));
}

}  // namespace

}  // namespace library
