// The whole program fed what a hostile user or script would feed it: overlong, deep
// and out-of-range automation input, closed descriptors, folders and FIFOs under
// catalogue names, texts with zero bytes and unusable paths. The program never crashes,
// hangs or loses data, and says what it refused.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "../library/catalogue_text.h"
#include "../support/lumora_process.h"
#include "../support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Command(const std::string& command, const std::string& args) {
  return Json{{"fscommand", command}, {"args", args}}.dump();
}

class HeadlessHostileTest : public ::testing::Test {
 protected:
  HeadlessHostileTest() { home_.MakeDir("prog"); }
  LumoraOptions Options() const {
    LumoraOptions o;
    o.cwd = home_ / "prog";
    o.env = {{"XDG_DATA_HOME", home_ / "data"}};
    return o;
  }
  LumoraRun Run(const std::vector<std::string>& script) {
    LumoraRun run = RunLumora(Options(), script);
    EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
    EXPECT_TRUE(run.events.back().contains("quit")) << run.raw.back();
    return run;
  }
  // The error lines, in order.
  static std::vector<std::string> Errors(const LumoraRun& run) {
    std::vector<std::string> errors;
    for (const Json& e : run.All("error")) errors.push_back(e);
    return errors;
  }
  TempDir home_;
};

TEST_F(HeadlessHostileTest, DeepAndOverlongLinesAreRefusedAndTheProgramGoesOn) {
  const std::string deep =
      R"({"answer": )" + std::string(200000, '[') + std::string(200000, ']') + "}";
  // Just over the line limit, in one line: also read in linear time, or this test
  // would not end within its time-out.
  const std::string overlong =
      R"({"getVariable": ")" + std::string((16u << 20) + 10, 'x') + R"("})";
  // 64 levels in all, the line's own object included.
  const std::string at_limit = R"({"answer": )" + std::string(63, '[') + std::string(63, ']') + "}";
  LumoraRun run = Run({deep, overlong, at_limit, R"({"getVariable": "StageX"})"});
  std::vector<std::string> errors = Errors(run);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_NE(errors[0].find("nested deeper than 64"), std::string::npos) << errors[0];
  EXPECT_NE(errors[1].find("longer than 16777216 bytes"), std::string::npos) << errors[1];
  ASSERT_EQ(run.All("variable").size(), 1u);
  EXPECT_EQ(run.All("variable")[0]["value"], "1280");
}

TEST_F(HeadlessHostileTest, StartedWithInputClosedTheProgramEnds) {
  LumoraOptions o = Options();
  o.close_stdin = true;
  o.timeout_ms = 15000;
  LumoraRun run = RunLumora(o, {});
  EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
  ASSERT_FALSE(run.events.empty());
  EXPECT_EQ(run.events.back(), (Json{{"quit", 0}}));
}

TEST_F(HeadlessHostileTest, WaitsAndWorkAreasOutOfRangeAreRefused) {
  LumoraRun run = Run({R"({"wait": 1e20})", R"({"wait": 5e9})", R"({"wait": -1})", R"({"wait": 1})",
                       R"({"getVariable": "StageY"})"});
  std::vector<std::string> errors = Errors(run);
  ASSERT_EQ(errors.size(), 3u);
  for (const std::string& e : errors)
    EXPECT_NE(e.find("from 0 to 2147483647"), std::string::npos) << e;
  EXPECT_EQ(run.All("variable")[0]["value"], "1024");

  for (const char* area :
       {"2147483647x10+2147483647+0", "40000x10+0+0", "10x10+99999+0", "10x10+0+0junk", "0x10+0+0",
        "10x-5+0+0", "99999999999999999999x1+0+0"}) {
    LumoraOptions o = Options();
    o.args = {"--work-area", area};
    LumoraRun bad = RunLumora(o, {});
    EXPECT_EQ(bad.exit_code, 2) << area;
    EXPECT_NE(bad.stderr_text.find("32767"), std::string::npos) << area;
  }
  LumoraOptions o = Options();
  o.args = {"--work-area", "32767x32767+-32768+-32768"};
  LumoraRun edge = RunLumora(o, {});
  EXPECT_EQ(edge.exit_code, 0) << edge.stderr_text;
  EXPECT_EQ(edge.Variable("StageX"), "32767");
}

TEST_F(HeadlessHostileTest, ChosenAndDroppedFilesMustExistAndBeGivenInFull) {
  home_.Write("book.pdf", "%PDF");
  LumoraRun run = Run({
      Json{{"answer", {{"files", {"book.pdf"}}}}}.dump(),
      Command("openfile", ""),
      Json{{"answer", {{"files", {home_ / "book.pdf", home_ / "missing.pdf"}}}}}.dump(),
      Command("openfile", ""),
      Json{{"drop", {"book.pdf"}}}.dump(),
      Json{{"drop", {home_ / "nothing.pdf"}}}.dump(),
      Json{{"drop", {home_ / "prog"}}}.dump(),
  });
  std::vector<std::string> errors = Errors(run);
  ASSERT_EQ(errors.size(), 5u);
  EXPECT_NE(errors[0].find("not an absolute path"), std::string::npos) << errors[0];
  EXPECT_NE(errors[1].find("no such file"), std::string::npos) << errors[1];
  EXPECT_NE(errors[2].find("not an absolute path"), std::string::npos) << errors[2];
  EXPECT_NE(errors[3].find("no such file"), std::string::npos) << errors[3];
  EXPECT_NE(errors[4].find("a folder"), std::string::npos) << errors[4];
  // Refused choices are cancellations: no book was asked about.
  for (const Json& d : run.All("dialog")) {
    EXPECT_EQ(d["kind"], "openFiles");
    EXPECT_EQ(d["answer"], "cancel");
  }
}

TEST_F(HeadlessHostileTest, FoldersAndFifosUnderCatalogueNamesNeitherCrashNorBlock) {
  home_.MakeDir("prog/search.xml");
  home_.MakeDir("prog/public");
  ASSERT_EQ(mkfifo((home_ / "prog/fifo").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo((home_ / "prog/me.xml").c_str(), 0644), 0);
  // Where the program folder's lock file belongs: the work goes on without the lock,
  // and says so.
  ASSERT_EQ(mkfifo((home_ / "prog/.lumora.lock").c_str(), 0644), 0);
  LumoraOptions o = Options();
  o.timeout_ms = 20000;
  LumoraRun run = RunLumora(
      o, {Command("Del", "a=|c=.|g=g|i=i"), Command("Del", "a=|c=public|g=g|i=i"),
          Command("Del", "a=|c=search.xml|g=g|i=i"), Command("Del", "a=|c=me.xml|g=g|i=i"),
          Command("search", "f=|k=x|c=杂志"), Command("exec", "fifo")});
  EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
  // A folder under the results file's name is left as it is: no results were written.
  EXPECT_EQ(run.Variable("RetValSearch"), "false");
  EXPECT_TRUE(fs::is_directory(home_ / "prog/search.xml"));
  EXPECT_TRUE(fs::is_empty(home_ / "prog/search.xml"));
  EXPECT_TRUE(fs::is_fifo(home_ / "prog/me.xml"));
  EXPECT_TRUE(fs::is_fifo(home_ / "prog/.lumora.lock"));
  EXPECT_NE(run.stderr_text.find("lumora: cannot lock " + home_ / "prog/"), std::string::npos)
      << run.stderr_text;
  // A FIFO is not a file to open by its full path.
  ASSERT_EQ(run.All("shell").size(), 1u);
  EXPECT_EQ(run.All("shell")[0]["target"], "fifo");
}

TEST_F(HeadlessHostileTest, TextsFromTheMovieEndAtAZeroByte) {
  home_.Write("prog/search.xml",
              CatalogueXml(GroupXml("g", ItemXml("i1", "一") + ItemXml("i2", "二"))));
  // Whatever follows the zero byte is not part of the command or its argument.
  LumoraRun run = Run({Json{{"fscommand", std::string("Del\0junk", 8)},
                            {"args", std::string("a=|c=search.xml|g=g|i=i1\0|c=../x", 30)}}
                           .dump()});
  EXPECT_EQ(ListItems(home_ / "prog/search.xml"), (std::vector<std::string>{"g/i2=二"}));
}

TEST_F(HeadlessHostileTest, ADownloadWithNoPlaceForItsFileEndsFailed) {
  // Nobody is signed in: the book would go to the data folder's downloads, which a file
  // of that name stands in the way of. No file is made, and the movie hears that the
  // download ended failed rather than waiting for it.
  home_.Write("data/vellari/public/opds/catalogues.txt",
              "#next=2\no1\tc\thttp://127.0.0.1:9/opds/\t\n");
  home_.Write("data/vellari/downloads", "not a folder");
  LumoraRun run =
      Run({Command("opds", "op=down|id=o1|url=http://127.0.0.1:9/b.epub|name=x|key=k1")});
  std::vector<std::string> results;
  for (const Json& v : run.All("setVariable"))
    if (v["name"] == "DownloadResult") results.push_back(v["value"]);
  EXPECT_EQ(results, (std::vector<std::string>{"k1|7|创建本地文件失败"}));
  EXPECT_EQ(home_.Read("data/vellari/downloads"), "not a folder");
}

TEST_F(HeadlessHostileTest, AKeywordWhoseTrailByteIsABarStaysWhole) {
  home_.Write("data/vellari/public/maga/maga1.xml",
              CatalogueXml(GroupXml("g", ItemXml("a", "東京") + ItemXml("b", "枛"))));
  Run({Command("search", "f=search.xml|k=東|c=杂志")});
  EXPECT_EQ(ListItems(home_ / "prog/search.xml"), (std::vector<std::string>{"搜索结果/a=東京"}));
}

TEST_F(HeadlessHostileTest, AFolderWhoseNameIsNotUtf8IsReportedNotChanged) {
  const std::string odd = home_ / "prog/\xff\xfe";
  fs::create_directory(odd);
  LumoraOptions o = Options();
  o.cwd = odd;
  LumoraRun run = RunLumora(o, {Command("search", "f=|k=|c=杂志")});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.stderr_text.find("not valid UTF-8"), std::string::npos) << run.stderr_text;
  auto dialogs = run.All("dialog");
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0]["kind"], "message");
  EXPECT_EQ(dialogs[0]["text"].get<std::string>().rfind("文件夹名称无效", 0), 0u);
  EXPECT_EQ(run.events.back(), (Json{{"quit", 1}}));
  // Nothing was written anywhere, in that folder or another one of a similar name.
  EXPECT_TRUE(fs::is_empty(odd));
  EXPECT_EQ(std::distance(fs::directory_iterator(home_ / "prog"), fs::directory_iterator()), 1);
}

}  // namespace
