// The freedesktop records through GIO, in a desktop of the test's own: the autostart
// entry written, validated and read back as the desktop would start it, and the default
// applications of .sla and .slr files found through the test's MIME database.
#include "os/system_entries.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "../support/test_desktop.h"

namespace {

namespace fs = std::filesystem;

// Types that two packages give the same file names, "*.slx": one in the user's MIME
// database, one in the system's.
constexpr const char* kUserClaim = "application/x-lumora-test-claim";
constexpr const char* kSystemClaim = "application/x-lumora-test-rival";

// Writes the package |name| giving files "*.slx" the type |type| below |data| (an XDG
// data folder) and rebuilds the MIME database there. True when it was rebuilt.
bool AddClaim(const std::string& data, const std::string& name, const std::string& type) {
  std::filesystem::create_directories(data + "/mime/packages");
  FILE* file = std::fopen((data + "/mime/packages/" + name).c_str(), "w");
  if (file == nullptr) return false;
  std::fprintf(file,
               "<?xml version=\"1.0\"?>\n<mime-info "
               "xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
               "<mime-type type=\"%s\"><glob pattern=\"*.slx\"/></mime-type>\n"
               "</mime-info>\n",
               type.c_str());
  std::fclose(file);
  return std::system(("update-mime-database '" + data + "/mime' >/dev/null 2>&1").c_str()) == 0;
}

// One desktop per process: GIO reads the XDG variables and its databases once.
const TestDesktop& Desktop() {
  static const TestDesktop desktop;
  static const bool applied = (AddClaim(desktop.data_home(), "claim.xml", kUserClaim) &&
                               AddClaim(desktop.root() / "data-dirs", "rival.xml", kSystemClaim)) &&
                              (desktop.Apply(), true);
  EXPECT_TRUE(applied);
  return desktop;
}

// The program that the desktop would start for the entry at |path|: its Exec value
// parsed as the desktop parses it (string escapes, quoting, then "%%" as one '%').
std::string ProgramStartedBy(const std::string& path) {
  GKeyFile* file = g_key_file_new();
  std::string program = "<unreadable>";
  if (g_key_file_load_from_file(file, path.c_str(), G_KEY_FILE_NONE, nullptr)) {
    gchar* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr);
    gchar** argv = nullptr;
    gint argc = 0;
    if (exec != nullptr && g_shell_parse_argv(exec, &argc, &argv, nullptr) && argc == 1) {
      program.clear();
      for (const char* p = argv[0]; *p != '\0'; ++p) {
        program += *p;
        if (p[0] == '%' && p[1] == '%') ++p;
      }
    }
    g_strfreev(argv);
    g_free(exec);
  }
  g_key_file_free(file);
  return program;
}

bool Validates(const std::string& path) {
  return std::system(("desktop-file-validate '" + path + "' >&2").c_str()) == 0;
}

TEST(AutostartEntryTest, StartsTheProgramByItsFullPathInItsFolder) {
  TempDir config;
  setenv("XDG_CONFIG_HOME", (config / "not yet/there").c_str(), 1);
  os::SystemEntries& entries = os::XdgSystemEntries();
  const std::string entry = config / "not yet/there/autostart/VellariShelf.desktop";
  ASSERT_EQ(os::AutostartEntryPath(), entry);
  // Paths with every kind of character the Exec value must quote or escape.
  for (const std::string program :
       {"/opt/lumora/lumora", "/opt/my shelf/lumora", "/opt/a\"b'c/$HOME`x`/l\\u;m|o&r*a?",
        "/opt/100% sure/#1 (new)/<l>~", "/opt/书架/阅读 器"}) {
    SCOPED_TRACE(program);
    ASSERT_TRUE(entries.SetAutostart(true, program));
    EXPECT_TRUE(Validates(entry));
    EXPECT_EQ(ProgramStartedBy(entry), program);
    GKeyFile* file = g_key_file_new();
    ASSERT_TRUE(g_key_file_load_from_file(file, entry.c_str(), G_KEY_FILE_NONE, nullptr));
    gchar* folder = g_key_file_get_string(file, "Desktop Entry", "Path", nullptr);
    EXPECT_STREQ(folder, fs::path(program).parent_path().c_str());
    g_free(folder);
    g_key_file_free(file);
  }
  // New folders are the user's own.
  struct stat st;
  ASSERT_EQ(stat((config / "not yet/there/autostart").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // Off removes the entry; off again finds nothing to remove and is content.
  EXPECT_TRUE(entries.SetAutostart(false, "/opt/lumora/lumora"));
  EXPECT_FALSE(fs::exists(entry));
  EXPECT_TRUE(entries.SetAutostart(false, "/opt/lumora/lumora"));
}

TEST(AutostartEntryTest, RefusesWhatCannotBeWrittenAndKeepsWhatIsNotItsOwn) {
  TempDir config;
  setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  os::SystemEntries& entries = os::XdgSystemEntries();
  const std::string entry = config / "autostart/VellariShelf.desktop";
  // A path that a desktop entry cannot carry: not UTF-8, a control character, relative.
  EXPECT_FALSE(entries.SetAutostart(true, "/opt/\xB6\xC1/lumora"));
  EXPECT_FALSE(entries.SetAutostart(true, "/opt/line\nbreak/lumora"));
  EXPECT_FALSE(entries.SetAutostart(true, "lumora"));
  EXPECT_FALSE(fs::exists(entry));
  // A folder under the entry's name is neither replaced nor removed.
  config.MakeDir("autostart/VellariShelf.desktop");
  EXPECT_FALSE(entries.SetAutostart(true, "/opt/lumora"));
  EXPECT_FALSE(entries.SetAutostart(false, "/opt/lumora"));
  EXPECT_TRUE(fs::is_directory(entry));
  fs::remove(entry);
  // A FIFO is not written into (which would block); a read-only entry is kept.
  ASSERT_EQ(mkfifo(entry.c_str(), 0600), 0);
  EXPECT_FALSE(entries.SetAutostart(true, "/opt/lumora"));
  EXPECT_TRUE(fs::is_fifo(entry));
  fs::remove(entry);
  config.Write("autostart/VellariShelf.desktop", "[Desktop Entry]\nHidden=true\n");
  chmod(entry.c_str(), 0444);
  EXPECT_FALSE(entries.SetAutostart(true, "/opt/lumora"));
  EXPECT_EQ(config.Read("autostart/VellariShelf.desktop"), "[Desktop Entry]\nHidden=true\n");
  fs::remove(entry);
  // A read-only autostart folder is left as it is, even by a user whom the system would
  // let write there; an entry that is already as asked needs no writing.
  const std::string folder = config / "autostart";
  chmod(folder.c_str(), 0555);
  EXPECT_FALSE(entries.SetAutostart(true, "/opt/lumora"));
  EXPECT_FALSE(fs::exists(entry));
  chmod(folder.c_str(), 0755);
  ASSERT_TRUE(entries.SetAutostart(true, "/opt/lumora"));
  chmod(folder.c_str(), 0555);
  EXPECT_TRUE(entries.SetAutostart(true, "/opt/lumora"));
  EXPECT_FALSE(entries.SetAutostart(true, "/opt/other"));
  EXPECT_FALSE(entries.SetAutostart(false, "/opt/lumora"));
  EXPECT_EQ(ProgramStartedBy(entry), "/opt/lumora");
  chmod(folder.c_str(), 0755);
  // The configuration folder being a file: nothing can be made below it.
  TempDir other;
  other.Write("config", "a file");
  setenv("XDG_CONFIG_HOME", (other / "config").c_str(), 1);
  EXPECT_FALSE(entries.SetAutostart(true, "/opt/lumora"));
}

TEST(DefaultHandlerTest, TheDefaultApplicationOfTheTypeOfTheFileName) {
  const TestDesktop& desktop = Desktop();
  ASSERT_TRUE(desktop.ok());
  const std::string reader = desktop.MakeProgram("bin/test reader/reader");
  const std::string other = desktop.MakeProgram("bin/other");
  desktop.AddEntry(
      "other-reader.desktop",
      "Name=Other\nExec=" + other + " %U\nIcon=other\nMimeType=" + TestDesktop::kSlaType + ";\n");
  desktop.AddEntry("test-reader.desktop", "Name=Reader\nExec=\"" + reader + "\" --view %f\nIcon=" +
                                              desktop.root() / "icons/reader.png" +
                                              "\nMimeType=" + TestDesktop::kSlaType + ";\n");
  // Two packages give .slx files types of their own; one application opens both.
  desktop.AddEntry("claim-reader.desktop", "Name=Claim\nExec=" + other + " %f\nMimeType=" +
                                               kUserClaim + ";" + kSystemClaim + ";\n");
  desktop.SetDefaults(std::string(TestDesktop::kSlaType) + "=test-reader.desktop;\n" + kUserClaim +
                      "=claim-reader.desktop;\n" + kSystemClaim + "=claim-reader.desktop;\n");

  os::FileHandler handler;
  ASSERT_TRUE(os::XdgSystemEntries().FindDefaultHandler(".sla", &handler));
  EXPECT_EQ(handler.command, "\"" + reader + "\" --view %f");
  EXPECT_EQ(handler.icon, desktop.root() / "icons/reader.png");
  // .slr has a type but no application; .zzz has no type at all.
  os::FileHandler none{"untouched", "untouched"};
  EXPECT_FALSE(os::XdgSystemEntries().FindDefaultHandler(".slr", &none));
  EXPECT_FALSE(os::XdgSystemEntries().FindDefaultHandler(".zzz", &none));
  EXPECT_FALSE(os::XdgSystemEntries().FindDefaultHandler("", &none));
  EXPECT_EQ(none.command, "untouched");

  // The type of a .slx file is only a guess: no application, although each type has one.
  for (const char* type : {kUserClaim, kSystemClaim}) {
    GAppInfo* app = g_app_info_get_default_for_type(type, FALSE);
    EXPECT_NE(app, nullptr) << type;
    if (app != nullptr) g_object_unref(app);
  }
  EXPECT_FALSE(os::XdgSystemEntries().FindDefaultHandler(".slx", &none));
  EXPECT_EQ(none.command, "untouched");
}

}  // namespace
