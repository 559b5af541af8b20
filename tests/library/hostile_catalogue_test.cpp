// Catalogue files as a hostile user would leave them: folders, FIFOs and devices under
// catalogue names, documents nested too deep or too large, covers that would replace
// the catalogue, and look-ups of files that are not there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "catalogue_text.h"
#include "library/local_books.h"
#include "library/shelf_operations.h"

namespace library {

namespace {

namespace fs = std::filesystem;

// Opens |path| on another thread and saves it back; fails instead of hanging when the
// open blocks (a FIFO opened without O_NONBLOCK waits for a writer forever).
bool OpenAndSaveWithoutBlocking(const std::string& path, bool* loaded) {
  auto done = std::async(std::launch::async, [&] {
    std::unique_ptr<CXmlFileObject> file;
    *loaded = CXmlFileObject::Open(&file, path.c_str());
    (void)CXmlFileObject::Release(std::move(file), true);  // the file must stay as it is
  });
  if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return true;
  // Unblock the reader so that the test can end, then report the hang.
  int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
  if (writer >= 0) close(writer);
  done.wait();
  return false;
}

std::string Nested(int levels) {
  std::string text = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\n";
  for (int i = 0; i < levels; ++i) text += "<a>";
  for (int i = 0; i < levels; ++i) text += "</a>";
  return text;
}

class CatalogueHostileTest : public ::testing::Test {
 protected:
  bool Loads(const std::string& relative) {
    std::unique_ptr<CXmlFileObject> file;
    bool ok = CXmlFileObject::Open(&file, (dir_ / relative).c_str());
    (void)CXmlFileObject::Release(std::move(file), true);  // callers check the file
    return ok;
  }
  TempDir dir_;
};

TEST_F(CatalogueHostileTest, WhatIsNotARegularFileIsNeitherReadNorWritten) {
  // A folder: on ext4 its stream reports a size near 2^63, which the parser would try
  // to allocate.
  dir_.MakeDir("search.xml");
  bool loaded = true;
  ASSERT_TRUE(OpenAndSaveWithoutBlocking(dir_ / "search.xml", &loaded));
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(fs::is_directory(dir_ / "search.xml"));
  EXPECT_TRUE(fs::is_empty(dir_ / "search.xml"));

  // A FIFO is never waited on, nor replaced by a file.
  ASSERT_EQ(mkfifo((dir_ / "maga1.xml").c_str(), 0644), 0);
  ASSERT_TRUE(OpenAndSaveWithoutBlocking(dir_ / "maga1.xml", &loaded)) << "blocked on a FIFO";
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(fs::is_fifo(dir_ / "maga1.xml"));

  // A link to a device reads nothing and stays a link.
  fs::create_symlink("/dev/zero", dir_ / "book1.xml");
  ASSERT_TRUE(OpenAndSaveWithoutBlocking(dir_ / "book1.xml", &loaded));
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(fs::is_symlink(dir_ / "book1.xml"));
}

TEST_F(CatalogueHostileTest, DocumentsNestedTooDeepAreRefusedAndKept) {
  // Tens of thousands of levels would overflow the stack inside the parser.
  dir_.Write("deep.xml", Nested(100000));
  EXPECT_FALSE(Loads("deep.xml"));
  EXPECT_EQ(dir_.Read("deep.xml"), Nested(100000));
  // The limit itself.
  dir_.Write("ok.xml", Nested(CXmlFileObject::kMaxDepth));
  EXPECT_TRUE(Loads("ok.xml"));
  dir_.Write("over.xml", Nested(CXmlFileObject::kMaxDepth + 1));
  EXPECT_FALSE(Loads("over.xml"));
  // Markup that holds no elements does not count, and neither do quoted values.
  std::string quiet = "<r>";
  for (int i = 0; i < 1000; ++i)
    quiet += "<!-- <a> --><![CDATA[<a>]]><?pi <a>?><x v='<a>' w=\"<a>\"/>";
  dir_.Write("quiet.xml", quiet + "</r>");
  EXPECT_TRUE(Loads("quiet.xml"));
  // A quote that does not open a value (the parser reads x' as an unquoted value) does
  // not hide the levels that follow it.
  std::string sneaky = "<r b=x'>";
  for (int i = 0; i < 100000; ++i) sneaky += "<a>";
  dir_.Write("sneaky.xml", sneaky);
  EXPECT_FALSE(Loads("sneaky.xml"));
  // A '>' quoted in the declaration does not end it, so what follows stays inside it;
  // nor does a '>' that looks quoted in a word the declaration does not know.
  for (const std::string declaration :
       {"<?xml version='>x<!--' encoding=\"gb2312\"?>", "<?XML encoding = \">\" ?>",
        "<?xml foo='>' ?>", "<?xml version=x'>"}) {
    std::string hidden = declaration;
    for (int i = 0; i < 100000; ++i) hidden += "<a>";
    dir_.Write("declared.xml", hidden + "-->");
    EXPECT_FALSE(Loads("declared.xml")) << declaration;
  }
  // Levels hidden behind end tags that close nothing still count.
  std::string closes = "<r>" + std::string(50000 * 4, ' ');
  for (int i = 0; i < 50000; ++i) closes.replace(3 + i * 4, 4, "</z>");
  dir_.Write("closes.xml", closes + Nested(100000).substr(40));
  EXPECT_FALSE(Loads("closes.xml"));
}

TEST_F(CatalogueHostileTest, ValuesWithMarkupCharactersStillLoad) {
  dir_.Write("c.xml",
             Gb("<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<目录 分类=\"1\" 总数=\"1\" "
                "最大值=\"9\">\r\n<分类 id=\"g\" 总数=\"1\" 最大值=\"9\">\r\n"
                "<书 id=\"i\" name=\"a > b < c\" photo='p\"q' date=\"/>\" pay=\"\" "
                "price=\"\" DLurl=\"\" RDurl=\"\" BYurl=\"\"/>\r\n</分类>\r\n</目录>\r\n"));
  EXPECT_EQ(ListItems(dir_ / "c.xml"), (std::vector<std::string>{"g/i=a > b < c"}));
}

TEST_F(CatalogueHostileTest, FilesLargerThanTheLimitAreNotReadAndKept) {
  const std::string path = dir_ / "huge.xml";
  dir_.Write("huge.xml", CatalogueXml(""));
  // Sparse: the size alone decides.
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(CXmlFileObject::kMaxFileBytes) + 1), 0);
  EXPECT_FALSE(Loads("huge.xml"));
  EXPECT_EQ(fs::file_size(path), CXmlFileObject::kMaxFileBytes + 1);
}

TEST_F(CatalogueHostileTest, LookUpsAndRemovalsNeverMakeAMissingFile) {
  std::string name;
  EXPECT_FALSE(GetItemName(dir_ / "me/me.xml", "i", "g", &name));
  EXPECT_FALSE(RemoveCatalogueItem(dir_ / "gone.xml", "g", "i"));
  EXPECT_FALSE(MoveDownloadedItem(dir_ / "gone.xml", "i", nullptr));
  // A copy out of a missing catalogue makes only its destination.
  EXPECT_EQ(CopyItemToGroup(dir_ / "source.xml", "g", "i", dir_ / "dest.xml", "g"), -1);
  EXPECT_FALSE(fs::exists(dir_ / "me"));
  EXPECT_FALSE(fs::exists(dir_ / "gone.xml"));
  EXPECT_FALSE(fs::exists(dir_ / "source.xml"));
  EXPECT_TRUE(fs::exists(dir_ / "dest.xml"));
}

class CoverHostileTest : public ::testing::Test {
 protected:
  CoverHostileTest() : folders_(dir_ / "data/", dir_ / "prog/") {
    dir_.MakeDir("data/public/local");
    dir_.MakeDir("prog");
  }
  std::string Local() const { return dir_ / "data/public/local/local1.xml"; }
  // Adds a book whose cover is |cover|, on another thread, failing on a hang.
  bool AddWithCover(const std::string& cover) {
    LocalBookInfo info = InitialBookInfo(dir_ / "book.pdf");
    info.cover = cover;
    auto done = std::async(std::launch::async, [&] { AddLocalBook(folders_, info, 1700000000); });
    return done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  }
  TempDir dir_;
  CatalogueFolders folders_;
};

TEST_F(CoverHostileTest, ACoverNamedLikeTheCatalogueNeverReplacesIt) {
  // Unparsable and precious: it must survive.
  dir_.Write("data/public/local/local1.xml", "<not yet repaired");
  dir_.Write("pics/local1.xml", "picture bytes");
  ASSERT_TRUE(AddWithCover(dir_ / "pics/local1.xml"));
  EXPECT_EQ(dir_.Read("data/public/local/local1.xml"), "<not yet repaired");
  EXPECT_EQ(dir_.Read("data/public/local/cover-local1.xml"), "picture bytes");

  // With a readable catalogue the item points at the renamed picture.
  dir_.Write("data/public/local/local1.xml", CatalogueXml(""));
  ASSERT_TRUE(AddWithCover(dir_ / "pics/local1.xml"));
  std::unique_ptr<CXmlFileObject> local;
  ASSERT_TRUE(CXmlFileObject::Open(&local, Local().c_str()));
  CXmlGroup* group = nullptr;
  ASSERT_TRUE(local->FindGroup(Gb("pdf文件").c_str(), &group));
  CXmlElement* item = nullptr;
  ASSERT_TRUE(group->GetItemAt(0, &item));
  EXPECT_EQ(item->photo(), "/public/local/cover-local1.xml");
}

TEST_F(CoverHostileTest, CoversThatAreNotRegularFilesAreNotCopied) {
  dir_.Write("data/public/local/local1.xml", CatalogueXml(""));
  // A device never ends: read whole, it would exhaust memory.
  ASSERT_TRUE(AddWithCover("/dev/zero")) << "copied from a device";
  EXPECT_FALSE(fs::exists(dir_ / "data/public/local/zero"));
  ASSERT_EQ(mkfifo((dir_ / "pics.jpg").c_str(), 0644), 0);
  ASSERT_TRUE(AddWithCover(dir_ / "pics.jpg")) << "blocked on a FIFO";
  EXPECT_FALSE(fs::exists(dir_ / "data/public/local/pics.jpg"));
  // Both books were added all the same.
  EXPECT_EQ(ListItems(Local()).size(), 2u);
}

}  // namespace

}  // namespace library
