// The settings file and the autostart entry through the whole program on its automation
// interface, in a desktop of the test's own: the start-up record of the applications
// that open .sla and .slr files, and the "系统设置" command.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "../support/lumora_process.h"
#include "../support/temp_dir.h"
#include "../support/test_desktop.h"

namespace {

namespace fs = std::filesystem;

const std::string kSep = "\xA9\xAE";  // "┊" in the code page

std::string SettingsFile(const std::string& file_app) {
  return "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\r\n<systemsetting>\r\n"
         "    <item id=\"sound\" value=\"1\" />\r\n"
         "    <item id=\"autorun\" value=\"0\" />\r\n"
         "    <item id=\"websetting\" value=\"0\" />\r\n"
         "    <item id=\"fileAPP\" value=\"" +
         file_app + "\" />\r\n</systemsetting>\r\n";
}

ino_t Inode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::string SettingsCommand(const std::string& args) {
  return Json{{"fscommand", "系统设置"}, {"args", args}}.dump();
}

class HeadlessSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(desktop.ok());
    desktop.root().MakeDir("work");
    desktop.root().MakeDir("data/vellari/public");
  }

  std::string SettingsPath() const {
    return desktop.data_home() + "/vellari/public/vellariInfo.xml";
  }
  std::string EntryPath() const {
    return desktop.config_home() + "/autostart/VellariShelf.desktop";
  }
  void WriteSettings(const std::string& text) const {
    desktop.root().Write("data/vellari/public/vellariInfo.xml", text);
  }
  std::string ReadSettings() const {
    return desktop.root().Read("data/vellari/public/vellariInfo.xml");
  }

  // Runs the program in the folder |folder| below the root.
  LumoraRun Run(const std::vector<std::string>& script, const std::string& folder = "work") const {
    LumoraOptions o;
    o.cwd = desktop.root() / folder;
    o.env = desktop.Env();
    LumoraRun run = RunLumora(o, script);
    EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
    return run;
  }

  // The program the desktop would start for the autostart entry, as its Exec value
  // reads without quoting ("" when there is none).
  std::string AutostartProgram() const {
    if (!fs::exists(EntryPath())) return "";
    const std::string text = desktop.root().Read("config/autostart/VellariShelf.desktop");
    const std::size_t at = text.find("\nExec=");
    return at == std::string::npos ? "<no Exec>"
                                   : text.substr(at + 6, text.find('\n', at + 6) - at - 6);
  }

  TestDesktop desktop;
};

TEST_F(HeadlessSettingsTest, StartUpRecordsTheApplicationsOfTheShelfsDocuments) {
  const std::string reader = desktop.MakeProgram("bin/reader");
  const std::string viewer = desktop.MakeProgram("bin/viewer");
  desktop.AddEntry("reader.desktop", "Name=Reader\nExec=" + reader + " %f\nIcon=" + reader +
                                         ".png\nMimeType=" + TestDesktop::kSlaType + ";\n");
  // An icon that begins with a comma; a place holder in quotation marks.
  desktop.AddEntry("viewer.desktop", "Name=Viewer\nExec=" + viewer +
                                         " \"%f\"\nIcon=,viewer\n"
                                         "MimeType=" +
                                         TestDesktop::kSlrType + ";\n");
  desktop.SetDefaults(std::string(TestDesktop::kSlaType) + "=reader.desktop\n" +
                      TestDesktop::kSlrType + "=viewer.desktop\n");
  WriteSettings(SettingsFile(".sla" + kSep + "old.ico" + kSep + "old.exe" + kSep + kSep + ".abc" +
                             kSep + "abc.ico" + kSep + "abc.exe" + kSep + kSep));
  Run({});
  // TinyXML's writer puts a value with a quotation mark in single quotes.
  const std::string expected = ".abc" + kSep + "abc.ico" + kSep + "abc.exe" + kSep + kSep + ".sla" +
                               kSep + reader + ".png" + kSep + reader + kSep + kSep + ".slr" +
                               kSep + ",viewer" + kSep + viewer + " &quot;%f&quot;" + kSep + kSep;
  std::string file = SettingsFile("");
  file.replace(file.find("value=\"\" />\r\n</"), 11, "value='" + expected + "' />");
  EXPECT_EQ(ReadSettings(), file);
  // Start-up never touches the autostart entry.
  EXPECT_FALSE(fs::exists(EntryPath()));
}

TEST_F(HeadlessSettingsTest, WithoutApplicationsTheStoredRecordsStay) {
  // The .sla entry's program does not exist, so the desktop offers no application.
  desktop.AddEntry("gone.desktop", "Name=Gone\nExec=/nonexistent/gone %f\nMimeType=" +
                                       std::string(TestDesktop::kSlaType) + ";\n");
  desktop.SetDefaults(std::string(TestDesktop::kSlaType) + "=gone.desktop\n");
  const std::string stored = ".sla" + kSep + "old.ico" + kSep + "old.exe" + kSep + kSep;
  WriteSettings(SettingsFile(stored));
  Run({});
  EXPECT_EQ(ReadSettings(), SettingsFile(stored));
}

TEST_F(HeadlessSettingsTest, SystemSettingsStoreTheValuesAndSwitchTheAutostartEntry) {
  WriteSettings(SettingsFile(""));
  Run({SettingsCommand("sound=1|autorun=1|websetting=0")});
  std::string text = ReadSettings();
  EXPECT_NE(text.find("<item id=\"sound\" value=\"1\" />\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("<item id=\"autorun\" value=\"1\" />\r\n"), std::string::npos);
  EXPECT_NE(text.find("<item id=\"websetting\" value=\"0\" />\r\n"), std::string::npos);
  // The entry starts the program that ran, by its full path, and is a valid entry.
  const std::string program = desktop.root() / "work/lumora";
  EXPECT_EQ(AutostartProgram(), program);
  EXPECT_EQ(std::system(("desktop-file-validate '" + EntryPath() + "' >&2").c_str()), 0);

  // "01" reads as 1 as well; a word switches the entry off.
  fs::remove(EntryPath());
  Run({SettingsCommand("sound=0|autorun=01|websetting=1")});
  EXPECT_EQ(AutostartProgram(), program);
  Run({SettingsCommand("声音=开|autorun=yes|web=1")});
  EXPECT_FALSE(fs::exists(EntryPath()));
  // The movie's UTF-8 is stored in the file's code page.
  text = ReadSettings();
  EXPECT_NE(text.find("<item id=\"sound\" value=\"\xBF\xAA\" />"), std::string::npos) << text;
  EXPECT_NE(text.find("<item id=\"autorun\" value=\"yes\" />"), std::string::npos);

  // No "=" at all: the entry goes and the three values are emptied.
  Run({SettingsCommand("sound=1|autorun=1|websetting=1")});
  ASSERT_TRUE(fs::exists(EntryPath()));
  Run({SettingsCommand("no fields")});
  EXPECT_FALSE(fs::exists(EntryPath()));
  EXPECT_EQ(ReadSettings(),
            "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\r\n<systemsetting>\r\n"
            "    <item id=\"sound\" value=\"\" />\r\n"
            "    <item id=\"autorun\" value=\"\" />\r\n"
            "    <item id=\"websetting\" value=\"\" />\r\n"
            "    <item id=\"fileAPP\" value=\"\" />\r\n</systemsetting>\r\n");
}

TEST_F(HeadlessSettingsTest, AnAutostartEntryThatCannotChangeIsToldAndNotStored) {
  WriteSettings(SettingsFile(""));
  const auto told = [](const LumoraRun& run) {
    const std::vector<Json> dialogs = run.All("dialog");
    return dialogs.size() == 1 && dialogs[0]["kind"] == "message"
               ? dialogs[0]["text"].get<std::string>()
               : "<" + std::to_string(dialogs.size()) + " dialogs>";
  };
  const auto autorun_stored = [&] {
    const std::string text = ReadSettings(), key = "<item id=\"autorun\" value=\"";
    const std::size_t at = text.find(key);
    if (at == std::string::npos) return std::string("<none>");
    return text.substr(at + key.size(), text.find('"', at + key.size()) - at - key.size());
  };
  // A read-only autostart folder: the entry is not made, and the setting stays off.
  const std::string folder = desktop.config_home() + "/autostart";
  desktop.root().MakeDir("config/autostart");
  chmod(folder.c_str(), 0555);
  LumoraRun run = Run({SettingsCommand("sound=0|autorun=1|websetting=1")});
  EXPECT_EQ(told(run), "开机启动设置失败，不能写入自启动项：" + EntryPath());
  EXPECT_FALSE(fs::exists(EntryPath()));
  EXPECT_EQ(autorun_stored(), "0");
  EXPECT_NE(ReadSettings().find("<item id=\"websetting\" value=\"1\" />"), std::string::npos);
  // An entry made before the folder became read-only: it cannot go, and the setting
  // becomes on.
  chmod(folder.c_str(), 0755);
  run = Run({SettingsCommand("sound=0|autorun=1|websetting=1")});
  EXPECT_EQ(told(run), "<0 dialogs>");
  chmod(folder.c_str(), 0555);
  run = Run({SettingsCommand("sound=0|autorun=0|websetting=1")});
  EXPECT_EQ(told(run), "取消开机启动失败，不能删除自启动项：" + EntryPath());
  EXPECT_EQ(AutostartProgram(), desktop.root() / "work/lumora");
  EXPECT_EQ(autorun_stored(), "1");
  chmod(folder.c_str(), 0755);

  // A program folder whose name no desktop entry can hold: nothing made, setting off.
  fs::remove(EntryPath());
  desktop.root().MakeDir("line\nbreak");
  run = Run({SettingsCommand("sound=0|autorun=1|websetting=1")}, "line\nbreak");
  EXPECT_EQ(told(run), "开机启动设置失败：程序所在文件夹的名称含有自启动项不能记录的字符");
  EXPECT_FALSE(fs::exists(EntryPath()));
  EXPECT_EQ(autorun_stored(), "0");
}

TEST_F(HeadlessSettingsTest, WithoutFileAppTheFileIsNotWrittenAtStart) {
  const std::string reader = desktop.MakeProgram("bin/reader");
  desktop.AddEntry("reader.desktop", "Name=Reader\nExec=" + reader +
                                         " %f\nMimeType=" + TestDesktop::kSlaType + ";\n");
  desktop.SetDefaults(std::string(TestDesktop::kSlaType) + "=reader.desktop\n");
  const std::string text =
      "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\r\n<systemsetting>\r\n"
      "    <item id=\"sound\" value=\"1\" />\r\n</systemsetting>\r\n";
  WriteSettings(text);
  const ino_t inode = Inode(SettingsPath());
  Run({});
  EXPECT_EQ(Inode(SettingsPath()), inode);
  EXPECT_EQ(ReadSettings(), text);
  // The command still stores the value it finds a place for.
  Run({SettingsCommand("sound=0|autorun=0|websetting=0")});
  EXPECT_NE(ReadSettings().find("<item id=\"sound\" value=\"0\" />"), std::string::npos);
}

TEST_F(HeadlessSettingsTest, WithoutASettingsFileOnlyTheAutostartEntryChanges) {
  Run({SettingsCommand("sound=1|autorun=1|websetting=1")});
  EXPECT_FALSE(fs::exists(SettingsPath()));
  EXPECT_FALSE(fs::exists(desktop.data_home() + "/vellari/public/.vellariInfo.xml"));
  EXPECT_EQ(AutostartProgram(), desktop.root() / "work/lumora");
  // Nor is the public folder made when it is missing.
  fs::remove_all(desktop.data_home() + "/vellari");
  Run({SettingsCommand("sound=1|autorun=0|websetting=1")});
  EXPECT_FALSE(fs::exists(desktop.data_home() + "/vellari"));
  EXPECT_FALSE(fs::exists(EntryPath()));
}

TEST_F(HeadlessSettingsTest, HostileSettingsFilesAndDesktopRecordsChangeNothing) {
  const std::string reader = desktop.MakeProgram("bin/reader");
  desktop.AddEntry("reader.desktop", "Name=Reader\nExec=" + reader +
                                         " %f\nMimeType=" + TestDesktop::kSlaType + ";\n");
  // A desktop entry with bytes that are not UTF-8 is no application.
  desktop.AddEntry("broken.desktop", "Name=Broken\nExec=" + reader +
                                         "\xB6\xC1 %f\nMimeType=" + TestDesktop::kSlrType + ";\n");
  desktop.SetDefaults(std::string(TestDesktop::kSlaType) + "=reader.desktop\n" +
                      TestDesktop::kSlrType + "=broken.desktop\n");
  // Not well-formed: never overwritten, neither at start nor by the command.
  const std::string broken = SettingsFile("") + "<systemsetting>";
  WriteSettings(broken);
  Run({SettingsCommand("sound=1|autorun=1|websetting=1")});
  EXPECT_EQ(ReadSettings(), broken);
  EXPECT_EQ(AutostartProgram(), desktop.root() / "work/lumora");

  // A well-formed file takes the .sla record; the broken .slr entry adds nothing.
  WriteSettings(SettingsFile(""));
  Run({});
  EXPECT_EQ(ReadSettings(), SettingsFile(".sla" + kSep + kSep + reader + kSep + kSep));

  // The desktop's records in place of FIFOs or a device, which GIO would read without
  // end: the program asks nothing, ends normally and leaves the stored record.
  const std::string stored = SettingsFile(".sla" + kSep + "i" + kSep + "c" + kSep + kSep);
  const std::string list = desktop.config_home() + "/mimeapps.list";
  fs::remove(list);
  ASSERT_EQ(mkfifo(list.c_str(), 0600), 0);
  WriteSettings(stored);
  LumoraRun run = Run({});
  EXPECT_EQ(ReadSettings(), stored);
  EXPECT_NE(run.stderr_text.find("mimeapps.list"), std::string::npos) << run.stderr_text;
  fs::remove(list);
  fs::create_symlink("/dev/zero", list);
  Run({});
  EXPECT_EQ(ReadSettings(), stored);
  fs::remove(list);
  desktop.SetDefaults(std::string(TestDesktop::kSlaType) + "=fifo.desktop\n");
  const std::string entry = desktop.data_home() + "/applications/fifo.desktop";
  ASSERT_EQ(mkfifo(entry.c_str(), 0600), 0);
  Run({});
  EXPECT_EQ(ReadSettings(), stored);
  fs::remove(entry);

  // A FIFO under the settings file's name: the program neither blocks nor replaces it.
  fs::remove(SettingsPath());
  ASSERT_EQ(mkfifo(SettingsPath().c_str(), 0600), 0);
  Run({SettingsCommand("sound=1|autorun=0|websetting=1")});
  EXPECT_TRUE(fs::is_fifo(SettingsPath()));
  EXPECT_FALSE(fs::exists(EntryPath()));
}

}  // namespace
