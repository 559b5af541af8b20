// The movie's window, shell and message-box commands on the automation interface.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "../support/lumora_process.h"
#include "../support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Command(const std::string& command, const std::string& args) {
  return Json{{"fscommand", command}, {"args", args}}.dump();
}

class CommandsTest : public ::testing::Test {
 protected:
  LumoraRun Run(const std::vector<std::string>& script,
                const std::string& work_area = "1280x1024+0+0") {
    LumoraOptions o;
    o.cwd = home_.path();
    o.env = {{"XDG_DATA_HOME", home_ / "data"}};
    o.args = {"--work-area", work_area};
    return RunLumora(o, script);
  }
  // The window events after start-up.
  static std::vector<Json> WindowsAfterStartUp(const LumoraRun& run) {
    auto all = run.All("window");
    return std::vector<Json>(all.begin() + 1, all.end());
  }
  TempDir home_;
};

TEST_F(CommandsTest, RevertCentresTheNormalSize) {
  LumoraRun run = Run({Command("win", "revert")});
  auto windows = WindowsAfterStartUp(run);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0],
            (Json{{"x", 128}, {"y", 128}, {"width", 1024}, {"height", 768}, {"state", "normal"}}));
  EXPECT_EQ(run.Variable("StageX"), "1024");
  EXPECT_EQ(run.Variable("StageY"), "768");
}

TEST_F(CommandsTest, RevertOnASmallWorkAreaTakesItWhole) {
  LumoraRun run = Run({Command("win", "revert")}, "800x570+0+0");
  auto windows = WindowsAfterStartUp(run);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0],
            (Json{{"x", 0}, {"y", 0}, {"width", 800}, {"height", 570}, {"state", "normal"}}));
  EXPECT_EQ(run.Variable("StageX"), "800");
  EXPECT_EQ(run.Variable("StageY"), "570");
}

TEST_F(CommandsTest, MinAndMaxCoverTheWorkArea) {
  LumoraRun run = Run({Command("win", "revert"), Command("win", "min"), Command("win", "max")},
                      "1000x700+10+20");
  auto windows = WindowsAfterStartUp(run);
  ASSERT_EQ(windows.size(), 4u);
  // revert: right edge 1010 < 1024 and bottom 720 < 768, so the origin is (0, 0).
  EXPECT_EQ(windows[0],
            (Json{{"x", 0}, {"y", 0}, {"width", 1000}, {"height", 700}, {"state", "normal"}}));
  Json work{{"x", 10}, {"y", 20}, {"width", 1000}, {"height", 700}, {"state", "normal"}};
  EXPECT_EQ(windows[1], work);
  Json minimized = work;
  minimized["state"] = "minimized";
  EXPECT_EQ(windows[2], minimized);
  EXPECT_EQ(windows[3], work);
  EXPECT_EQ(run.Variable("StageX"), "1000");
  EXPECT_EQ(run.Variable("StageY"), "700");
}

TEST_F(CommandsTest, OtherWordsAndOtherCaseDoNothing) {
  LumoraRun run = Run({Command("win", "close"), Command("win", "Max"), Command("WIN", "max"),
                       Command("win", " max"), Command("del", "x"), Command("drag", "x"),
                       Command("skin", ""), Command("update", "")});
  EXPECT_TRUE(WindowsAfterStartUp(run).empty());
  EXPECT_EQ(run.All("setVariable").size(), 10u);  // the start-up ones only
  EXPECT_TRUE(run.All("dialog").empty());
  EXPECT_TRUE(run.All("error").empty());
}

TEST_F(CommandsTest, QuitAsksAndOnlyYesEnds) {
  LumoraRun run = Run({R"({"answer":"no"})", Command("win", "quit"), Command("win", "revert"),
                       R"({"answer":"yes"})", Command("win", "quit"), Command("win", "max")});
  auto dialogs = run.All("dialog");
  ASSERT_EQ(dialogs.size(), 2u);
  EXPECT_EQ(dialogs[0], (Json{{"kind", "question"},
                              {"text", "确定要退出吗？"},
                              {"caption", "提示"},
                              {"answer", "no"}}));
  EXPECT_EQ(dialogs[1]["answer"], "yes");
  // "no" went on to the revert; "yes" ended before the max.
  auto windows = WindowsAfterStartUp(run);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0]["width"], 1024);
  EXPECT_EQ(run.events.back(), (Json{{"quit", 0}}));
}

// "restart" ends the program without the quit question and starts it again in the same
// process with the same command line; the input written once the new program has started
// is the new program's.
TEST_F(CommandsTest, RestartStartsTheProgramAgainWithoutAsking) {
  auto stage_ys = std::make_shared<int>(0);
  const ScriptGate second_start{1, [stage_ys](const Json& event) {
                                  return event.contains("setVariable") &&
                                         event["setVariable"]["name"] == "StageY" &&
                                         ++*stage_ys == 2;
                                }};
  LumoraOptions o;
  o.cwd = home_.path();
  o.env = {{"XDG_DATA_HOME", home_ / "data"}};
  o.args = {"--work-area", "1000x700+0+0"};
  o.gates = {second_start};
  LumoraRun run = RunLumora(o, {Command("restart", ""), Command("win", "revert")});
  EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
  EXPECT_TRUE(run.All("dialog").empty());
  std::vector<std::string> dirs;
  for (const Json& v : run.All("setVariable"))
    if (v["name"] == "CurrentDir") dirs.push_back(v["value"]);
  ASSERT_EQ(dirs.size(), 2u);
  EXPECT_EQ(dirs[0], dirs[1]);
  EXPECT_EQ(run.All("movie").size(), 2u);
  // Both starts had the work area of the command line; the revert came after the second.
  auto windows = run.All("window");
  ASSERT_EQ(windows.size(), 3u);
  EXPECT_EQ(windows[0], windows[1]);
  EXPECT_EQ(windows[0]["width"], 1000);
  EXPECT_EQ(windows[2]["state"], "normal");
  const std::size_t second_movie = run.IndexOf("movie", run.IndexOf("movie") + 1);
  EXPECT_LT(second_movie, run.IndexOf("window", second_movie + 1));
  EXPECT_LT(run.IndexOf("quit"), second_movie);  // the first program's end, unasked
  EXPECT_EQ(run.events.back(), (Json{{"quit", 0}}));
}

TEST_F(CommandsTest, EscapeAsksEnterDoesNothingAndUnansweredMeansNo) {
  LumoraRun run = Run({R"({"key":"Return"})", R"({"key":"Escape"})", Command("win", "revert")});
  auto dialogs = run.All("dialog");
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0]["text"], "确定要退出吗？");
  EXPECT_EQ(dialogs[0]["answer"], "no");
  EXPECT_EQ(dialogs[0]["defaulted"], true);
  EXPECT_EQ(WindowsAfterStartUp(run).size(), 1u);
}

TEST_F(CommandsTest, AboutBoxOnItsKey) {
  LumoraRun run = Run({R"({"key":"F1"})"});
  auto dialogs = run.All("dialog");
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0]["kind"], "about");
  EXPECT_EQ(dialogs[0]["caption"], "关于 Lumora");
  EXPECT_EQ(dialogs[0]["text"], "Lumora Version 1.0");
}

TEST_F(CommandsTest, MessageBoxCommandsShowTheirTextUnderTheProgramName) {
  LumoraRun run =
      Run({Command("收藏", "已收藏：图书"), Command("评论", "评论 😀 €"), Command("RSS设置", ""),
           Command("文件关联", "a|b=c"), Command("收藏 ", "not this one")});
  auto dialogs = run.All("dialog");
  ASSERT_EQ(dialogs.size(), 4u);
  EXPECT_EQ(dialogs[0], (Json{{"kind", "message"},
                              {"text", "已收藏：图书"},
                              {"caption", "lumora"},
                              {"answer", "ok"},
                              {"defaulted", true}}));
  EXPECT_EQ(dialogs[1]["text"], "评论 😀 €");
  EXPECT_EQ(dialogs[2]["text"], "");
  EXPECT_EQ(dialogs[3]["text"], "a|b=c");
}

TEST_F(CommandsTest, ExecOpensProgramFolderFilesByFullPath) {
  home_.Write("readme.txt", "hello");
  home_.Write("文档/说明.pdf", "%PDF");
  // A program of this machine (a copy of a real one) and a script, both executable.
  std::ifstream in("/bin/true", std::ios::binary);
  home_.Write("tool", std::string(std::istreambuf_iterator<char>(in), {}));
  home_.Write("tool.sh", "#!/bin/sh\n");
  for (const char* name : {"tool", "tool.sh"})
    fs::permissions(home_ / name, fs::perms::owner_exec, fs::perm_options::add);
  LumoraRun run =
      Run({Command("exec", "readme.txt"), Command("exec", "文档/说明.pdf"),
           Command("exec", "http://example.test/page?a=1&b=2"), Command("exec", "missing.txt"),
           Command("exec", "/etc/hostname"), Command("exec", "tool"), Command("exec", "tool.sh")});
  auto shells = run.All("shell");
  ASSERT_EQ(shells.size(), 7u);
  EXPECT_EQ(shells[0],
            (Json{{"target", home_ / "readme.txt"}, {"parameters", ""}, {"action", "open"}}));
  EXPECT_EQ(shells[1]["target"], home_ / "文档/说明.pdf");
  EXPECT_EQ(shells[2]["target"], "http://example.test/page?a=1&b=2");
  EXPECT_EQ(shells[3]["target"], "missing.txt");
  EXPECT_EQ(shells[4]["target"], "/etc/hostname");
  for (int i = 1; i < 5; ++i) EXPECT_EQ(shells[i]["action"], "open") << i;
  // A program is started; a script is a document, opened and never run.
  EXPECT_EQ(shells[5], (Json{{"target", home_ / "tool"}, {"parameters", ""}, {"action", "run"}}));
  EXPECT_EQ(shells[6],
            (Json{{"target", home_ / "tool.sh"}, {"parameters", ""}, {"action", "open"}}));
}

TEST_F(CommandsTest, MovieVariablesAreReadBack) {
  LumoraRun run = Run({R"({"setVariable":{"name":"UserPass","value":"真"}})",
                       R"({"getVariable":"UserPass"})", R"({"getVariable":"Nothing"})"});
  auto variables = run.All("variable");
  ASSERT_EQ(variables.size(), 2u);
  EXPECT_EQ(variables[0], (Json{{"name", "UserPass"}, {"value", "真"}}));
  EXPECT_EQ(variables[1]["value"], "");
}

TEST_F(CommandsTest, WaitKeepsTheOrderOfInput) {
  LumoraRun run = Run({Command("win", "revert"), R"({"wait":150})", Command("win", "max")});
  auto windows = WindowsAfterStartUp(run);
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_EQ(windows[0]["width"], 1024);
  EXPECT_EQ(windows[1]["width"], 1280);
}

}  // namespace
