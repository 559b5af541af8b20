// Copying into the shelf, deleting, names and finished downloads.
#include "library/shelf_operations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "library/shelf_names.h"
#include "shelf_fixture.h"

namespace library {

namespace {

class ShelfOperationsTest : public ShelfFixture {};

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

TEST_F(ShelfOperationsTest, ChangesThatCannotBeWrittenAreReportedAndTheFilesKept) {
  CopyItemToGroup(Book(), "b1", "x", shelf_, shelf_names::Downloading());
  const std::string before = dir_.Read("prog/me/me.xml");
  ASSERT_EQ(chmod(shelf_.c_str(), 0444), 0);  // as full a disk as a test can make
  bool unsaved = false;
  EXPECT_EQ(CopyItemToGroup(Book(), "b1", "y", shelf_, shelf_names::Favourites(), &unsaved), 1);
  EXPECT_TRUE(unsaved);
  EXPECT_FALSE(MoveDownloadedItem(shelf_, "x", nullptr, &unsaved));
  EXPECT_TRUE(unsaved);
  EXPECT_FALSE(RemoveCatalogueItem(shelf_, shelf_names::Downloading(), "x", &unsaved));
  EXPECT_TRUE(unsaved);
  // Nothing changed, nothing lost: an item not found, one already there.
  EXPECT_EQ(CopyItemToGroup(Book(), "b1", "none", shelf_, shelf_names::Favourites(), &unsaved), -1);
  EXPECT_FALSE(unsaved);
  EXPECT_EQ(CopyItemToGroup(Book(), "b1", "x", shelf_, shelf_names::Downloading(), &unsaved), -1);
  EXPECT_FALSE(unsaved);
  EXPECT_FALSE(RemoveCatalogueItem(shelf_, shelf_names::Downloading(), "none", &unsaved));
  EXPECT_FALSE(unsaved);
  EXPECT_EQ(dir_.Read("prog/me/me.xml"), before);
  // A shelf that cannot be read is never replaced: the copy is not saved either.
  ASSERT_EQ(chmod(shelf_.c_str(), 0644), 0);
  dir_.Write("prog/me/me.xml", before.substr(0, before.size() / 2));
  EXPECT_EQ(CopyItemToGroup(Book(), "b1", "y", shelf_, shelf_names::Favourites(), &unsaved), 1);
  EXPECT_TRUE(unsaved);
  EXPECT_EQ(dir_.Read("prog/me/me.xml"), before.substr(0, before.size() / 2));
}

TEST_F(ShelfOperationsTest, ItemsAreRemovedFromTheirGroupOnly) {
  EXPECT_FALSE(RemoveCatalogueItem(Book(), "b2", "y"));
  EXPECT_TRUE(RemoveCatalogueItem(Book(), "b2", "x"));
  EXPECT_EQ(ListItems(Book()), (std::vector<std::string>{"b1/x=in b1", "b1/y=why"}));
}

}  // namespace

}  // namespace library
