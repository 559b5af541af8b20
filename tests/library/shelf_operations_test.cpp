// Copying into the shelf, deleting, names, finished downloads and purchased items.
#include "library/shelf_operations.h"

#include <gtest/gtest.h>

#include "catalogue_text.h"
#include "library/shelf_names.h"

namespace library {

namespace {

class ShelfOperationsTest : public ::testing::Test {
 protected:
  ShelfOperationsTest()
      : folders_(dir_ / "data/", dir_ / "prog/"), shelf_(dir_ / "prog/me/me.xml") {
    dir_.MakeDir("prog/me");
    EXPECT_TRUE(CreateUserShelf(shelf_));
    dir_.Write("data/public/book/book1.xml",
               CatalogueXml(GroupXml("b2", ItemXml("x", "in b2")) +
                            GroupXml("b1", ItemXml("x", "in b1") + ItemXml("y", "why"))));
  }
  std::string Book() const { return folders_.Path(Catalogue::kBooks); }
  std::vector<std::string> Shelf() const { return ListItems(shelf_); }

  TempDir dir_;
  CatalogueFolders folders_;
  std::string shelf_;
};

TEST_F(ShelfOperationsTest, AnItemIsCopiedOnceAndBothFilesAreRewritten) {
  EXPECT_EQ(CopyItemToGroup(Book(), "b1", "y", shelf_, shelf_names::Favourites()), 1);
  // The source catalogue is written back normalised: sorted and recounted.
  const std::string book = Utf8(dir_.Read("data/public/book/book1.xml"));
  EXPECT_LT(book.find("id=\"b1\" 总数=\"2\""), book.find("id=\"b2\" 总数=\"1\""));

  dir_.Write("prog/me/me.xml", dir_.Read("prog/me/me.xml") + "<!-- dropped -->");
  EXPECT_EQ(CopyItemToGroup(Book(), "b1", "y", shelf_, shelf_names::Favourites()), -1);
  EXPECT_EQ(dir_.Read("prog/me/me.xml").find("dropped"), std::string::npos);
  EXPECT_EQ(Shelf(), std::vector<std::string>{"我的收藏/y=why"});
  // Every string of the item is carried over.
  CXmlElement* item = nullptr;
  std::unique_ptr<CXmlFileObject> shelf;
  ASSERT_TRUE(CXmlFileObject::Open(&shelf, shelf_.c_str()));
  ASSERT_TRUE(shelf->FindItemInAnyGroup("y", &item));
  EXPECT_EQ(item->element_name(), Gb("书"));
  EXPECT_EQ(item->dl_url(), "http://d/y");
  EXPECT_EQ(item->by_url(), "b");
}

TEST_F(ShelfOperationsTest, AWrongSourceGroupFindsTheItemInTheFirstGroupInByteOrder) {
  EXPECT_EQ(CopyItemToGroup(Book(), "nope", "x", shelf_, shelf_names::ReadList()), 1);
  EXPECT_EQ(Shelf(), std::vector<std::string>{"已阅读/x=in b1"});
  // An item that is nowhere: nothing copied, but a missing group is made.
  EXPECT_EQ(CopyItemToGroup(Book(), "b1", "none", shelf_, "new"), -1);
  std::unique_ptr<CXmlFileObject> shelf;
  ASSERT_TRUE(CXmlFileObject::Open(&shelf, shelf_.c_str()));
  CXmlGroup* group = nullptr;
  ASSERT_TRUE(shelf->FindGroup("new", &group));
  EXPECT_EQ(group->maximum(), "100");
  EXPECT_EQ(group->element_name(), Gb("分类"));
}

TEST_F(ShelfOperationsTest, SearchResultsAreCopiedFromTheProgramFolder) {
  dir_.Write("prog/search.xml", CatalogueXml(GroupXml("搜索结果", ItemXml("s", "from prog"))));
  dir_.Write("data/search.xml", CatalogueXml(GroupXml("搜索结果", ItemXml("s", "from data"))));
  std::string source;
  ASSERT_TRUE(folders_.ResolveForCopy("search.xml", shelf_, &source));
  EXPECT_EQ(CopyItemToGroup(source, Gb("搜索结果"), "s", shelf_, shelf_names::Favourites()), 1);
  EXPECT_EQ(Shelf(), std::vector<std::string>{"我的收藏/s=from prog"});
}

TEST_F(ShelfOperationsTest, ACopyWithinTheShelfKeepsBothGroups) {
  CopyItemToGroup(Book(), "b1", "y", shelf_, shelf_names::Downloading());
  std::string source;
  ASSERT_TRUE(folders_.ResolveForCopy("me/me.xml", shelf_, &source));
  EXPECT_EQ(source, shelf_);
  EXPECT_EQ(
      CopyItemToGroup(source, shelf_names::Downloading(), "y", shelf_, shelf_names::Favourites()),
      1);
  EXPECT_EQ(Shelf(), (std::vector<std::string>{"我的收藏/y=why", "正在下载/y=why"}));
}

TEST_F(ShelfOperationsTest, NamesAreLookedUpByGroupAndCut) {
  const std::string long_name(40, 'a');
  dir_.Write("prog/c.xml",
             CatalogueXml(GroupXml("g", ItemXml("i", long_name + "书书书书书书书书书书书书"))));
  std::string name = "unchanged";
  EXPECT_FALSE(GetItemName(dir_ / "prog/c.xml", "i", "other", &name));
  EXPECT_EQ(name, "unchanged");
  ASSERT_TRUE(GetItemName(dir_ / "prog/c.xml", "i", "g", &name));
  // 40 + 11 double-byte characters = 62 bytes: the 12th would pass 63.
  EXPECT_EQ(name, long_name + Gb("书书书书书书书书书书书"));
}

TEST_F(ShelfOperationsTest, AFinishedDownloadMovesWithItsLocalPath) {
  CopyItemToGroup(Book(), "b1", "x", shelf_, shelf_names::Downloading());
  CopyItemToGroup(Book(), "b1", "y", shelf_, shelf_names::Downloading());
  const std::string target = dir_ / "prog/me/downloaded/in b1-x";
  EXPECT_TRUE(MoveDownloadedItem(shelf_, "x", &target));
  EXPECT_TRUE(MoveDownloadedItem(shelf_, "y", nullptr));
  EXPECT_FALSE(MoveDownloadedItem(shelf_, "y", &target));  // no longer downloading
  EXPECT_EQ(Shelf(), (std::vector<std::string>{"已下载/x=in b1", "已下载/y=why"}));
  std::unique_ptr<CXmlFileObject> shelf;
  ASSERT_TRUE(CXmlFileObject::Open(&shelf, shelf_.c_str()));
  CXmlElement* item = nullptr;
  ASSERT_TRUE(shelf->FindItemInAnyGroup("x", &item));
  EXPECT_EQ(item->rd_url(), target);
  ASSERT_TRUE(shelf->FindItemInAnyGroup("y", &item));
  EXPECT_EQ(item->rd_url(), "");
}

TEST_F(ShelfOperationsTest, ItemsAreRemovedFromTheirGroupOnly) {
  EXPECT_FALSE(RemoveCatalogueItem(Book(), "b2", "y"));
  EXPECT_TRUE(RemoveCatalogueItem(Book(), "b2", "x"));
  EXPECT_EQ(ListItems(Book()), (std::vector<std::string>{"b1/x=in b1", "b1/y=why"}));
}

TEST(PurchasedListTest, CompleteEntriesAreReadAndOthersSkipped) {
  const std::string reply = "<r Code=\"0\"><i PID=\"p1\" BigClass=\"" + Gb("图书") +
                            "\" Class=\"c1\"/>"
                            "<i PID=\"p2\" BigClass=\"v\"/>"  // no Class
                            "<i PID=\"p3\" Class=\"c3\"/>"    // no BigClass
                            "<i PID=\"p4\" BigClass=\"\" Class=\"c4\">"
                            "<i PID=\"p5\" BigClass=\"b\" Class=\"c5\"";  // never closed
  std::vector<PurchasedEntry> entries = ParsePurchasedList(reply);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].item_id, "p1");
  EXPECT_EQ(entries[0].category, Gb("图书"));
  EXPECT_EQ(entries[0].class_id, "c1");
  EXPECT_EQ(entries[1].item_id, "p4");
  EXPECT_EQ(entries[1].category, "");
  EXPECT_EQ(entries[1].class_id, "c4");
  EXPECT_TRUE(ParsePurchasedList("no entries").empty());
  // Values are cut to 63 bytes.
  EXPECT_EQ(ParsePurchasedList("PID=\"" + std::string(100, 'p') + "\" BigClass=\"b\" Class=\"c\">")
                .at(0)
                .item_id.size(),
            63u);
}

TEST_F(ShelfOperationsTest, PurchasedItemsGoToTheirCatalogueIntoPurchased) {
  dir_.Write("data/public/video/video1.xml", CatalogueXml(GroupXml("b1", ItemXml("y", "video"))));
  const std::string reply = "<i PID=\"y\" BigClass=\"" + Gb("视频图书") + "\" Class=\"b1\">" +
                            "<i PID=\"z\" BigClass=\"" + Gb("本地") + "\" Class=\"b1\">";
  ImportPurchasedList(folders_, shelf_, reply);
  EXPECT_EQ(Shelf(), std::vector<std::string>{"已购买/y=why"});
  EXPECT_EQ(ImportPurchasedItem(folders_, shelf_, "z", Gb("本地"), "b1"), 0);
  EXPECT_EQ(ImportPurchasedItem(folders_, shelf_, "y", Gb("摄影图片"), "b1"), -1);
}

}  // namespace

}  // namespace library
