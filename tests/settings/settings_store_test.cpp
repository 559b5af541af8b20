// The settings store on real settings files in temporary folders, with the desktop's
// records played by a double of the test's own that answers look-ups and remembers what
// the store asked of it.
#include "settings/settings_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <map>

#include "../support/temp_dir.h"
#include "base/ansi.h"
#include "base/files.h"
#include "base/folders.h"

namespace {

using settings::CSettingsStore;
using settings::RegistryRoot;

class FakeEntries : public os::SystemEntries {
 public:
  base::Status SetAutostart(bool enable, const std::string& program) override {
    calls.push_back({enable, program});
    return autostart_result;
  }
  base::Status FindDefaultHandler(const std::string& extension, os::FileHandler* out) override {
    auto found = handlers.find(extension);
    if (found == handlers.end()) return base::Status::NotFound(extension);
    *out = found->second;
    return base::Status::Ok();
  }

  std::map<std::string, os::FileHandler> handlers;
  std::vector<std::pair<bool, std::string>> calls;
  base::Status autostart_result;
};

// Text in the code page from UTF-8 literals.
std::string Cp(const std::string& utf8) { return ansi::FromUtf8Lossy(utf8); }

const std::string kSep = "\xA9\xAE";  // "┊"

std::string SettingsFile(const std::string& file_app, const std::string& line_end = "\r\n") {
  return "<?xml version=\"1.0\" encoding=\"gb2312\" ?>" + line_end + "<systemsetting>" + line_end +
         "    <item id=\"sound\" value=\"1\" />" + line_end +
         "    <item id=\"autorun\" value=\"0\" />" + line_end +
         "    <item id=\"websetting\" value=\"0\" />" + line_end +
         "    <item id=\"fileAPP\" value=\"" + file_app + "\" />" + line_end + "</systemsetting>" +
         line_end;
}

ino_t Inode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::string Value(const CSettingsStore& store, const char* id) {
  std::string value = "<missing>";
  if (!store.GetAttribute(CSettingsStore::kItemPath, id, "value", &value)) return "<missing>";
  return value;
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  std::string Path() const { return dir / "vellariInfo.xml"; }

  TempDir dir;
  FakeEntries entries;
  CSettingsStore store{entries};
};

TEST_F(SettingsStoreTest, FindsElementsDepthFirstByPathAndId) {
  dir.Write("vellariInfo.xml",
            "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\n"
            "<root>\n"
            "  <item id=\"outer\" value=\"not below systemsetting\" />\n"
            "  <group>\n"
            "    <systemsetting>\n"
            "      <deep><item id=\"sound\" value=\"deep\" other=\"x\" /></deep>\n"
            "      <item id=\"sound\" value=\"later\" />\n"
            "      <item value=\"no id\" />\n"
            "    </systemsetting>\n"
            "  </group>\n"
            "</root>\n");
  ASSERT_TRUE(store.Load(Path().c_str()));
  EXPECT_EQ(store.IsLoaded(), &store);
  std::string v;
  // Depth first in document order: the nested item comes before its later sibling.
  ASSERT_TRUE(store.GetAttribute("systemsetting/item", "sound", "value", &v));
  EXPECT_EQ(v, "deep");
  // Without an id the first item below systemsetting; empty parts are dropped.
  ASSERT_TRUE(store.GetAttribute("//systemsetting//item/", nullptr, "value", &v));
  EXPECT_EQ(v, "deep");
  // The search starts at the root itself and matches names exactly.
  ASSERT_TRUE(store.GetAttribute("root/item", nullptr, "value", &v));
  EXPECT_EQ(v, "not below systemsetting");
  v = "unchanged";
  EXPECT_FALSE(store.GetAttribute("SystemSetting/item", "sound", "value", &v));
  EXPECT_FALSE(store.GetAttribute("systemsetting/item", "outer", "value", &v));
  EXPECT_FALSE(store.GetAttribute("systemsetting/item", "sound", "Value", &v));
  EXPECT_FALSE(store.GetAttribute("", nullptr, "value", &v));
  EXPECT_EQ(v, "unchanged");
}

TEST_F(SettingsStoreTest, SetAttributeSavesInTheFilesOwnFormOrRefuses) {
  dir.Write("vellariInfo.xml", SettingsFile(""));
  ASSERT_TRUE(store.Load(Path().c_str()));
  chmod(Path().c_str(), 0640);
  const std::string chinese = Cp("开启");
  ASSERT_TRUE(store.SetAttribute(CSettingsStore::kItemPath, "sound", "value", chinese.c_str()));
  const std::string written = dir.Read("vellariInfo.xml");
  // The code page bytes, CR LF line ends, the mode of the old file.
  EXPECT_NE(written.find("<item id=\"sound\" value=\"" + chinese + "\" />\r\n"), std::string::npos)
      << written;
  EXPECT_EQ(written.find("\n<"), written.find("\r\n<") + 1);
  struct stat st;
  ASSERT_EQ(stat(Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // A fresh store reads back what was written.
  CSettingsStore again(entries);
  ASSERT_TRUE(again.Load(Path().c_str()));
  EXPECT_EQ(Value(again, "sound"), chinese);
  EXPECT_EQ(Value(again, "autorun"), "0");

  // Nothing is made: a missing item or attribute is refused and nothing is saved.
  const ino_t inode = Inode(Path());
  EXPECT_FALSE(store.SetAttribute(CSettingsStore::kItemPath, "volume", "value", "1"));
  EXPECT_FALSE(store.SetAttribute(CSettingsStore::kItemPath, "sound", "level", "1"));
  EXPECT_EQ(Inode(Path()), inode);
  EXPECT_EQ(dir.Read("vellariInfo.xml"), written);

  // A file that cannot be written keeps its content, and the store keeps what it holds.
  chmod(Path().c_str(), 0444);
  EXPECT_FALSE(store.SetAttribute(CSettingsStore::kItemPath, "sound", "value", "0"));
  EXPECT_EQ(Value(store, "sound"), chinese);
  EXPECT_EQ(dir.Read("vellariInfo.xml"), written);
}

TEST_F(SettingsStoreTest, TheProvisionedFileHoldsTheFourItemsAndIsWrittenAsItStands) {
  std::string original;
  ASSERT_TRUE(base::ReadWholeFile(LUMORA_SOURCE_DIR "/res/settings/vellariInfo.xml", &original));
  dir.Write("vellariInfo.xml", original);
  store.RecordFileHandlers(Path().c_str());
  ASSERT_EQ(store.IsLoaded(), &store);
  for (const char* id : {"sound", "autorun", "websetting", "fileAPP"})
    EXPECT_NE(Value(store, id), "<missing>") << id;
  // Written back with its own value, the file is byte for byte what it was.
  ASSERT_TRUE(store.SetAttribute(CSettingsStore::kItemPath, "sound", "value",
                                 Value(store, "sound").c_str()));
  EXPECT_EQ(dir.Read("vellariInfo.xml"), original);
}

TEST_F(SettingsStoreTest, KeepsLineEndsByteOrderMarkAndUtf8OfTheFile) {
  // A UTF-8 file takes values from the code page as UTF-8, keeps its mark and LF ends.
  dir.Write("vellariInfo.xml",
            "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<systemsetting>\n"
            "<item id=\"声音\" value=\"开\"/>\n</systemsetting>\n");
  ASSERT_TRUE(store.Load(Path().c_str()));
  EXPECT_EQ(Value(store, Cp("声音").c_str()), Cp("开"));
  ASSERT_TRUE(store.SetAttribute(CSettingsStore::kItemPath, Cp("声音").c_str(), "value",
                                 Cp("关闭").c_str()));
  const std::string written = dir.Read("vellariInfo.xml");
  EXPECT_TRUE(written.starts_with("\xEF\xBB\xBF<?xml")) << written;
  EXPECT_NE(written.find("value=\"关闭\""), std::string::npos) << written;
  EXPECT_EQ(written.find('\r'), std::string::npos);
}

TEST_F(SettingsStoreTest, RecordsHandlersBesideOtherExtensionsInByteOrder) {
  // The stored list holds .abc and an old .sla; the desktop has a new one for .sla.
  dir.Write("vellariInfo.xml",
            SettingsFile(".sla" + kSep + "old.png" + kSep + "old-reader" + kSep + kSep + ".abc" +
                         kSep + "abc.png" + kSep + "abc-viewer" + kSep + kSep));
  entries.handlers[".sla"] = {"/opt/reader/reader.png,2", "/opt/reader/bin/reader %f"};
  store.RecordFileHandlers(Path().c_str());
  EXPECT_EQ(store.IsLoaded(), &store);
  const std::string expected = ".abc" + kSep + "abc.png" + kSep + "abc-viewer" + kSep + kSep +
                               ".sla" + kSep + "/opt/reader/reader.png" + kSep +
                               "/opt/reader/bin/reader" + kSep + kSep;
  EXPECT_EQ(Value(store, "fileAPP"), expected);
  CSettingsStore again(entries);
  ASSERT_TRUE(again.Load(Path().c_str()));
  EXPECT_EQ(Value(again, "fileAPP"), expected);
  EXPECT_TRUE(entries.calls.empty());  // start-up never touches the autostart entry
}

TEST_F(SettingsStoreTest, RecordsWithEmptyFieldsReadBackAsWritten) {
  // As the store writes them: an empty extension, an empty icon, an empty command, both;
  // and the desktop's application of .sla files has no icon.
  const std::string stored = kSep + "i" + kSep + "c" + kSep + kSep + ".abc" + kSep + kSep +
                             "abc-viewer" + kSep + kSep + ".def" + kSep + "def.png" + kSep + kSep +
                             kSep + ".ghi" + kSep + kSep + kSep + kSep;
  dir.Write("vellariInfo.xml", SettingsFile(stored));
  entries.handlers[".sla"] = {"", "reader %f"};
  store.RecordFileHandlers(Path().c_str());
  const std::string expected = stored + ".sla" + kSep + kSep + "reader" + kSep + kSep;
  EXPECT_EQ(Value(store, "fileAPP"), expected);
  // Read again with no application on the desktop, every record stays as it was.
  entries.handlers.clear();
  store.RecordFileHandlers(Path().c_str());
  EXPECT_EQ(Value(store, "fileAPP"), expected);
  // A list whose records lack their ending separator is read record by record.
  dir.Write("vellariInfo.xml",
            SettingsFile(".b" + kSep + "i" + kSep + "c" + kSep + ".a" + kSep + kSep + "c2" + kSep));
  store.RecordFileHandlers(Path().c_str());
  EXPECT_EQ(Value(store, "fileAPP"),
            ".a" + kSep + kSep + "c2" + kSep + kSep + ".b" + kSep + "i" + kSep + "c" + kSep + kSep);
}

TEST_F(SettingsStoreTest, IconAndCommandTextsAsRecorded) {
  dir.Write("vellariInfo.xml", SettingsFile(""));
  // An icon that begins with its comma is whole; a blank and %1, or a field code, goes;
  // a place holder in quotation marks stays.
  entries.handlers[".sla"] = {",leading-comma", "reader --view %U --page %1 %F"};
  entries.handlers[".slr"] = {"reader-icon", "reader \"%f\" %u"};
  store.RecordFileHandlers(Path().c_str());
  EXPECT_EQ(Value(store, "fileAPP"), ".sla" + kSep + ",leading-comma" + kSep +
                                         "reader --view --page" + kSep + kSep + ".slr" + kSep +
                                         "reader-icon" + kSep + "reader \"%f\"" + kSep + kSep);
  // The desktop's UTF-8 reaches the file in the code page; the separator is found only
  // as a character of its own: in "\xB0\xA9\xAE\xA1" (two characters) its bytes stand
  // across the boundary and separate nothing.
  const std::string odd = ".x" + kSep + "\xB0\xA9\xAE\xA1" + kSep + "cmd" + kSep + kSep;
  dir.Write("vellariInfo.xml", SettingsFile(odd));
  entries.handlers.clear();
  entries.handlers[".sla"] = {"/图标/书.png", "/程序/阅读器 %f"};
  store.RecordFileHandlers(Path().c_str());
  EXPECT_EQ(Value(store, "fileAPP"),
            ".sla" + kSep + Cp("/图标/书.png") + kSep + Cp("/程序/阅读器") + kSep + kSep + odd);
}

TEST_F(SettingsStoreTest, LongRecordValuesAndMissingApplicationsLeaveTheStoredRecord) {
  const std::string stored = ".slr" + kSep + "i" + kSep + "c" + kSep + kSep + ".sla" + kSep +
                             "keep" + kSep + "me" + kSep + kSep + "dangling" + kSep;
  dir.Write("vellariInfo.xml", SettingsFile(stored));
  // A command that does not fit the record buffer counts as none; .slr has no application.
  entries.handlers[".sla"] = {"icon", "/" + std::string(258, 'x') + " %f"};
  ASSERT_EQ(store.ReadRegistryDefault(RegistryRoot::kClassesRoot, "slafile/shell/open/command"),
            "");
  entries.handlers[".sla"].command = "/" + std::string(255, 'x') + " %f";
  EXPECT_EQ(
      store.ReadRegistryDefault(RegistryRoot::kClassesRoot, "slafile/shell/open/command").size(),
      259u);
  entries.handlers[".sla"].command = "/" + std::string(258, 'x') + " %f";
  store.RecordFileHandlers(Path().c_str());
  // Records rewritten in order; the incomplete last group is dropped.
  EXPECT_EQ(Value(store, "fileAPP"), ".sla" + kSep + "keep" + kSep + "me" + kSep + kSep + ".slr" +
                                         kSep + "i" + kSep + "c" + kSep + kSep);
  // Keys that name no document type read as nothing.
  EXPECT_EQ(store.ReadRegistryDefault(RegistryRoot::kClassesRoot, "slafile/DefaultIcon"), "icon");
  EXPECT_EQ(store.ReadRegistryDefault(RegistryRoot::kLocalMachine, "slafile/DefaultIcon"), "");
  EXPECT_EQ(store.ReadRegistryDefault(RegistryRoot::kClassesRoot, "file/DefaultIcon"), "");
  EXPECT_EQ(store.ReadRegistryDefault(RegistryRoot::kClassesRoot, "slafile/shell/print"), "");
}

TEST_F(SettingsStoreTest, NoFileAppItemMeansNothingWrittenAtStart) {
  const std::string text =
      "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\r\n<systemsetting>\r\n"
      "    <item id=\"sound\" value=\"1\" />\r\n</systemsetting>\r\n";
  dir.Write("vellariInfo.xml", text);
  const ino_t inode = Inode(Path());
  entries.handlers[".sla"] = {"icon", "reader %f"};
  store.RecordFileHandlers(Path().c_str());
  EXPECT_EQ(store.IsLoaded(), &store);
  EXPECT_EQ(Inode(Path()), inode);
  EXPECT_EQ(dir.Read("vellariInfo.xml"), text);
}

TEST_F(SettingsStoreTest, SystemSettingsSwitchAutostartAndStoreTheValues) {
  dir.Write("vellariInfo.xml", SettingsFile(""));
  store.RecordFileHandlers(Path().c_str());
  store.ApplySystemSettings("sound=1|autorun=1|websetting=0");
  ASSERT_EQ(entries.calls.size(), 1u);
  EXPECT_TRUE(entries.calls[0].first);
  EXPECT_EQ(entries.calls[0].second, base::ProgramFile());
  EXPECT_EQ(Value(store, "sound"), "1");
  EXPECT_EQ(Value(store, "autorun"), "1");
  EXPECT_EQ(Value(store, "websetting"), "0");

  // The autorun value is read as a number: "01", " +1x" and "000000001" are 1; words,
  // -1, 11 and nothing at all are not.
  const std::vector<std::pair<std::string, bool>> cases = {
      {"01", true},  {" +1x", true}, {"000000001", true}, {"abc", false},
      {"-1", false}, {"11", false},  {"", false}};
  for (const auto& [value, on] : cases) {
    entries.calls.clear();
    store.ApplySystemSettings(("a=2|b=" + value + "|c=3").c_str());
    ASSERT_EQ(entries.calls.size(), 1u);
    EXPECT_EQ(entries.calls[0].first, on) << value;
    EXPECT_EQ(Value(store, "autorun"), value);
  }

  // No "=": autostart off and three empty values.
  entries.calls.clear();
  store.ApplySystemSettings("nothing here");
  ASSERT_EQ(entries.calls.size(), 1u);
  EXPECT_FALSE(entries.calls[0].first);
  EXPECT_EQ(Value(store, "sound"), "");
  EXPECT_EQ(Value(store, "autorun"), "");
  EXPECT_EQ(Value(store, "websetting"), "");

  // A value is cut to nine bytes, never inside a character; a missing bar empties the
  // value that needs it and those after it.
  store.ApplySystemSettings(("s=" + Cp("一二三四五") + "|a=1").c_str());
  EXPECT_EQ(Value(store, "sound"), Cp("一二三四"));
  EXPECT_EQ(Value(store, "autorun"), "");
  EXPECT_EQ(Value(store, "websetting"), "");
  // Special characters of XML are escaped and come back whole.
  store.ApplySystemSettings("s=<&\"'>|a=0|w=a&b");
  CSettingsStore again(entries);
  ASSERT_TRUE(again.Load(Path().c_str()));
  EXPECT_EQ(Value(again, "sound"), "<&\"'>");
  EXPECT_EQ(Value(again, "websetting"), "a&b");
}

TEST_F(SettingsStoreTest, AChangeKeepsWhatAnotherProgramSavedSinceTheFileWasRead) {
  dir.Write("vellariInfo.xml", SettingsFile(""));
  store.RecordFileHandlers(Path().c_str());
  // Another program starts later and records the application of .sla files.
  FakeEntries other_entries;
  other_entries.handlers[".sla"] = {"/opt/v.png", "/opt/viewer %f"};
  CSettingsStore other(other_entries);
  other.RecordFileHandlers(Path().c_str());
  store.ApplySystemSettings("s=0|a=0|w=1");
  CSettingsStore again(entries);
  ASSERT_TRUE(again.Load(Path().c_str()));
  EXPECT_EQ(Value(again, "fileAPP"),
            ".sla" + kSep + "/opt/v.png" + kSep + "/opt/viewer" + kSep + kSep);
  EXPECT_EQ(Value(again, "sound"), "0");
  EXPECT_EQ(Value(again, "websetting"), "1");
}

TEST_F(SettingsStoreTest, WithoutASettingsFileOnlyTheAutostartEntryChanges) {
  store.RecordFileHandlers(Path().c_str());
  EXPECT_EQ(store.IsLoaded(), nullptr);
  store.ApplySystemSettings("sound=1|autorun=1|websetting=1");
  ASSERT_EQ(entries.calls.size(), 1u);
  EXPECT_TRUE(entries.calls[0].first);
  EXPECT_FALSE(std::filesystem::exists(Path()));
  // A failing autostart entry is the store's result and nothing else.
  entries.autostart_result = base::Status::IoError("refused");
  EXPECT_FALSE(store.SetAutorun(true));
}

TEST_F(SettingsStoreTest, AnAutostartEntryThatCannotChangeIsWhatIsStored) {
  using Result = CSettingsStore::AutorunResult;
  dir.Write("vellariInfo.xml", SettingsFile(""));
  store.RecordFileHandlers(Path().c_str());
  // Not made: the other values are stored, autorun stays off.
  entries.autostart_result = base::Status::IoError("read-only folder");
  EXPECT_EQ(store.ChangeSystemSettings("sound=0|autorun=1|websetting=1"), Result::kNotMade);
  EXPECT_EQ(Value(store, "sound"), "0");
  EXPECT_EQ(Value(store, "autorun"), "0");
  EXPECT_EQ(Value(store, "websetting"), "1");
  // Not removed: it becomes on.
  EXPECT_EQ(store.ChangeSystemSettings("sound=1|autorun=0|websetting=0"), Result::kNotRemoved);
  EXPECT_EQ(Value(store, "sound"), "1");
  EXPECT_EQ(Value(store, "autorun"), "1");
  // A stored value that already says what the desktop does stays as it is.
  entries.autostart_result = base::Status::Ok();
  EXPECT_EQ(store.ChangeSystemSettings("s=1|a=01|w=1"), Result::kAsAsked);
  entries.autostart_result = base::Status::IoError("read-only folder");
  EXPECT_EQ(store.ChangeSystemSettings("s=1|a=no|w=1"), Result::kNotRemoved);
  EXPECT_EQ(Value(store, "autorun"), "01");
  // The program's path is one that an entry cannot carry: it becomes off.
  entries.autostart_result = base::Status::Invalid("a line break in the path");
  EXPECT_EQ(store.ChangeSystemSettings("s=1|a=1|w=1"), Result::kProgramNotNamed);
  EXPECT_EQ(Value(store, "autorun"), "0");
}

// Loads |path| on another thread; fails instead of hanging on a FIFO.
bool LoadsWithoutBlocking(CSettingsStore& store, const std::string& path, bool* loaded) {
  auto done = std::async(std::launch::async, [&] {
    store.RecordFileHandlers(path.c_str());
    *loaded = store.IsLoaded() != nullptr;
  });
  if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return true;
  int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
  if (writer >= 0) close(writer);
  done.wait();
  return false;
}

TEST_F(SettingsStoreTest, HostileSettingsFilesAreNeitherLoadedNorReplaced) {
  entries.handlers[".sla"] = {"icon", "reader %f"};
  std::string deep = "<?xml version=\"1.0\"?>";
  for (int i = 0; i < 100000; ++i) deep += "<systemsetting>";
  std::string huge = SettingsFile("");
  huge += std::string(CSettingsStore::kMaxFileBytes, ' ');
  std::string beyond = SettingsFile("&#x4E2D;");
  // The parser would stop at the zero byte; a save would drop what follows it.
  std::string zero = SettingsFile("") + std::string("\0", 1) + "<!-- kept -->\r\n";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"not well-formed",
       "<?xml version=\"1.0\"?><systemsetting><item id=\"fileAPP\" "
       "value=\"\"></systemsetting>"},
      {"no root", "<?xml version=\"1.0\"?>\n<!-- nothing -->\n"},
      {"empty", ""},
      {"deep", deep},
      {"huge", huge},
      {"reference beyond the code page", beyond},
      {"zero byte", zero},
      // Read, the value (unquoted) ends at the '/'; written back between quotes, its lead
      // byte would take the closing quote with it, and the file would not read again.
      {"UTF-8 that is not",
       "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
       "<systemsetting><item id=\"sound\" value=\xE0\xCF\xDD\xDF/>"
       "<item id=\"autorun\" value=\"0\" /></systemsetting>\r\n"},
      // TinyXML writes the declaration's values back unescaped: the encoding would come
      // back empty, the file would read as UTF-8, and "测" in the code page would take
      // its value's closing quote.
      {"entity in the declaration",
       "<?xml version=\"1.0\" encoding=\"&quot;\" ?>\r\n"
       "<systemsetting>\r\n<item id=\"sound\" value=\"0\" />\r\n"
       "<item id=\"name\" value=\"\xB2\xE2\" />\r\n"
       "</systemsetting>\r\n"},
  };
  for (const auto& [what, text] : files) {
    SCOPED_TRACE(what);
    dir.Write("vellariInfo.xml", text);
    const ino_t inode = Inode(Path());
    bool loaded = true;
    ASSERT_TRUE(LoadsWithoutBlocking(store, Path(), &loaded));
    EXPECT_FALSE(loaded);
    store.ApplySystemSettings("sound=1|autorun=1|websetting=1");
    EXPECT_EQ(Inode(Path()), inode);
    EXPECT_EQ(dir.Read("vellariInfo.xml"), text);
  }
  // A folder and a FIFO under the file's name: not read, not blocking, left there.
  std::filesystem::remove(Path());
  dir.MakeDir("vellariInfo.xml");
  bool loaded = true;
  ASSERT_TRUE(LoadsWithoutBlocking(store, Path(), &loaded));
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(std::filesystem::is_directory(Path()));
  std::filesystem::remove(Path());
  ASSERT_EQ(mkfifo(Path().c_str(), 0600), 0);
  ASSERT_TRUE(LoadsWithoutBlocking(store, Path(), &loaded));
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(std::filesystem::is_fifo(Path()));
}

TEST_F(SettingsStoreTest, BytesInvalidInTheCodePageAreKeptAsTheyStand) {
  // "\xFF\xFF" and a lead byte before a blank are no characters of the code page.
  const std::string odd = ".x" + kSep + "\xFF\xFF" + kSep + "run\x81 x" + kSep + kSep;
  dir.Write("vellariInfo.xml", SettingsFile(odd) + "<!-- \x80\xFF -->\r\n");
  entries.handlers[".slr"] = {"icon", "reader %f"};
  store.RecordFileHandlers(Path().c_str());
  ASSERT_EQ(store.IsLoaded(), &store);
  const std::string written = dir.Read("vellariInfo.xml");
  EXPECT_NE(written.find("reader" + kSep + kSep + odd), std::string::npos) << written;
  EXPECT_NE(written.find("<!-- \x80\xFF -->"), std::string::npos) << written;
}

}  // namespace
