// Start-up of the whole program on its automation interface.
#include <gtest/gtest.h>

#include "../support/lumora_process.h"
#include "../support/temp_dir.h"

namespace {

LumoraOptions InFolders(const TempDir& home, const std::string& cwd) {
  LumoraOptions o;
  o.cwd = cwd;
  o.env = {{"XDG_DATA_HOME", home / "data"}, {"LUMORA_SHOP_HOST", "shop.test:8480"}};
  return o;
}

TEST(HeadlessStartupTest, HandsTheMovieEveryStartUpVariable) {
  TempDir home;
  home.MakeDir("work");
  LumoraRun run = RunLumora(InFolders(home, home / "work"), {});
  ASSERT_EQ(run.exit_code, 0) << run.stderr_text;
  EXPECT_EQ(run.Variable("UpdatedFile"), "0");
  EXPECT_EQ(run.Variable("TotalUpdateFile"), "0");
  EXPECT_EQ(run.Variable("FirstRun"), "true");
  EXPECT_EQ(run.Variable("WebUrl"), "http://shop.test:8480/Storage/XmlFile/");
  EXPECT_EQ(run.Variable("MyAppDataDir"), home / "data/vellari/");
  EXPECT_EQ(run.Variable("CurrentDir"), home / "work/");
  EXPECT_EQ(run.Variable("VellariOpml"), home / "data/vellari/public/RSS.opml");
  EXPECT_EQ(run.Variable("OpdsCatalogues"), "");  // none added
  EXPECT_EQ(run.Variable("StageX"), "1280");
  EXPECT_EQ(run.Variable("StageY"), "1024");
  // The movie comes first, then the variables in the order of start-up.
  std::vector<std::string> order;
  for (const Json& v : run.All("setVariable")) order.push_back(v["name"]);
  std::vector<std::string> expected = {
      "UpdatedFile", "TotalUpdateFile", "FirstRun",       "WebUrl", "MyAppDataDir",
      "CurrentDir",  "VellariOpml",     "OpdsCatalogues", "StageX", "StageY"};
  EXPECT_EQ(order, expected);
  ASSERT_LT(run.IndexOf("movie"), run.IndexOf("setVariable"));
  // The window covers the work area; end of input quits with 0, last.
  ASSERT_FALSE(run.All("window").empty());
  EXPECT_EQ(run.All("window").front(),
            (Json{{"x", 0}, {"y", 0}, {"width", 1280}, {"height", 1024}, {"state", "normal"}}));
  EXPECT_EQ(run.events.back(), (Json{{"quit", 0}}));
  // Nothing was created in the data folder.
  EXPECT_FALSE(std::filesystem::exists(home / "data/vellari"));
}

TEST(HeadlessStartupTest, FirstRunIsFalseOnceThePublicFolderExists) {
  TempDir home;
  home.MakeDir("data/vellari/public");
  LumoraRun run = RunLumora(InFolders(home, home.path()), {});
  EXPECT_EQ(run.Variable("FirstRun"), "false");
  // A plain file of that name is not the folder.
  TempDir other;
  other.Write("data/vellari/public", "not a folder");
  EXPECT_EQ(RunLumora(InFolders(other, other.path()), {}).Variable("FirstRun"), "true");
}

TEST(HeadlessStartupTest, RootFolderAndWorkAreaOption) {
  TempDir home;
  LumoraOptions o = InFolders(home, "/");
  o.args = {"--work-area", "800x570+0+0"};
  LumoraRun run = RunLumora(o, {});
  EXPECT_EQ(run.Variable("CurrentDir"), "/");
  EXPECT_EQ(run.Variable("StageX"), "800");
  EXPECT_EQ(run.Variable("StageY"), "570");
  // Chinese folder names reach the movie intact.
  TempDir chinese;
  chinese.MakeDir("书架");
  EXPECT_EQ(RunLumora(InFolders(chinese, chinese / "书架"), {}).Variable("CurrentDir"),
            chinese / "书架/");
}

TEST(HeadlessStartupTest, MovieIsReadThroughTheFileFunctions) {
  TempDir home;
  LumoraRun run = RunLumora(InFolders(home, home.path()), {});
  auto movies = run.All("movie");
  ASSERT_EQ(movies.size(), 1u);
  std::string path = movies[0]["path"];
  EXPECT_EQ(std::filesystem::path(path).filename(), "main12.swf");
  // Beside the program, which was started in its own folder.
  EXPECT_EQ(std::filesystem::path(path).parent_path(), std::filesystem::path(home.path()));
  // The stored movie, served from memory: no file of that name exists on disk.
  EXPECT_EQ(movies[0]["size"].get<long>(),
            static_cast<long>(std::filesystem::file_size(std::string(LUMORA_MOVIE_FILE))));
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(HeadlessStartupTest, BadOptionsAndLinesGetClearErrors) {
  TempDir home;
  LumoraOptions o = InFolders(home, home.path());
  o.args = {"--work-area", "huge"};
  LumoraRun bad = RunLumora(o, {});
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_NE(bad.stderr_text.find("--work-area"), std::string::npos);
  // A WebDriver session drives the desktop's web view; the headless face has none.
  o.args = {"--automation"};
  LumoraRun driven = RunLumora(o, {});
  EXPECT_EQ(driven.exit_code, 2);
  EXPECT_NE(driven.stderr_text.find("--automation"), std::string::npos) << driven.stderr_text;
  // An unknown option is named, with the way to the help, in the usual form.
  o.args = {"--frobnicate", "http://u/l.txt", "auto"};
  LumoraRun unknown = RunLumora(o, {});
  EXPECT_EQ(unknown.exit_code, 2);
  EXPECT_EQ(unknown.stderr_text,
            "lumora: unrecognized option '--frobnicate'\n"
            "Try 'lumora --help' for more information.\n");
  EXPECT_TRUE(unknown.raw.empty());
  // Help and version on standard output, nothing started.
  o.args = {"--version"};
  LumoraRun version = RunLumora(o, {});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.raw, (std::vector<std::string>{"lumora " LUMORA_VERSION}));
  EXPECT_EQ(version.stderr_text, "");
  o.args = {"--help"};
  LumoraRun help = RunLumora(o, {});
  EXPECT_EQ(help.exit_code, 0);
  ASSERT_FALSE(help.raw.empty());
  EXPECT_EQ(help.raw[0].rfind("Usage: lumora ", 0), 0u) << help.raw[0];
  std::string text;
  for (const std::string& line : help.raw) text += line + "\n";
  for (const char* option : {"--headless", "--work-area", "--automation", "--show-updates",
                             "--help", "--version", "SERVER-LIST-URL MODE"})
    EXPECT_NE(text.find(option), std::string::npos) << option;

  LumoraRun run =
      RunLumora(InFolders(home, home.path()),
                {"not json", "[1,2]", R"({"a":1,"b":2})", R"({"nosuch":1})", R"({"wait":"soon"})",
                 R"({"key":"Space"})", R"({"mouse":{"event":"down"}})", R"({"drop":"/x"})",
                 R"({"fscommand":5})", "", R"({"getVariable":"StageX"})"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.All("error").size(), 9u);
  for (const std::string& line : run.raw)
    EXPECT_FALSE(Json::parse(line, nullptr, false).is_discarded());
  // The program went on after the errors.
  ASSERT_EQ(run.All("variable").size(), 1u);
  EXPECT_EQ(run.All("variable")[0]["value"], "1280");
}

}  // namespace
