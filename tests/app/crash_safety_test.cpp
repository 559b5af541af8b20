// The program killed with SIGKILL at random moments, as a crash or a power cut would end
// it: while the movie's commands change the catalogues, the user's shelf and the
// settings (a thousand changes over many runs), and while the update window installs
// files. After every kill each file the program writes is whole and parses; a temporary
// file that a kill left behind is gone once the program has started again; an update
// file is either the old file or the new one, never a part of it.
//
// The moments come from a seeded generator: the seed is printed, and LUMORA_CRASH_SEED
// replays a run.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "../library/catalogue_text.h"
#include "../support/running_lumora.h"
#include "../support/temp_dir.h"
#include "../support/vendor_process.h"
#include "library/shelf_names.h"
#include "platform/system_entries.h"
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
constexpr int kUpdateFiles = 8;
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

// The manifest's version of round |round|, in an order that compares as text.
std::string UpdateVersion(int index, int round) {
  char version[32];
  std::snprintf(version, sizeof version, "2.0.%03d.%d", round, index);
  return version;
}

// The settings store needs the desktop's records only for what the test does not ask.
class NoEntries : public platform::SystemEntries {
 public:
  platform::Status SetAutostart(bool, const std::string&) override {
    return platform::Status::Invalid("not asked by the test");
  }
  platform::Status FindDefaultHandler(const std::string& extension,
                                      platform::FileHandler*) override {
    return platform::Status::NotFound(extension);
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
                platform::AutostartEntryText(home_ / "prog/lumora"));
    }
    // The cover picture: the whole copy, or none.
    if (fs::exists(Data("public/local/cover.jpg"))) {
      EXPECT_TRUE(home_.Read("data/vellari/public/local/cover.jpg") == cover_);
    }
  }

  // The round of the update that file |index| holds whole, or -1 when it holds none.
  int InstalledRound(int index) const {
    const std::string name = "data/vellari/public/upd/f" + std::to_string(index) + ".bin";
    if (!fs::exists(home_ / name)) return -1;
    const std::string content = home_.Read(name);
    const std::string head = "f" + std::to_string(index) + " round ";
    if (content.rfind(head, 0) != 0) return -2;
    const int round = std::atoi(content.c_str() + head.size());
    return content == UpdateFileContent(index, round) ? round : -2;
  }

  // What the update runs up to |round| leave: each file whole, of a round published so
  // far (the first half of them was there before any update, so never missing); a
  // version recorded only for what was installed, never ahead of the file.
  void ExpectUpdateWhole(int round) {
    std::vector<int> installed;
    for (int i = 0; i < kUpdateFiles; ++i) {
      installed.push_back(InstalledRound(i));
      EXPECT_NE(installed[i], -2) << "f" << i << ".bin is not a whole version";
      EXPECT_LE(installed[i], round) << "f" << i << ".bin";
      if (i < kUpdateFiles / 2) {
        EXPECT_GE(installed[i], 0) << "f" << i << ".bin was lost";
      }
    }
    if (!fs::exists(Data("installed-versions.txt"))) return;
    const std::string index = home_.Read("data/vellari/installed-versions.txt");
    static const std::regex line("2\\.0\\.([0-9]{3})\\.([0-9])\t" + Data("public/upd/f") +
                                 "([0-9])\\.bin\n");
    std::size_t start = 0;
    for (std::size_t end; (end = index.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string entry = index.substr(start, end + 1 - start);
      std::smatch m;
      ASSERT_TRUE(std::regex_match(entry, m, line)) << entry;
      EXPECT_EQ(m[2], m[3]) << entry;
      const int i = std::stoi(m[3]);
      EXPECT_LE(std::stoi(m[1]), installed[i]) << "recorded ahead of the file: " << entry;
    }
    EXPECT_EQ(start, index.size()) << "the index ends inside a line";
  }

  // Publishes round |round| of the update: every file new, with a higher version.
  void PublishUpdate(int round) {
    std::string files;
    for (int i = 0; i < kUpdateFiles; ++i) {
      const std::string name = "f" + std::to_string(i) + ".bin";
      const std::string content = UpdateFileContent(i, round);
      root_.Write("upd/files/" + name, content);
      files += "<File><FileName>" + name + "</FileName><FileVersion>" + UpdateVersion(i, round) +
               "</FileVersion><Length>" + std::to_string(content.size()) +
               "</Length><InstallDir>APPDATADIR</InstallDir><LocalPath>vellari\\public\\upd"
               "</LocalPath><URL>" +
               Url("/upd/files/" + name) + "</URL></File>\r\n";
    }
    root_.Write("upd/manifest.xml",
                "<?xml version=\"1.0\" encoding=\"GB2312\" ?>\r\n<xmlRoot keyname=\"KeyValue\">"
                "\r\n<Product productname=\"P\" createdate=\"2026-01-01 00:00:00\" filenum=\"" +
                    std::to_string(kUpdateFiles) + "\">\r\n" + files +
                    "</Product>\r\n</xmlRoot>\r\n");
  }

  // Whether every file of the update release is as round |round| left it (round 0: the
  // first half as there before any update, the second half missing).
  bool ReleaseIs(int round) const {
    for (int i = 0; i < kUpdateFiles; ++i)
      if (InstalledRound(i) != (round > 0 || i < kUpdateFiles / 2 ? round : -1)) return false;
    return true;
  }

  // After a kill during the release of |round|, over the release of |old_round|: a
  // release whose renames the kill interrupted (its journal left) is completed by the
  // next start, which ends here at once; then the release is wholly the old one or
  // wholly the new one. True when the kill left a journal.
  bool ExpectReleaseWholeAfterNextStart(int old_round, int round) {
    const bool journal_left = fs::exists(Data("release-journal.txt"));
    if (journal_left) {
      RunningLumora program(Options({}));
      EXPECT_TRUE(program.WaitForOutput({"{\"window\":"}, 10000)) << program.Errors();
      program.CloseInput();
      EXPECT_EQ(program.Wait(10000), 0) << program.Errors();
      EXPECT_FALSE(fs::exists(Data("release-journal.txt")));
    }
    std::string files;
    for (int i = 0; i < kUpdateFiles; ++i) files += " " + std::to_string(InstalledRound(i));
    EXPECT_TRUE(ReleaseIs(old_round) || ReleaseIs(round))
        << "neither round " << old_round << " nor " << round << " whole:" << files;
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
    EXPECT_TRUE(program.WaitForOutput(done, 20000)) << program.Output();
    program.CloseInput();
    EXPECT_EQ(program.Wait(10000), 0) << program.Errors();
  }

  TempDir home_, root_;
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

  // The update window installing files, some of them over older ones. Every run
  // publishes a new round, so that each run has every file to install.
  root_.Write("upd/serverlist.txt", Gb("主服务器|" + Url("/upd/manifest.xml") + "\r\n"));
  for (int i = 0; i < kUpdateFiles / 2; ++i)
    home_.Write("data/vellari/public/upd/f" + std::to_string(i) + ".bin", UpdateFileContent(i, 0));
  const LumoraOptions update = Options({Url("/upd/serverlist.txt"), "auto"});
  int round = 0, whole_round = 0, killed_installing = 0, journals_left = 0;
  while (++round <= kUpdateRuns && !HasFatalFailure()) {
    PublishUpdate(round);
    if (round % 2 == 0) {
      RunAndKill(update, false, false, Between(0, kUpdateKillMs), [] { return std::string(); });
    } else {
      // Killed about when the last file is in and the release is put in place.
      RunningLumora program(update);
      const std::string last = R"("name":"UpdatedFile","value":")" + std::to_string(kUpdateFiles);
      EXPECT_TRUE(program.WaitForOutput({last}, 10000)) << program.Output();
      std::this_thread::sleep_for(std::chrono::microseconds(Between(0, 1500)));
      program.Kill(SIGKILL);
    }
    ExpectUpdateWhole(round);
    ExpectFilesWhole();
    int fresh = 0;
    for (int i = 0; i < kUpdateFiles; ++i) fresh += InstalledRound(i) == round;
    if (fresh > 0 && fresh < kUpdateFiles) ++killed_installing;
    journals_left += ExpectReleaseWholeAfterNextStart(whole_round, round);
    if (ReleaseIs(round)) whole_round = round;
  }
  std::printf(
      "%d of %d update runs killed between their first and last rename; %d left a "
      "journal that the next start completed\n",
      killed_installing, kUpdateRuns, journals_left);

  // One more start, not killed, finishes the update and removes what the kills left:
  // then every file is the last round's, and no temporary or partly downloaded file is
  // anywhere.
  RunToTheEnd(update, {"更新完毕", "你当前的版本是最新的"});
  ExpectUpdateWhole(kUpdateRuns);
  ExpectFilesWhole();
  for (int i = 0; i < kUpdateFiles; ++i) EXPECT_EQ(InstalledRound(i), kUpdateRuns) << i;
  EXPECT_EQ(Temporaries(), std::set<std::string>{});
  for (const auto& e : fs::recursive_directory_iterator(home_.path()))
    EXPECT_NE(e.path().extension(), ".update") << e.path();
}

}  // namespace
