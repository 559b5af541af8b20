// Local books: file-type keys, default pictures, group and item ids, cover copies.
#include "library/local_books.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "catalogue_text.h"
#include "library/shelf_names.h"

namespace library {

namespace {

TEST(LocalBookRulesTest, KeysPicturesAndGroupsFollowTheLastFourBytes) {
  struct Case {
    std::string path, picture, group;
  } cases[] = {
      {"/any/where/Report.PDF", "/public/local/LocalDefaultPdfPic.jpg", "pdf文件"},
      {"/b/Novel.Epub", "/public/local/LocalDefaultEpubPic.jpg", "pub文件"},
      {"/b/letter.docx", "/public/local/LocalDefaultPic.jpg", "ocx文件"},
      {"/b/talk.WMA", "/public/local/LocalDefaultWmaPic.jpg", "wma文件"},
      {"/b/x.slr", "/public/local/LocalDefaultSlrPic.jpg", "slr文件"},
      {"a.b", "/public/local/LocalDefaultPic.jpg", ".b文件"},
      {"q", "/public/local/LocalDefaultPic.jpg", "文件"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DefaultCoverPicture(c.path), c.picture) << c.path;
    EXPECT_EQ(Utf8(LocalGroupId(c.path)), c.group) << c.path;
  }
  EXPECT_EQ(InitialBookInfo("/any/where/Report.PDF").title, "Report.PDF");
}

TEST(LocalBookRulesTest, DoubleByteEndingsAreCutByBytes) {
  // "报告" is B1A8 B8E6: the key is both characters, the group the last three bytes.
  const std::string path = Gb("/书/报告");
  EXPECT_EQ(LocalFileKey(path), "\xB1\xA8\xB8\xE6");
  EXPECT_EQ(LocalGroupId(path), "\xA8\xB8\xE6" + Gb("文件"));
  EXPECT_EQ(InitialBookInfo(path).title, Gb("报告"));
  // Trail bytes that look like capital letters are not lower-cased: "丄" is 81 41.
  EXPECT_EQ(LocalFileKey(Gb("/x/a丄丄")), "\x81\x41\x81\x41");
  EXPECT_EQ(DefaultCoverPicture(Gb("/x/a丄丄")), "/public/local/LocalDefaultPic.jpg");
}

TEST(LocalBookRulesTest, IdsFormedInOneSecondDifferWithinTheirGroup) {
  std::unique_ptr<CXmlGroup> group;
  CXmlGroup::Create(&group, "g", "g", "100");
  const std::time_t second = 1700000000;
  const std::string first = FormLocalId(group.get(), second);
  EXPECT_EQ(FormLocalId(nullptr, second), first);  // the same seed, the same id
  ASSERT_EQ(first.rfind("local_", 0), 0u);
  EXPECT_EQ(first.find_first_not_of("0123456789", 6), std::string::npos) << first;
  std::unique_ptr<CXmlElement> item;
  CXmlElement::Create(&item, "e", first.c_str(), "", "", "", "", "", "", "", "");
  group->AddItem(std::move(item));
  const std::string second_id = FormLocalId(group.get(), second);
  EXPECT_NE(second_id, first);
  ASSERT_EQ(second_id.rfind("local_", 0), 0u);
}

class AddLocalBookTest : public ::testing::Test {
 protected:
  AddLocalBookTest() : folders_(dir_ / "data/", dir_ / "prog/") {
    dir_.MakeDir("data/public/local");
  }
  std::unique_ptr<CXmlFileObject> Local() {
    std::unique_ptr<CXmlFileObject> file;
    (void)CXmlFileObject::Open(&file, folders_.Path(Catalogue::kLocal).c_str());
    return file;
  }
  // The photo of the item added at |seconds|.
  std::string Photo(std::time_t seconds) {
    auto local = Local();
    CXmlElement* item = nullptr;
    local->FindItemInAnyGroup(FormLocalId(nullptr, seconds).c_str(), &item);
    return item == nullptr ? "<none>" : item->photo();
  }
  TempDir dir_;
  CatalogueFolders folders_;
};

TEST_F(AddLocalBookTest, TheSameFileTwiceInOneSecondGivesTwoItems) {
  LocalBookInfo info = InitialBookInfo(dir_ / "Report.PDF");
  info.issue = Gb("第3期");
  AddLocalBook(folders_, info, 1700000000);
  info.title = "";
  AddLocalBook(folders_, info, 1700000000);

  auto local = Local();
  CXmlGroup* group = nullptr;
  ASSERT_TRUE(local->FindGroup(Gb("pdf文件").c_str(), &group));
  EXPECT_EQ(group->element_name(), Gb("分类"));
  EXPECT_EQ(group->maximum(), "100");
  ASSERT_EQ(group->GetItemCount(), 2);
  std::vector<std::string> titles;
  for (int i = 0; i < 2; ++i) {
    CXmlElement* item = nullptr;
    group->GetItemAt(i, &item);
    EXPECT_EQ(item->element_name(), Gb("信息"));
    EXPECT_EQ(item->photo(), "/public/local/LocalDefaultPdfPic.jpg");
    EXPECT_EQ(item->date(), Gb("第3期"));
    EXPECT_EQ(item->rd_url(), dir_ / "Report.PDF");
    EXPECT_TRUE(item->pay().empty() && item->price().empty() && item->dl_url().empty() &&
                item->by_url().empty());
    titles.push_back(item->name());
  }
  std::sort(titles.begin(), titles.end());
  EXPECT_EQ(titles, (std::vector<std::string>{"", "Report.PDF"}));
  // Empty values are written all the same.
  EXPECT_NE(dir_.Read("data/public/local/local1.xml")
                .find("pay=\"\" price=\"\" DLurl=\"\" RDurl=\"" + (dir_ / "Report.PDF") +
                      "\" BYurl=\"\""),
            std::string::npos);
}

TEST_F(AddLocalBookTest, AChosenCoverIsCopiedIntoTheLocalFolder) {
  dir_.Write("pictures/cover.jpg", "new picture");
  dir_.Write("data/public/local/cover.jpg", "old picture");
  LocalBookInfo info = InitialBookInfo(dir_ / "book.epub");
  info.cover = dir_ / "pictures/cover.jpg";
  AddLocalBook(folders_, info, 1);
  EXPECT_EQ(dir_.Read("data/public/local/cover.jpg"), "new picture");
  EXPECT_EQ(Photo(1), "/public/local/cover.jpg");

  // A picture that cannot be read is named all the same; a cover already in the
  // local folder is left as it is.
  info.cover = dir_ / "pictures/missing.jpg";
  AddLocalBook(folders_, info, 2);
  EXPECT_EQ(Photo(2), "/public/local/missing.jpg");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "data/public/local/missing.jpg"));
  info.cover = dir_ / "data/public/local/cover.jpg";
  AddLocalBook(folders_, info, 3);
  EXPECT_EQ(dir_.Read("data/public/local/cover.jpg"), "new picture");
}

TEST_F(AddLocalBookTest, ACoverNameNeverLeadsOutOfTheLocalFolder) {
  dir_.Write("pictures/cover.jpg", "picture");
  LocalBookInfo info = InitialBookInfo(dir_ / "a.pdf");
  info.cover = dir_ / "pictures/..";
  AddLocalBook(folders_, info, 1);
  EXPECT_FALSE(std::filesystem::is_regular_file(dir_ / "data/public/local/.."));
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "data/public"));
  EXPECT_EQ(ListItems(folders_.Path(Catalogue::kLocal)).size(), 1u);
}

}  // namespace

}  // namespace library
