// The purchased list: its entries read from the shop's reply, and their items imported
// into the shelf as one entry after another would import them.
#include "account/purchased_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tinyxml.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "../library/shelf_fixture.h"
#include "../support/rename_counter.h"
#include "library/shelf_names.h"

namespace account {

namespace {

namespace fs = std::filesystem;
using library::Catalogue;
using library::CatalogueFolders;
using library::CreateUserShelf;

// The files a purchased-list import reads or writes, relative to a test folder.
const char* const kImportFiles[] = {"data/public/maga/maga1.xml",   "data/public/book/book1.xml",
                                    "data/public/audio/audio1.xml", "data/public/mics/mics1.xml",
                                    "data/public/video/video1.xml", "prog/me/me.xml"};

// The purchased list the old way: one ImportPurchasedItem per entry, each reading and
// writing the shelf and its catalogue. True when an entry's copy was not saved.
bool ImportEntryByEntry(const CatalogueFolders& folders, const std::string& shelf,
                        const std::string& reply) {
  bool any_unsaved = false;
  for (const PurchasedEntry& e : ParsePurchasedList(reply)) {
    bool unsaved = false;
    ImportPurchasedItem(folders, shelf, e.item_id, e.category, e.class_id, &unsaved);
    any_unsaved |= unsaved;
  }
  return any_unsaved;
}

// Each import file of |root| as "(none)" or its bytes.
std::vector<std::string> ImportFiles(const TempDir& root) {
  std::vector<std::string> contents;
  for (const char* name : kImportFiles)
    contents.push_back(fs::exists(root / name) ? root.Read(name) : "(none)");
  return contents;
}

class PurchasedImportTest : public library::ShelfFixture {};

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

TEST_F(PurchasedImportTest, PurchasedItemsGoToTheirCatalogueIntoPurchased) {
  dir_.Write("data/public/video/video1.xml", CatalogueXml(GroupXml("b1", ItemXml("y", "video"))));
  const std::string reply = "<i PID=\"y\" BigClass=\"" + Gb("视频图书") + "\" Class=\"b1\">" +
                            "<i PID=\"z\" BigClass=\"" + Gb("本地") + "\" Class=\"b1\">";
  ImportPurchasedList(folders_, shelf_, reply);
  EXPECT_EQ(Shelf(), std::vector<std::string>{"已购买/y=why"});
  EXPECT_EQ(ImportPurchasedItem(folders_, shelf_, "z", Gb("本地"), "b1"), 0);
  EXPECT_EQ(ImportPurchasedItem(folders_, shelf_, "y", Gb("摄影图片"), "b1"), -1);
}

TEST_F(PurchasedImportTest, APurchasedListIsWrittenOnceAsEntryByEntry) {
  dir_.Write("data/public/video/video1.xml",
             CatalogueXml(GroupXml("v", ItemXml("y", "video y") + ItemXml("w", "video w"))));
  dir_.Write("data/public/maga/maga1.xml", CatalogueXml(GroupXml("m", ItemXml("k", "刊"))));
  dir_.Write(
      "prog/me/me.xml",
      CatalogueXml(GroupXml("已购买", ItemXml("old", "旧")) + GroupXml("我的收藏", ""), "书架"));
  auto entry = [](const std::string& id, const std::string& category, const std::string& cls) {
    return "<i PID=\"" + id + "\" BigClass=\"" + Gb(category) + "\"" +
           (cls.empty() ? "" : " Class=\"" + cls + "\"") + "/>";
  };
  const std::string reply = "<r Code=\"0\">" +
                            entry("y", "视频图书", "b1") +  // books before video: "why"
                            entry("w", "摄影图片", "v") +   // video
                            entry("y", "视频", "v") +       // the first y stays
                            entry("old", "图书", "b1") +    // already purchased
                            entry("x", "书刊文档", "no") +  // any group: b1 before b2
                            entry("k", "杂志", "") +        // no Class: skipped
                            entry("k", "设计稿件", "m") +   // magazines
                            entry("z", "本地", "b1") +      // no category catalogue
                            entry("q", "图书", "b1") +      // in no catalogue
                            entry("w", "图书", "b1") + "</r>";
  // The same files imported the old way, entry by entry.
  TempDir old_way;
  fs::copy(dir_.path(), old_way.path(), fs::copy_options::recursive);
  const CatalogueFolders old_folders(old_way / "data/", old_way / "prog/");
  EXPECT_FALSE(ImportEntryByEntry(old_folders, old_way / "prog/me/me.xml", reply));

  // The files the list reads: the magazines, the books, the video and the shelf.
  std::vector<std::unique_ptr<RenameCounter>> renames;
  for (const char* name : {kImportFiles[0], kImportFiles[1], kImportFiles[4], kImportFiles[5]})
    renames.push_back(std::make_unique<RenameCounter>(dir_ / name));
  bool unsaved = true;
  ImportPurchasedList(folders_, shelf_, reply, &unsaved);
  EXPECT_FALSE(unsaved);
  EXPECT_EQ(Shelf(), (std::vector<std::string>{"已购买/k=刊", "已购买/old=旧", "已购买/w=video w",
                                               "已购买/x=in b1", "已购买/y=why"}));
  EXPECT_EQ(ImportFiles(dir_), ImportFiles(old_way));
  // Each is written once.
  for (const auto& file : renames) EXPECT_EQ(file->Count(), 1);
  // A list that names no category catalogue leaves the shelf alone.
  ImportPurchasedList(folders_, shelf_, entry("n", "本地", "b1"));
  EXPECT_EQ(renames[3]->Count(), 1);
}

// A shelf that cannot be written: the import is reported unsaved and the shelf kept.
TEST_F(PurchasedImportTest, AnImportThatCannotBeWrittenIsReported) {
  const std::string before = dir_.Read("prog/me/me.xml");
  ASSERT_EQ(chmod(shelf_.c_str(), 0444), 0);  // as full a disk as a test can make
  bool unsaved = false;
  ImportPurchasedList(folders_, shelf_,
                      "<i PID=\"y\" BigClass=\"" + Gb("图书") + "\" Class=\"b1\">", &unsaved);
  EXPECT_TRUE(unsaved);
  EXPECT_EQ(dir_.Read("prog/me/me.xml"), before);
}

// Random catalogues, shelves and lists, with ids repeated across entries and catalogues,
// wrong groups, unknown categories, missing, damaged and read-only files, a shelf that is
// a catalogue, and values full of markup characters: the import leaves every file as the
// entry-by-entry way does. LUMORA_IMPORT_SEED repeats a run from another seed.
TEST(PurchasedListTest, RandomListsLeaveTheFilesAsEntryByEntry) {
  const char* seed_text = std::getenv("LUMORA_IMPORT_SEED");
  const std::uint32_t seed =
      seed_text != nullptr ? static_cast<std::uint32_t>(std::strtoul(seed_text, nullptr, 10)) : 1;
  const std::vector<std::string> ids = {"a", "b", "c", "d", "a b", "&", "<x>", Gb("书")};
  const std::vector<std::string> group_ids = {"g1", "g2", Gb("已购买"), Gb("精选")};
  const std::vector<std::string> names = {"n",      "a&b",      "<'\"'>",  "line\nbreak\t",
                                          "&#x41;", Gb("名字"), "\x81\x5c"};
  const std::vector<std::string> categories = {
      "杂志",     "设计稿件", "图书",     "书刊文档", "音频",         "有声读物", "杂项",
      "软件源码", "视频",     "摄影图片", "视频图书", "有声读物杂志", "本地",     ""};
  auto escaped = [](const std::string& value) {
    std::string out;
    TiXmlBase::EncodeString(value, &out);
    return out;
  };
  for (std::uint32_t n = 0; n < 200 && !::testing::Test::HasFailure(); ++n) {
    const std::uint32_t case_seed = seed + n;
    std::mt19937 random(case_seed);
    auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    TempDir batch, old_way;
    for (const char* name : kImportFiles) {
      const std::uint32_t kind = random() % 10;  // 0 missing, 1 cut short, 2 read-only
      const bool shelf = std::string(name) == kImportFiles[5];
      if (shelf && kind == 3) {  // the shelf is the books catalogue
        for (const TempDir* root : {&batch, &old_way}) {
          root->MakeDir("prog/me");
          fs::create_symlink(*root / kImportFiles[1], *root / name);
        }
        continue;
      }
      std::string groups;
      for (int g = static_cast<int>(random() % 4); g > 0; --g) {
        std::string items;
        for (int i = static_cast<int>(random() % 5); i > 0; --i)
          items += Gb("<书 id=\"") + escaped(pick(ids)) + "\" name=\"" + escaped(pick(names)) +
                   "\" photo=\"p\"/>\r\n";
        groups +=
            Gb("<分类 id=\"") + escaped(pick(group_ids)) + "\">\r\n" + items + Gb("</分类>\r\n");
      }
      std::string text =
          "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<r a=\"1\">\r\n" + groups + "</r>\r\n";
      if (kind == 1) text.resize(text.size() / 2);
      for (const TempDir* root : {&batch, &old_way}) {
        root->MakeDir("prog/me");
        if (kind == 0) continue;
        root->Write(name, text);
        if (kind == 2) {
          ASSERT_EQ(chmod((*root / name).c_str(), 0444), 0);
        }
      }
    }
    std::string reply = "<r Code=\"0\">";
    for (int e = static_cast<int>(random() % 12); e > 0; --e) {
      reply += "<i PID=\"" + pick(ids) + "\"";
      if (random() % 8 != 0) reply += " BigClass=\"" + Gb(pick(categories)) + "\"";
      if (random() % 8 != 0) reply += " Class=\"" + pick(group_ids) + "\"";
      reply += "/>";
    }
    bool unsaved = false;
    ImportPurchasedList(CatalogueFolders(batch / "data/", batch / "prog/"),
                        batch / "prog/me/me.xml", reply, &unsaved);
    const bool old_unsaved = ImportEntryByEntry(
        CatalogueFolders(old_way / "data/", old_way / "prog/"), old_way / "prog/me/me.xml", reply);
    EXPECT_EQ(ImportFiles(batch), ImportFiles(old_way)) << "LUMORA_IMPORT_SEED=" << case_seed;
    EXPECT_EQ(unsaved, old_unsaved) << "LUMORA_IMPORT_SEED=" << case_seed;
  }
}

}  // namespace

}  // namespace account
