// The catalogue model: reading by position, byte order, refusals, and the normalised,
// atomic save.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tinyxml.h>
#include <unistd.h>

#include <filesystem>

#include "catalogue_text.h"
#include "library/catalogues.h"
#include "library/owned_map.h"

namespace library {

namespace {

class XmlModelTest : public ::testing::Test {
 protected:
  std::unique_ptr<CXmlFileObject> Load(const std::string& relative, bool* loaded = nullptr) {
    std::unique_ptr<CXmlFileObject> file;
    bool ok = CXmlFileObject::Open(&file, (dir_ / relative).c_str());
    if (loaded != nullptr) *loaded = ok;
    return file;
  }
  // Opens and releases with saving: the file in its normalised form.
  std::string Normalise(const std::string& relative) {
    (void)CXmlFileObject::Release(Load(relative), true);  // the caller compares the text
    return Utf8(dir_.Read(relative));
  }
  TempDir dir_;
};

TEST_F(XmlModelTest, SaveSortsByteWiseAndRecountsAndKeepsEveryAttribute) {
  dir_.Write("c.xml", CatalogueXml(GroupXml("g2", ItemXml("b9", "九") + ItemXml("b10", "十")) +
                                   GroupXml("g1", "")));
  EXPECT_EQ(Normalise("c.xml"),
            "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\r\n"
            "<目录 分类=\"1\" 总数=\"2\" 最大值=\"1000\">\r\n"
            "    <分类 id=\"g1\" 总数=\"0\" 最大值=\"100\" />\r\n"
            "    <分类 id=\"g2\" 总数=\"2\" 最大值=\"100\">\r\n"
            "        <书 id=\"b10\" name=\"十\" photo=\"p.jpg\" date=\"\" pay=\"1\" price=\"2\" "
            "DLurl=\"http://d/b10\" RDurl=\"\" BYurl=\"b\" />\r\n"
            "        <书 id=\"b9\" name=\"九\" photo=\"p.jpg\" date=\"\" pay=\"1\" price=\"2\" "
            "DLurl=\"http://d/b9\" RDurl=\"\" BYurl=\"b\" />\r\n"
            "    </分类>\r\n"
            "</目录>\r\n");
}

TEST_F(XmlModelTest, AttributesAreReadByPositionAndWrittenUnderTheirNames) {
  dir_.Write("c.xml",
             CatalogueXml(
                 "<g a=\"gid\" b=\"7\" c=\"50\" extra=\"x\">"
                 "<i name=\"N\" id=\"I\" date=\"D\" photo=\"P\" pay=\"1\" price=\"2\" DLurl=\"3\" "
                 "RDurl=\"4\" BYurl=\"5\" tenth=\"lost\">text<sub/></i><!-- comment --></g>"));
  bool loaded = false;
  auto file = Load("c.xml", &loaded);
  ASSERT_TRUE(loaded);
  CXmlGroup* group = nullptr;
  ASSERT_TRUE(file->FindGroup("gid", &group));
  EXPECT_EQ(group->element_name(), "g");
  EXPECT_EQ(group->maximum(), "50");
  CXmlElement* item = nullptr;
  // The first attribute is the id, whatever its name.
  ASSERT_TRUE(group->FindItem("N", &item));
  EXPECT_EQ(item->name(), "I");
  EXPECT_EQ(item->photo(), "D");
  EXPECT_EQ(item->date(), "P");
  EXPECT_TRUE(CXmlFileObject::Release(std::move(file), true));
  const std::string saved = Utf8(dir_.Read("c.xml"));
  EXPECT_NE(saved.find("<g id=\"gid\" 总数=\"1\" 最大值=\"50\">"), std::string::npos) << saved;
  EXPECT_NE(saved.find("<i id=\"N\" name=\"I\" photo=\"D\" date=\"P\" pay=\"1\" price=\"2\" "
                       "DLurl=\"3\" RDurl=\"4\" BYurl=\"5\" />"),
            std::string::npos)
      << saved;
  // Text, comments, lower elements and extra attributes are not part of the model.
  for (const char* lost : {"text", "comment", "sub", "tenth", "extra"})
    EXPECT_EQ(saved.find(lost), std::string::npos) << lost;
}

TEST_F(XmlModelTest, RepeatedIdsKeepTheFirstOne) {
  dir_.Write("c.xml", CatalogueXml(GroupXml("g", ItemXml("a", "first") + ItemXml("a", "second")) +
                                   GroupXml("g", ItemXml("z", "in the second g")) +
                                   GroupXml("h", ItemXml("a", "other group"))));
  EXPECT_EQ(ListItems(dir_ / "c.xml"), (std::vector<std::string>{"g/a=first", "h/a=other group"}));

  // Adding an item or a group under a present id reports success and changes nothing.
  auto file = Load("c.xml");
  CXmlGroup* g = nullptr;
  ASSERT_TRUE(file->FindGroup("g", &g));
  std::unique_ptr<CXmlElement> twin;
  ASSERT_TRUE(CXmlElement::Create(&twin, "x", "a", "twin", "", "", "", "", "", "", ""));
  EXPECT_TRUE(g->AddItem(std::move(twin)));
  std::unique_ptr<CXmlGroup> twin_group;
  ASSERT_TRUE(CXmlGroup::Create(&twin_group, "x", "g", "1"));
  EXPECT_TRUE(file->AddGroup(std::move(twin_group)));
  CXmlElement* item = nullptr;
  ASSERT_TRUE(file->FindItemInAnyGroup("a", &item));
  EXPECT_EQ(item->name(), "first");
  EXPECT_EQ(file->GetItemTotal(), 2);
}

TEST_F(XmlModelTest, MissingArgumentsAndAbsentIdsAreRefused) {
  std::unique_ptr<CXmlFileObject> file;
  EXPECT_FALSE(CXmlFileObject::Open(&file, nullptr));
  EXPECT_FALSE(CXmlFileObject::Open(nullptr, "x"));
  EXPECT_FALSE(CXmlFileObject::Create(&file, "p", "r", nullptr, "m"));
  EXPECT_EQ(file, nullptr);
  std::unique_ptr<CXmlElement> item;
  EXPECT_FALSE(CXmlElement::Create(&item, "e", "id", "n", "p", "d", "p", "p", nullptr, "r", "b"));
  EXPECT_EQ(item, nullptr);

  ASSERT_TRUE(CXmlFileObject::Create(&file, (dir_ / "n.xml").c_str(), "r", "c", "m"));
  std::unique_ptr<CXmlGroup> other;
  ASSERT_TRUE(CXmlGroup::Create(&other, "g", "other", "1"));
  CXmlGroup* group = other.get();
  EXPECT_FALSE(file->FindGroup("none", &group));
  EXPECT_EQ(group, nullptr);
  EXPECT_FALSE(file->FindGroup(nullptr, &group));
  EXPECT_FALSE(file->RemoveGroup("none"));
  EXPECT_FALSE(file->AddGroup(nullptr));
  EXPECT_FALSE(file->GetGroupAt(0, &group));
  EXPECT_FALSE(file->GetGroupAt(-1, &group));
}

TEST_F(XmlModelTest, EnumerationByPositionFollowsTheByteOrderInAnyAccessOrder) {
  OwnedMap<std::string> map;
  std::vector<std::string> keys;
  for (int i = 0; i < 200; ++i) keys.push_back("k" + std::to_string(i));
  for (const std::string& k : keys) map.Insert(k, std::make_unique<std::string>(k));
  std::sort(keys.begin(), keys.end());
  // Forwards, backwards, jumping, and after a change.
  for (std::size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(*map.At(i), keys[i]);
  for (std::size_t i = keys.size(); i-- > 0;) EXPECT_EQ(*map.At(i), keys[i]);
  for (std::size_t i : {150u, 3u, 199u, 0u, 100u, 101u, 99u}) EXPECT_EQ(*map.At(i), keys[i]);
  map.Remove(keys[50]);
  keys.erase(keys.begin() + 50);
  for (std::size_t i : {49u, 50u, 51u}) EXPECT_EQ(*map.At(i), keys[i]);
  EXPECT_EQ(map.At(keys.size()), nullptr);
}

TEST_F(XmlModelTest, AFreshUserShelfHoldsTheFiveGroupsInByteOrder) {
  const std::string path = dir_ / "me.xml";
  ASSERT_TRUE(CreateUserShelf(path));
  EXPECT_EQ(Utf8(dir_.Read("me.xml")),
            "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\r\n"
            "<书架 分类=\"5\" 总数=\"0\" 最大值=\"1000\">\r\n"
            "    <分类 id=\"我的收藏\" 总数=\"0\" 最大值=\"1000\" />\r\n"
            "    <分类 id=\"已购买\" 总数=\"0\" 最大值=\"1000\" />\r\n"
            "    <分类 id=\"已下载\" 总数=\"0\" 最大值=\"1000\" />\r\n"
            "    <分类 id=\"已阅读\" 总数=\"0\" 最大值=\"1000\" />\r\n"
            "    <分类 id=\"正在下载\" 总数=\"0\" 最大值=\"1000\" />\r\n"
            "</书架>\r\n");
  // An existing shelf is never made again.
  dir_.Write("me.xml", "kept");
  EXPECT_FALSE(CreateUserShelf(path));
  EXPECT_EQ(dir_.Read("me.xml"), "kept");
}

TEST_F(XmlModelTest, AnUnparsableFileIsNeverOverwritten) {
  const std::string broken = Gb("<?xml version=\"1.0\"?>\r\n<目录><分类 id=\"g\"></目录>");
  dir_.Write("broken.xml", broken);
  bool loaded = true;
  auto file = Load("broken.xml", &loaded);
  EXPECT_FALSE(loaded);
  EXPECT_EQ(file->GetGroupCount(), 0);
  std::unique_ptr<CXmlGroup> group;
  CXmlGroup::Create(&group, "g", "new", "1");
  file->AddGroup(std::move(group));
  EXPECT_FALSE(file->Save());
  EXPECT_FALSE(CXmlFileObject::Release(std::move(file), true));
  EXPECT_EQ(dir_.Read("broken.xml"), broken);

  // A document without any element counts as unparsable too.
  dir_.Write("empty.xml", "<?xml version=\"1.0\"?>\r\n");
  EXPECT_FALSE(CXmlFileObject::Release(Load("empty.xml"), true));
  EXPECT_EQ(dir_.Read("empty.xml"), "<?xml version=\"1.0\"?>\r\n");
}

TEST_F(XmlModelTest, AMissingFileIsWrittenWithARootElement) {
  bool loaded = true;
  auto file = Load("new.xml", &loaded);
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(CXmlFileObject::Release(std::move(file), true));
  EXPECT_EQ(dir_.Read("new.xml"), Gb("<?xml version=\"1.0\" encoding=\"gb2312\" ?>\r\n"
                                     "<catalogue 分类=\"\" 总数=\"0\" 最大值=\"\" />\r\n"));
  // A missing folder is not made.
  EXPECT_FALSE(CXmlFileObject::Release(Load("no/such/folder.xml"), true));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "no"));
}

TEST_F(XmlModelTest, TextOfTheCodePageAndEscapesSurviveARoundTrip) {
  // GBK characters beyond GB2312 and characters that need escaping.
  dir_.Write("c.xml",
             CatalogueXml(GroupXml("组", ItemXml("一", "镕 &amp; &lt;书&gt; &quot;")), "根"));
  const std::string once = Normalise("c.xml");
  // The printer quotes a value holding a double quote with single quotes.
  EXPECT_NE(once.find("name='镕 &amp; &lt;书&gt; &quot;'"), std::string::npos) << once;
  auto file = Load("c.xml");
  CXmlElement* item = nullptr;
  ASSERT_TRUE(file->FindItemInAnyGroup(Gb("一").c_str(), &item));
  EXPECT_EQ(item->name(), Gb("镕 & <书> \""));
  file.reset();
  EXPECT_EQ(Normalise("c.xml"), once);
}

// The same model as a TinyXML document tree, printed by TinyXML's own printer.
std::string PrintWithTinyXml(const CXmlFileObject& file) {
  TiXmlDocument document;
  document.InsertEndChild(TiXmlDeclaration("1.0", "gb2312", ""));
  TiXmlElement root(file.root_name());
  root.SetAttribute(Gb("分类"), file.category());
  root.SetAttribute(Gb("总数"), std::to_string(file.GetItemTotal()));
  root.SetAttribute(Gb("最大值"), file.maximum());
  for (int g = 0; g < file.GetGroupCount(); ++g) {
    CXmlGroup* group = nullptr;
    file.GetGroupAt(g, &group);
    TiXmlElement ge(group->element_name());
    ge.SetAttribute("id", group->id());
    ge.SetAttribute(Gb("总数"), std::to_string(group->GetItemCount()));
    ge.SetAttribute(Gb("最大值"), group->maximum());
    for (int i = 0; i < group->GetItemCount(); ++i) {
      CXmlElement* item = nullptr;
      group->GetItemAt(i, &item);
      TiXmlElement ie(item->element_name());
      const char* names[] = {"id",    "name",  "photo", "date", "pay",
                             "price", "DLurl", "RDurl", "BYurl"};
      const std::string* values[] = {&item->id(),     &item->name(),   &item->photo(),
                                     &item->date(),   &item->pay(),    &item->price(),
                                     &item->dl_url(), &item->rd_url(), &item->by_url()};
      for (int a = 0; a < 9; ++a) ie.SetAttribute(names[a], *values[a]);
      ge.InsertEndChild(ie);
    }
    root.InsertEndChild(ge);
  }
  document.InsertEndChild(root);
  TiXmlPrinter printer;
  printer.SetLineBreak("\r\n");
  document.Accept(&printer);
  return printer.Str();
}

TEST_F(XmlModelTest, PrintsExactlyAsTinyXmlPrintsTheSameTree) {
  dir_.Write(
      "c.xml",
      CatalogueXml(
          GroupXml("empty", "") +
              GroupXml("g",
                       "<书 id=\"q\" name='say \"hi\" &amp; it&apos;s' photo=\"&#x41;&#x09;\" "
                       "date=\"a&lt;b&gt;c\" pay=\"&#x1F;\" price=\"\" DLurl=\"x?a=1&amp;b=2\" "
                       "RDurl=\"/书/报告.pdf\" BYurl=\"镕\"/>\r\n" +
                           ItemXml("r", "plain")),
          "根"));
  auto file = Load("c.xml");
  ASSERT_EQ(file->GetItemTotal(), 2);
  EXPECT_EQ(file->Print(), PrintWithTinyXml(*file));
  // An empty file and a lone empty group.
  std::unique_ptr<CXmlFileObject> bare;
  CXmlFileObject::Create(&bare, "x", "r", "", "");
  EXPECT_EQ(bare->Print(), PrintWithTinyXml(*bare));
  std::unique_ptr<CXmlGroup> group;
  CXmlGroup::Create(&group, "g", "id", "");
  bare->AddGroup(std::move(group));
  EXPECT_EQ(bare->Print(), PrintWithTinyXml(*bare));
}

// Saving under a file-size limit fails part-way; the old file must stay whole and no
// temporary file may be left beside it.
TEST_F(XmlModelTest, AnInterruptedSaveLeavesTheOldFileWhole) {
  const std::string old_content = CatalogueXml(GroupXml("g", ItemXml("a", "old")));
  dir_.Write("c.xml", old_content);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    auto file = Load("c.xml");
    CXmlGroup* g = nullptr;
    file->FindGroup("g", &g);
    for (int i = 0; i < 1000; ++i) {
      std::unique_ptr<CXmlElement> item;
      CXmlElement::Create(&item, "e", ("n" + std::to_string(i)).c_str(), "new", "", "", "", "", "",
                          "", "");
      g->AddItem(std::move(item));
    }
    _exit(file->Save() ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the save should have failed";
  EXPECT_EQ(dir_.Read("c.xml"), old_content);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"c.xml"});
}

}  // namespace

}  // namespace library
