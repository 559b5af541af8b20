// scripts/install and scripts/uninstall in a temporary home, as a user runs them: what
// lands where, the desktop entry as desktop-file-validate and GIO see it, the program
// recording itself as the handler of .sla files, and an uninstall that leaves nothing
// of the installation behind (and the user's own files where they are).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "../support/command.h"
#include "../support/lumora_process.h"
#include "../support/temp_dir.h"
#include "base/ansi.h"
#include "os/system_entries.h"

namespace {

namespace fs = std::filesystem;

const std::string kScripts = std::string(LUMORA_SOURCE_DIR) + "/scripts/";

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Every path below |root|, relative to it.
std::set<std::string> Tree(const fs::path& root) {
  std::set<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    paths.insert(entry.path().lexically_relative(root).string());
  return paths;
}

// The width and height in the header of a PNG file.
std::pair<int, int> PngSize(const std::string& bytes) {
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
  const auto word = [&](std::size_t at) {
    return static_cast<int>(static_cast<unsigned char>(bytes[at]) << 24 |
                            static_cast<unsigned char>(bytes[at + 1]) << 16 |
                            static_cast<unsigned char>(bytes[at + 2]) << 8 |
                            static_cast<unsigned char>(bytes[at + 3]));
  };
  return {word(16), word(20)};
}

class InstallTest : public ::testing::Test {
 protected:
  InstallTest() : prefix_(home_ / ".local"), folder_(prefix_ + "/lib/lumora") {}

  // The desktop's view of this home: its own data and configuration, the system's
  // shared data.
  CommandOptions InHome() const {
    CommandOptions o;
    o.env = {{"HOME", home_.path()},
             {"XDG_DATA_HOME", prefix_ + "/share"},
             {"XDG_CONFIG_HOME", home_ / ".config"},
             {"XDG_DATA_DIRS", "/usr/local/share:/usr/share"}};
    return o;
  }
  CommandRun Script(const std::vector<std::string>& args) const {
    return RunCommand(args, InHome());
  }
  CommandRun Install() const { return Script({kScripts + "install", "--program", LUMORA_BINARY}); }

  TempDir home_;
  const std::string prefix_, folder_;
};

TEST_F(InstallTest, InstallsForTheUserAndUninstallsWithoutATrace) {
  const CommandRun installed = Install();
  ASSERT_EQ(installed.exit_code, 0) << installed.err;

  // The program in a folder of its own that the user can write, a link to it.
  EXPECT_EQ(ReadBytes(folder_ + "/lumora"), ReadBytes(LUMORA_BINARY));
  struct stat st {};
  ASSERT_EQ(stat((folder_ + "/lumora").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_EQ(access(folder_.c_str(), W_OK), 0);
  EXPECT_EQ(fs::read_symlink(prefix_ + "/bin/lumora"), "../lib/lumora/lumora");
  const CommandRun version = Script({prefix_ + "/bin/lumora", "--version"});
  EXPECT_EQ(version.out, "lumora " LUMORA_VERSION "\n");

  // The icon in every size of the theme.
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    const std::string name = std::to_string(size) + "x" + std::to_string(size);
    EXPECT_EQ(PngSize(ReadBytes(prefix_ + "/share/icons/hicolor/" + name + "/apps/lumora.png")),
              std::make_pair(size, size))
        << name;
  }

  // The desktop entry: valid, starting the program by its full path in its own folder,
  // offering it for the shelf's two document types.
  const std::string entry_path = prefix_ + "/share/applications/lumora.desktop";
  const CommandRun valid = Script({"desktop-file-validate", entry_path});
  EXPECT_EQ(valid.exit_code, 0);
  EXPECT_EQ(valid.out + valid.err, "");
  const std::string entry = ReadBytes(entry_path);
  for (const std::string& line : std::vector<std::string>{
           "Exec=\"" + folder_ + "/lumora\"\n", "Path=" + folder_ + "\n", "Icon=lumora\n",
           "MimeType=application/x-vellari-sla;application/x-vellari-slr;\n"})
    EXPECT_NE(entry.find("\n" + line), std::string::npos) << line << entry;

  // GIO, as the desktop asks it: a .sla file's type, and the type's application.
  home_.Write("book.sla", "shelf document");
  home_.Write("book.slr", "shelf document");
  EXPECT_NE(Script({"gio", "info", "-a", "standard::content-type", home_ / "book.sla"})
                .out.find("standard::content-type: application/x-vellari-sla"),
            std::string::npos);
  EXPECT_NE(Script({"gio", "info", "-a", "standard::content-type", home_ / "book.slr"})
                .out.find("standard::content-type: application/x-vellari-slr"),
            std::string::npos);
  const CommandRun handler = Script({"gio", "mime", "application/x-vellari-sla"});
  EXPECT_NE(handler.out.find("application/x-vellari-sla”: lumora.desktop"), std::string::npos)
      << handler.out << handler.err;
  fs::remove(home_ / "book.sla");
  fs::remove(home_ / "book.slr");

  // Installed again, over itself: the same files.
  const std::set<std::string> files = Tree(home_.path());
  ASSERT_EQ(Install().exit_code, 0);
  EXPECT_EQ(Tree(home_.path()), files);

  // What the user keeps in the program's folder stays, with the folder.
  home_.Write(".local/lib/lumora/reader/reader.xml", "<书架/>");
  const CommandRun kept = Script({kScripts + "uninstall"});
  EXPECT_EQ(kept.exit_code, 0) << kept.err;
  EXPECT_NE(kept.err.find(folder_ + " is kept"), std::string::npos) << kept.err;
  EXPECT_EQ(Tree(home_.path()), (std::set<std::string>{".local", ".local/lib", ".local/lib/lumora",
                                                       ".local/lib/lumora/reader",
                                                       ".local/lib/lumora/reader/reader.xml"}));
  fs::remove_all(folder_ + "/reader");
  const CommandRun again = Script({kScripts + "uninstall"});
  EXPECT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(again.err, "");
  EXPECT_TRUE(Tree(home_.path()).empty()) << *Tree(home_.path()).begin();
}

TEST_F(InstallTest, UninstallKeepsWhatOthersHaveInTheSameFolders) {
  // Another application's entry and MIME package, there before.
  home_.Write(".local/share/applications/other.desktop",
              "[Desktop Entry]\nType=Application\nName=Other\nExec=true\n"
              "MimeType=application/x-other;\n");
  home_.Write(".local/share/mime/packages/other.xml",
              "<?xml version=\"1.0\"?>\n<mime-info "
              "xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
              "<mime-type type=\"application/x-other\"><glob pattern=\"*.oth\"/></mime-type>\n"
              "</mime-info>\n");
  ASSERT_EQ(Script({"update-mime-database", prefix_ + "/share/mime"}).exit_code, 0);
  ASSERT_EQ(Install().exit_code, 0);
  // The autostart entry of an installation elsewhere.
  const std::string others_entry = os::AutostartEntryText("/opt/other shelf/lumora");
  home_.Write(".config/autostart/VellariShelf.desktop", others_entry);
  ASSERT_EQ(Script({kScripts + "uninstall", prefix_}).exit_code, 0);
  EXPECT_EQ(home_.Read(".config/autostart/VellariShelf.desktop"), others_entry);
  const std::set<std::string> left = Tree(prefix_);
  EXPECT_TRUE(left.count("share/applications/other.desktop"));
  EXPECT_TRUE(left.count("share/mime/packages/other.xml"));
  EXPECT_FALSE(left.count("share/mime/packages/lumora.xml"));
  EXPECT_FALSE(left.count("lib"));
  EXPECT_FALSE(left.count("bin"));
  EXPECT_FALSE(left.count("share/icons"));
  // The databases now know the other application's type and not ours.
  const std::string globs = ReadBytes(prefix_ + "/share/mime/globs2");
  EXPECT_NE(globs.find("application/x-other:*.oth"), std::string::npos) << globs;
  EXPECT_EQ(globs.find("vellari"), std::string::npos) << globs;
  const std::string index = ReadBytes(prefix_ + "/share/applications/mimeinfo.cache");
  EXPECT_NE(index.find("other.desktop"), std::string::npos) << index;
  EXPECT_EQ(index.find("lumora"), std::string::npos) << index;
}

TEST_F(InstallTest, TheInstalledProgramRecordsItselfAsTheHandlerOfItsDocuments) {
  ASSERT_EQ(Install().exit_code, 0);
  // The first settings file, where the program records the applications that open the
  // shelf's documents at every start.
  home_.Write(".local/share/vellari/public/vellariInfo.xml",
              ReadBytes(std::string(LUMORA_SOURCE_DIR) + "/res/settings/vellariInfo.xml"));
  LumoraOptions o;
  o.binary = prefix_ + "/bin/lumora";
  o.cwd = folder_;
  o.env = InHome().env;
  // Started with the session, as the user asks in the settings.
  const LumoraRun run = RunLumora(
      o, {Json{{"fscommand", "系统设置"}, {"args", "sound=1|autorun=1|websetting=0"}}.dump()});
  EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
  const std::string settings =
      ansi::ToUtf8Lossy(ReadBytes(home_ / ".local/share/vellari/public/vellariInfo.xml"));
  // The command quoted as desktop entries quote it, its quotation marks escaped in the
  // attribute.
  const std::string command = "&quot;" + folder_ + "/lumora&quot;";
  EXPECT_NE(settings.find(".sla┊lumora┊" + command + "┊┊.slr┊lumora┊" + command + "┊┊"),
            std::string::npos)
      << settings;

  // The autostart entry starts the installed program: uninstalled, it goes too, as does
  // one that starts it through a link with characters the entry quotes and escapes.
  const std::string entry = home_ / ".config/autostart/VellariShelf.desktop";
  ASSERT_NE(ReadBytes(entry).find("\nExec=" + folder_ + "/lumora\n"), std::string::npos)
      << ReadBytes(entry);
  ASSERT_EQ(Script({kScripts + "uninstall"}).exit_code, 0);
  EXPECT_FALSE(fs::exists(entry));
  ASSERT_EQ(Install().exit_code, 0);
  const std::string odd = home_ / "a \"b\" $c `d` \\e 100%/lumora";
  fs::create_directories(fs::path(odd).parent_path());
  fs::create_symlink(folder_ + "/lumora", odd);
  home_.Write(".config/autostart/VellariShelf.desktop", os::AutostartEntryText(odd));
  ASSERT_EQ(Script({kScripts + "uninstall"}).exit_code, 0);
  EXPECT_FALSE(fs::exists(entry));
}

TEST_F(InstallTest, MistakesInTheCommandLineAreNamed) {
  const CommandRun unknown = Script({kScripts + "install", "--frob"});
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_NE(unknown.err.find("unrecognized option '--frob'"), std::string::npos) << unknown.err;
  const CommandRun missing = Script({kScripts + "install", "--program", home_ / "none"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("is not a program"), std::string::npos) << missing.err;
  const CommandRun control =
      Script({kScripts + "install", "--program", LUMORA_BINARY, home_ / "a\nb"});
  EXPECT_EQ(control.exit_code, 2);
  EXPECT_FALSE(fs::exists(home_ / "a\nb"));
  EXPECT_EQ(Script({kScripts + "uninstall", "--frob"}).exit_code, 2);
  // Nothing was installed, so nothing is taken away.
  EXPECT_EQ(Script({kScripts + "uninstall"}).exit_code, 0);
  EXPECT_TRUE(Tree(home_.path()).empty());
}

}  // namespace
