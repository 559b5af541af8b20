// The program killed with SIGKILL at random moments, as a crash or a power cut would end
// it: while the movie's commands change the catalogues, the user's shelf and the
// settings (a thousand changes over many runs), and while the update window installs
// a release that replaces the program file and its desktop module with the rest. After
// every kill each file the program writes is whole and parses; a temporary file that a
// kill left behind is gone once the program has started again; the release is wholly
// the old one or wholly the new one once the next start has completed it, and that
// start, on the desktop, shows its window with the module of its own build.
//
// The moments come from a seeded generator: the seed is printed, and LUMORA_CRASH_SEED
// replays a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "../library/catalogue_text.h"
#include "../support/rename_counter.h"
#include "../support/running_lumora.h"
#include "../support/temp_dir.h"
#include "../support/vendor_process.h"
#include "../support/xvfb_display.h"
#include "library/shelf_names.h"
#include "os/system_entries.h"
#include "platform/desktop_interface.h"
#include "settings/settings_store.h"

namespace {

namespace fs = std::filesystem;
namespace shelf_names = library::shelf_names;
using Clock = std::chrono::steady_clock;
using library::CXmlFileObject;
using library::CXmlGroup;

constexpr int kChanges = 1000;   // changes sent over all runs of the catalogue part
constexpr int kItems = 1500;     // items of each public catalogue: writes take a while
constexpr int kUpdateRuns = 10;  // runs killed during an update
constexpr int kUpdateFiles = 8;  // the release's files besides the program's own
// Then the program file and its desktop module, in the program's folder.
constexpr int kProgramIndex = kUpdateFiles, kModuleIndex = kUpdateFiles + 1;
constexpr int kReleaseFiles = kUpdateFiles + 2;
const char* const kProgramFiles[] = {"lumora", "lumora-desktop.so"};
constexpr std::size_t kUpdateFileBytes = 256 * 1024;
constexpr int kUpdateKillMs = 1000;  // kills land up to this long after the start

const char* const kPublic[] = {"maga/maga1.xml", "book/book1.xml", "audio/audio1.xml",
                               "mics/mics1.xml", "video/video1.xml"};
const char* const kWords[] = {"春", "夏", "秋", "冬", "Book"};

std::string Command(const std::string& command, const std::string& args) {
  return Json{{"fscommand", command}, {"args", args}}.dump();
}
std::string Answer(const Json& answer) { return Json{{"answer", answer}}.dump(); }

// A temporary file of an atomic replacement: "." + NAME + "." + six letters or digits.
bool IsReplacementTemporary(const std::string& name) {
  static const std::regex pattern(R"(^\..+\.[A-Za-z0-9]{6}$)");
  return std::regex_match(name, pattern);
}

// Update file |index| as published in round |round| (round 0 is the file installed
// before any update): a head that names both, and a body whose length and bytes differ
// from round to round, so that a part of one version is never taken for a whole one.
std::string UpdateFileContent(int index, int round) {
  return "f" + std::to_string(index) + " round " + std::to_string(round) + "\n" +
         std::string(kUpdateFileBytes + static_cast<std::size_t>(round) * 512,
                     static_cast<char>('a' + round % 26));
}

// The build identity (the digest of the platform layer) that the program and the module
// of round |round| both carry: the built one in round 0, another of the same length in
// each later round, so that a program and a module of two rounds are of two builds,
// which the program refuses to run together.
std::string BuildIdentity(int round) {
  const std::string built = LUMORA_DESKTOP_INTERFACE;
  if (round == 0) return built;
  char head[9];
  std::snprintf(head, sizeof head, "r%07d", round);
  return head + built.substr(8);
}

// Runs xdotool on the current display; its standard output, empty when it failed.
std::string XdoTool(const std::string& args) {
  std::string out;
  FILE* pipe = popen(("timeout 5 xdotool " + args + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  pclose(pipe);
  return out;
}

// The manifest's version of round |round|, in an order that compares as text.
std::string UpdateVersion(int index, int round) {
  char version[32];
  std::snprintf(version, sizeof version, "2.0.%03d.%d", round, index);
  return version;
}

// The settings store needs the desktop's records only for what the test does not ask.
class NoEntries : public os::SystemEntries {
 public:
  base::Status SetAutostart(bool, const std::string&) override {
    return base::Status::Invalid("not asked by the test");
  }
  base::Status FindDefaultHandler(const std::string& extension, os::FileHandler*) override {
    return base::Status::NotFound(extension);
  }
};

class CrashSafetyTest : public ::testing::Test {
 protected:
  CrashSafetyTest() {
    const char* replay = std::getenv("LUMORA_CRASH_SEED");
    seed_ = replay != nullptr ? static_cast<unsigned>(std::strtoul(replay, nullptr, 10))
                              : std::random_device{}();
    random_.seed(seed_);
    std::printf("crash test seed %u (LUMORA_CRASH_SEED=%u replays it)\n", seed_, seed_);
    RecordProperty("seed", std::to_string(seed_));

    home_.MakeDir("prog");
    InstallProgram(home_ / "prog");
    home_.MakeDir("tmp");
    home_.MakeDir("config/autostart");
    for (int c = 0; c < 5; ++c) {
      std::string groups[2];
      for (int i = 0; i < kItems; ++i)
        groups[i % 2] += ItemXml("i" + std::to_string(i),
                                 "卷" + std::to_string(i) + " " + kWords[i % 5], "第1期");
      home_.Write(std::string("data/vellari/public/") + kPublic[c],
                  CatalogueXml(GroupXml("g0", groups[0]) + GroupXml("g1", groups[1])));
    }
    home_.Write("data/vellari/public/local/local1.xml", CatalogueXml(""));
    home_.Write("data/vellari/public/vellariInfo.xml",
                "<?xml version=\"1.0\" encoding=\"gb2312\" ?>\r\n<systemsetting>\r\n"
                "    <item id=\"sound\" value=\"1\" />\r\n"
                "    <item id=\"autorun\" value=\"0\" />\r\n"
                "    <item id=\"websetting\" value=\"0\" />\r\n"
                "    <item id=\"fileAPP\" value=\"\" />\r\n</systemsetting>\r\n");
    for (const char* book : {"一.pdf", "二.txt", "三.wmv"})
      home_.Write(std::string("files/") + book, "x");
    cover_ = std::string(300 * 1024, 'c');
    home_.Write("files/cover.jpg", cover_);

    root_.Write("accounts.txt", "reader\tsecret\tU1\n");
    vendor_ = std::make_unique<VendorProcess>(std::vector<std::string>{"--root", root_.path()});
  }

  std::string Host() const { return "127.0.0.1:" + std::to_string(vendor_->port()); }
  std::string Url(const std::string& path) const { return "http://" + Host() + path; }
  std::string Data(const std::string& relative) const {
    return home_ / ("data/vellari/" + relative);
  }
  std::string Shelf() const { return home_ / "prog/reader/reader.xml"; }
  std::string AutostartEntry() const { return home_ / "config/autostart/VellariShelf.desktop"; }

  LumoraOptions Options(const std::vector<std::string>& args) const {
    LumoraOptions o;
    o.binary = home_ / "prog/lumora";
    o.cwd = home_ / "prog";
    o.args = args;
    o.env = {{"XDG_DATA_HOME", home_ / "data"},
             {"TMPDIR", home_ / "tmp"},
             {"XDG_CONFIG_HOME", home_ / "config"},
             {"LUMORA_SHOP_HOST", Host()},
             {"LUMORA_LOGIN_HOST", Host()}};
    return o;
  }

  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  // One change of a catalogue, the shelf or the settings, as the movie sends it.
  std::string RandomChange() {
    const std::string item = "i" + std::to_string(Between(0, kItems - 1));
    const std::string ref = std::string("t=1|f=public/") + kPublic[Between(0, 4)] + "|g=g" +
                            std::to_string(Between(0, 1)) + "|i=";
    switch (Between(0, 9)) {
      case 0:
      case 1:
        return Command("addfav", ref + item);
      case 2:
      case 3:
        return Command("read", ref + item);
      case 4:
        return Command("Del", "t=1|f=reader/reader.xml|g=" +
                                  std::string(Between(0, 1) ? "我的收藏" : "已阅读") +
                                  "|i=" + item);
      case 5:
        return Command("search", std::string("f=search.xml|k=") + kWords[Between(0, 4)] +
                                     "|c=杂志&图书&音频&视频&程序&本地文件");
      case 6:
      case 7:
        return Command("系统设置", "sound=" + std::to_string(Between(0, 9)) +
                                       "|autorun=" + std::to_string(Between(0, 1)) +
                                       "|websetting=" + std::to_string(Between(0, 9)));
      default: {
        // A local book with its cover picture: the dialogs' answers go first.
        static const char* const kBooks[] = {"一.pdf", "二.txt", "三.wmv"};
        const std::string book = home_ / (std::string("files/") + kBooks[Between(0, 2)]);
        return Answer({{"files", {book}}}) + "\n" +
               Answer({{"title", "书" + item}, {"cover", home_ / "files/cover.jpg"}}) + "\n" +
               Command("openfile", "");
      }
    }
  }

  // Every temporary file of a replacement below the test's folder.
  std::set<std::string> Temporaries() const {
    std::set<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(home_.path()))
      if (IsReplacementTemporary(e.path().filename())) found.insert(e.path());
    return found;
  }

  // Whatever moment the last run was killed at, every file it writes is whole.
  void ExpectFilesWhole() {
    for (const char* name : kPublic) {
      std::unique_ptr<CXmlFileObject> file;
      ASSERT_TRUE(CXmlFileObject::Open(&file, Data(std::string("public/") + name).c_str())) << name;
      EXPECT_EQ(file->GetItemTotal(), kItems) << name;
    }
    std::unique_ptr<CXmlFileObject> local;
    EXPECT_TRUE(CXmlFileObject::Open(&local, Data("public/local/local1.xml").c_str()));
    if (fs::exists(home_ / "prog/search.xml")) {
      std::unique_ptr<CXmlFileObject> search;
      EXPECT_TRUE(CXmlFileObject::Open(&search, (home_ / "prog/search.xml").c_str()));
      CXmlGroup* group = nullptr;
      EXPECT_TRUE(search->FindGroup(shelf_names::SearchResults().c_str(), &group));
    }
    if (fs::exists(Shelf())) {
      std::unique_ptr<CXmlFileObject> shelf;
      ASSERT_TRUE(CXmlFileObject::Open(&shelf, Shelf().c_str()));
      EXPECT_EQ(shelf->root_name(), shelf_names::ShelfRoot());
      EXPECT_EQ(shelf->GetGroupCount(), 5);
    }
    // The settings: understood, each value one that a command sent.
    NoEntries entries;
    settings::CSettingsStore store(entries);
    ASSERT_TRUE(store.Load(Data("public/vellariInfo.xml").c_str()));
    for (const char* id : {"sound", "autorun", "websetting", "fileAPP"}) {
      std::string value;
      EXPECT_TRUE(store.GetAttribute(settings::CSettingsStore::kItemPath, id, "value", &value))
          << id;
      if (std::string(id) != "fileAPP") {
        EXPECT_EQ(value.size(), 1u) << id << "=" << value;
      }
    }
    // The autostart entry: there whole, or not there.
    if (fs::exists(AutostartEntry())) {
      EXPECT_EQ(home_.Read("config/autostart/VellariShelf.desktop"),
                os::AutostartEntryText(home_ / "prog/lumora"));
    }
    // The cover picture: the whole copy, or none.
    if (fs::exists(Data("public/local/cover.jpg"))) {
      EXPECT_TRUE(home_.Read("data/vellari/public/local/cover.jpg") == cover_);
    }
  }

  // The file |index| of the release, below the test's folder.
  static std::string ReleaseFile(int index) {
    if (index >= kUpdateFiles) return std::string("prog/") + kProgramFiles[index - kUpdateFiles];
    return "data/vellari/public/upd/f" + std::to_string(index) + ".bin";
  }

  // Keeps the program and the module as built, and finds the build identity in each.
  void ReadBuiltProgram() {
    const std::string identity = BuildIdentity(0);
    for (int own = 0; own < 2; ++own) {
      built_[own] = home_.Read(std::string("prog/") + kProgramFiles[own]);
      identity_at_[own] = built_[own].find(identity);
      ASSERT_NE(identity_at_[own], std::string::npos) << kProgramFiles[own];
      ASSERT_EQ(built_[own].find(identity, identity_at_[own] + 1), std::string::npos)
          << kProgramFiles[own] << " names its build identity twice";
    }
  }

  // The program file (|own| 0) or the module (1) of round |round|.
  std::string ProgramFileContent(int own, int round) const {
    return std::string(built_[own])
        .replace(identity_at_[own], BuildIdentity(round).size(), BuildIdentity(round));
  }

  // The round of the release that file |index| holds whole, or -1 when it holds none.
  int InstalledRound(int index) const {
    const std::string name = ReleaseFile(index);
    if (!fs::exists(home_ / name)) return -1;
    const std::string content = home_.Read(name);
    if (index >= kUpdateFiles) {
      const int own = index - kUpdateFiles;
      const std::size_t at = identity_at_[own], length = BuildIdentity(0).size();
      if (content.size() != built_[own].size()) return -2;
      for (int round = 0; round <= kUpdateRuns; ++round)
        if (content.compare(at, length, BuildIdentity(round)) == 0)
          return content.compare(0, at, built_[own], 0, at) == 0 &&
                         content.compare(at + length, std::string::npos, built_[own],
                                         at + length) == 0
                     ? round
                     : -2;
      return -2;
    }
    const std::string head = "f" + std::to_string(index) + " round ";
    if (content.rfind(head, 0) != 0) return -2;
    const int round = std::atoi(content.c_str() + head.size());
    return content == UpdateFileContent(index, round) ? round : -2;
  }

  // Whether file |index| of the release was there before any update.
  static bool InstalledBefore(int index) {
    return index < kUpdateFiles / 2 || index >= kUpdateFiles;
  }

  // What the update runs up to |round| leave: each file whole, of a round published so
  // far (the program's own and the first half of the others were there before any
  // update, so never missing); a version recorded only for what was installed, never
  // ahead of the file.
  void ExpectUpdateWhole(int round) {
    const std::vector<int> installed = InstalledRounds();
    for (int i = 0; i < kReleaseFiles; ++i) {
      EXPECT_NE(installed[i], -2) << ReleaseFile(i) << " is not a whole version";
      EXPECT_LE(installed[i], round) << ReleaseFile(i);
      if (InstalledBefore(i)) {
        EXPECT_GE(installed[i], 0) << ReleaseFile(i) << " was lost";
      }
    }
    if (!fs::exists(Data("installed-versions.txt"))) return;
    const std::string index = home_.Read("data/vellari/installed-versions.txt");
    static const std::regex line("2\\.0\\.([0-9]{3})\\.([0-9])\t([^\t\n]*)\n");
    std::size_t start = 0;
    for (std::size_t end; (end = index.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string entry = index.substr(start, end + 1 - start);
      std::smatch m;
      ASSERT_TRUE(std::regex_match(entry, m, line)) << entry;
      const int i = std::stoi(m[2]);
      ASSERT_LT(i, kReleaseFiles) << entry;
      EXPECT_EQ(m[3].str(), home_ / ReleaseFile(i)) << entry;
      EXPECT_LE(std::stoi(m[1]), installed[i]) << "recorded ahead of the file: " << entry;
    }
    EXPECT_EQ(start, index.size()) << "the index ends inside a line";
  }

  // Publishes round |round| of the update: every file new, with a higher version. The
  // program's own files are the first and the last of the release (which of them comes
  // first by |program_first|), so that its other files are renamed between them.
  void PublishUpdate(int round, bool program_first) {
    std::string files[kReleaseFiles];
    for (int i = 0; i < kReleaseFiles; ++i) {
      const bool own = i >= kUpdateFiles;
      const std::string name =
          own ? kProgramFiles[i - kUpdateFiles] : "f" + std::to_string(i) + ".bin";
      const std::string content =
          own ? ProgramFileContent(i - kUpdateFiles, round) : UpdateFileContent(i, round);
      root_.Write("upd/files/" + name, content);
      files[i] = "<File><FileName>" + name + "</FileName><FileVersion>" + UpdateVersion(i, round) +
                 "</FileVersion><Length>" + std::to_string(content.size()) + "</Length>" +
                 (own ? "<InstallDir>CURRENTDIR</InstallDir><LocalPath></LocalPath>"
                      : "<InstallDir>APPDATADIR</InstallDir><LocalPath>vellari\\public\\upd"
                        "</LocalPath>") +
                 "<URL>" + Url("/upd/files/" + name) + "</URL></File>\r\n";
    }
    std::string listed = files[program_first ? kProgramIndex : kModuleIndex];
    for (int i = 0; i < kUpdateFiles; ++i) listed += files[i];
    listed += files[program_first ? kModuleIndex : kProgramIndex];
    root_.Write("upd/manifest.xml",
                "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\r\n<xmlRoot keyname=\"KeyValue\">"
                "\r\n<Product productname=\"P\" createdate=\"2026-01-01 00:00:00\" filenum=\"" +
                    std::to_string(kReleaseFiles) + "\">\r\n" + listed +
                    "</Product>\r\n</xmlRoot>\r\n");
  }

  // Whether every file of the update release is as round |round| left it (round 0: as
  // there before any update, the second half of the other files missing).
  // |installed|: InstalledRounds().
  static bool ReleaseIs(const std::vector<int>& installed, int round) {
    for (int i = 0; i < kReleaseFiles; ++i)
      if (installed[i] != (round > 0 || InstalledBefore(i) ? round : -1)) return false;
    return true;
  }

  // The round that each file of the release holds (InstalledRound), read once.
  std::vector<int> InstalledRounds() const {
    std::vector<int> installed;
    for (int i = 0; i < kReleaseFiles; ++i) installed.push_back(InstalledRound(i));
    return installed;
  }

  // The next start, on the desktop as a user starts the program, on the display
  // |display|: it gets as far as showing its window, running the program file and the
  // module that are in the program's folder now (not a file that was replaced). Ended
  // then.
  void ExpectDesktopStarts(const XvfbDisplay& display) {
    LumoraOptions desktop = Options({});
    desktop.headless = false;
    desktop.env.insert(
        desktop.env.end(),
        {{"DISPLAY", display.name()}, {"WAYLAND_DISPLAY", ""}, {"GDK_BACKEND", "x11"}});
    RunningLumora program(desktop);
    const std::set<std::string> own = {home_ / "prog/lumora", home_ / "prog/lumora-desktop.so"};
    std::set<std::string> mapped;
    bool shown = false;
    for (const auto give_up = Clock::now() + std::chrono::seconds(60);
         !shown && program.Running() && Clock::now() < give_up;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      shown = !XdoTool("search --onlyvisible --name '^Lumora$'").empty();
      mapped = MappedFiles(program.pid());
    }
    EXPECT_TRUE(shown) << "the desktop did not show its window: " << program.Errors();
    for (const std::string& file : own) EXPECT_EQ(mapped.count(file), 1u) << file << " not run";
    program.Kill(SIGTERM);
  }

  // After a kill during the release of |round|, over the release of |old_round|: the
  // next start, on the desktop, completes a release whose renames the kill interrupted
  // (its journal left) and starts (ExpectDesktopStarts); then the release is wholly the
  // old one or wholly the new one (*whole_round becomes |round| when it is the new
  // one). True when the kill left a journal.
  bool ExpectReleaseWholeAfterNextStart(const XvfbDisplay& display, int* whole_round, int round) {
    const bool journal_left = fs::exists(Data("release-journal.txt"));
    ExpectDesktopStarts(display);
    EXPECT_FALSE(fs::exists(Data("release-journal.txt")));
    const std::vector<int> installed = InstalledRounds();
    std::string files;
    for (int i = 0; i < kReleaseFiles; ++i) files += " " + std::to_string(installed[i]);
    EXPECT_TRUE(ReleaseIs(installed, *whole_round) || ReleaseIs(installed, round))
        << "neither round " << *whole_round << " nor " << round << " whole:" << files;
    if (ReleaseIs(installed, round)) *whole_round = round;
    return journal_left;
  }

  // Waits for the start of |program| to be over and checks that the temporary files
  // |left| by earlier kills are gone: those of the user's folder once the user has
  // signed in (when |sign_in|; they stay until a sign-in otherwise), all others at once.
  void ExpectCleanedAtStart(RunningLumora& program, const std::set<std::string>& left,
                            bool sign_in) {
    ASSERT_TRUE(program.WaitForOutput({"{\"window\":"}, 10000)) << program.Errors();
    const std::string user_folder = home_ / "prog/reader/";
    for (const std::string& path : left) {
      if (path.rfind(user_folder, 0) == 0) continue;
      EXPECT_FALSE(fs::exists(path)) << path << " was left";
      ++left_behind_;
    }
    if (!sign_in) return;
    ASSERT_TRUE(program.Send(Command("logon", "u=reader|p=secret|x=|y=")));
    // The sign-in answers the movie before it sees to the user's folder; the program
    // takes its input in order, so the answer to a question sent after it comes once
    // the whole sign-in is over.
    ASSERT_TRUE(program.Send(R"({"getVariable":"UserID"})"));
    ASSERT_TRUE(program.WaitForOutput({R"({"variable":{"name":"UserID")"}, 10000))
        << program.Errors();
    for (const std::string& path : left) {
      if (path.rfind(user_folder, 0) != 0) continue;
      EXPECT_FALSE(fs::exists(path)) << path << " was left";
      ++left_behind_;
    }
  }

  // Starts the program; unless |kill_in_start|, waits for its start to be over (and
  // the user's sign-in when |sign_in|), and checks that the temporary files of earlier
  // kills are gone. Then sends changes from |next| until the random moment comes and
  // kills it. Returns the changes sent.
  template <typename Next>
  int RunAndKill(const LumoraOptions& options, bool kill_in_start, bool sign_in, int kill_after_ms,
                 Next next) {
    const std::set<std::string> left = Temporaries();
    RunningLumora program(options);
    if (!program.started()) return 0;
    if (kill_in_start) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kill_after_ms));
      EXPECT_EQ(program.Kill(SIGKILL), 128 + SIGKILL) << program.Errors();
      return 0;
    }
    ExpectCleanedAtStart(program, left, sign_in);
    const auto kill_at = Clock::now() + std::chrono::milliseconds(kill_after_ms);
    int sent = 0;
    while (Clock::now() < kill_at) {
      const std::string change = next();
      if (!change.empty()) {
        if (!program.Send(change)) break;
        ++sent;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(Between(0, 3000)));
    }
    EXPECT_EQ(program.Kill(SIGKILL), 128 + SIGKILL) << program.Errors();
    return sent;
  }

  // A run that is not killed: its start and the user's sign-in remove what the kills
  // left, and it ends when one of |done| shows in its output.
  void RunToTheEnd(const LumoraOptions& options, const std::vector<std::string>& done) {
    const std::set<std::string> left = Temporaries();
    RunningLumora program(options);
    ExpectCleanedAtStart(program, left, true);
    EXPECT_TRUE(program.WaitForOutput(done, 60000)) << program.Output();
    program.CloseInput();
    EXPECT_EQ(program.Wait(10000), 0) << program.Errors();
  }

  TempDir home_, root_;
  std::string built_[2];             // the program file and its module as built
  std::size_t identity_at_[2] = {};  // where each names its build identity
  std::unique_ptr<VendorProcess> vendor_;
  std::string cover_;
  unsigned seed_ = 0;
  std::mt19937 random_;
  int left_behind_ = 0;  // temporary files that kills left and the next start removed
};

TEST_F(CrashSafetyTest, KilledAnywhereTheProgramLeavesEveryFileWholeAndNoTemporaryFile) {
  // The catalogues, the shelf and the settings, a thousand changes over many runs.
  int sent = 0, runs = 0;
  while (sent < kChanges && !HasFatalFailure()) {
    ++runs;
    const bool in_start = Between(0, 7) == 0;
    sent += RunAndKill(Options({}), in_start, true, in_start ? Between(0, 120) : Between(10, 90),
                       [&] { return RandomChange(); });
    ExpectFilesWhole();
  }
  std::printf(
      "%d changes sent in %d runs; %d temporary files left by kills, removed at the "
      "next start\n",
      sent, runs, left_behind_);

  // The update window installing a release of the program file, its desktop module
  // and other files, some of them over older ones. Every run publishes a new round, of
  // another build, so that each run has every file to install.
  ReadBuiltProgram();
  if (HasFatalFailure()) return;
  const XvfbDisplay display(1280, 1024);
  ASSERT_TRUE(display.ready()) << "Xvfb did not start";
  root_.Write("upd/serverlist.txt", Gb("主服务器|" + Url("/upd/manifest.xml") + "\r\n"));
  for (int i = 0; i < kUpdateFiles / 2; ++i)
    home_.Write("data/vellari/public/upd/f" + std::to_string(i) + ".bin", UpdateFileContent(i, 0));
  const LumoraOptions update = Options({Url("/upd/serverlist.txt"), "auto"});
  int round = 0, whole_round = 0, killed_installing = 0, journals_left = 0, pairs_split = 0;
  while (++round <= kUpdateRuns && !HasFatalFailure()) {
    const bool program_first = Between(0, 1) == 0;
    PublishUpdate(round, program_first);
    if (round % 3 == 0) {
      RunAndKill(update, false, false, Between(0, kUpdateKillMs), [] { return std::string(); });
    } else if (round % 3 == 1) {
      // Killed about when the last file is in and the release is put in place.
      RunningLumora program(update);
      const std::string last = R"("name":"UpdatedFile","value":")" + std::to_string(kReleaseFiles);
      EXPECT_TRUE(program.WaitForOutput({last}, 60000)) << program.Output();
      std::this_thread::sleep_for(std::chrono::microseconds(Between(0, 1500)));
      program.Kill(SIGKILL);
    } else {
      // Killed as soon as the first of the program's own files is renamed into place,
      // before the other one is.
      RenameCounter renamed(home_ / ("prog/" + std::string(kProgramFiles[program_first ? 0 : 1])));
      RunningLumora program(update);
      for (const auto give_up = Clock::now() + std::chrono::seconds(60);
           renamed.Count() == 0 && program.Running() && Clock::now() < give_up;) {
      }
      EXPECT_EQ(renamed.Count(), 1) << program.Output();
      program.Kill(SIGKILL);
    }
    ExpectUpdateWhole(round);
    ExpectFilesWhole();
    const std::vector<int> killed = InstalledRounds();
    const auto fresh = std::count(killed.begin(), killed.end(), round);
    if (fresh > 0 && fresh < kReleaseFiles) ++killed_installing;
    pairs_split += killed[kProgramIndex] != killed[kModuleIndex];
    journals_left += ExpectReleaseWholeAfterNextStart(display, &whole_round, round);
  }
  std::printf(
      "%d of %d update runs killed between their first and last rename (%d of them between "
      "the program file and its module); %d left a journal that the next start completed\n",
      killed_installing, kUpdateRuns, pairs_split, journals_left);

  // One more start, not killed, finishes the update and removes what the kills left:
  // then every file is the last round's, and no temporary or partly downloaded file is
  // anywhere.
  RunToTheEnd(update, {"更新完毕", "你当前的版本是最新的"});
  ExpectUpdateWhole(kUpdateRuns);
  ExpectFilesWhole();
  EXPECT_TRUE(ReleaseIs(InstalledRounds(), kUpdateRuns));
  ExpectDesktopStarts(display);
  EXPECT_EQ(Temporaries(), std::set<std::string>{});
  for (const auto& e : fs::recursive_directory_iterator(home_.path()))
    EXPECT_NE(e.path().extension(), ".update") << e.path();
}

}  // namespace
