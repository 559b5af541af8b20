#include <gtest/gtest.h>

#include "app/lumora_app.h"
#include "app/program_options.h"

namespace app {

namespace {

CLumoraApp Parse(const std::string& command_line) {
  CLumoraApp app{DeploymentSettings{}};
  app.ParseCommandLine(command_line);
  return app;
}

const std::string kDefaultUrl = "http://127.0.0.1:8480/Storage/XmlFile/serverlist.txt";

TEST(CommandLineTest, UrlAndAutoSetBoth) {
  CLumoraApp app = Parse("http://up.example/list.txt auto");
  EXPECT_EQ(app.server_list_url(), "http://up.example/list.txt");
  EXPECT_TRUE(app.auto_update());
  EXPECT_TRUE(Parse("http://u/l.txt AUTO").auto_update());
  EXPECT_TRUE(Parse("http://u/l.txt AuTo").auto_update());
}

TEST(CommandLineTest, UrlAloneOrEmptyChangesNothing) {
  for (const std::string line : {"", "http://u/l.txt", " http://u/l.txt auto", " "}) {
    CLumoraApp app = Parse(line);
    EXPECT_EQ(app.server_list_url(), kDefaultUrl) << '"' << line << '"';
    EXPECT_FALSE(app.auto_update()) << '"' << line << '"';
  }
}

TEST(CommandLineTest, OtherModesTakeTheUrlOnly) {
  CLumoraApp app = Parse("http://u/l.txt manual");
  EXPECT_EQ(app.server_list_url(), "http://u/l.txt");
  EXPECT_FALSE(app.auto_update());
  // Two spaces: the mode begins with a space and is not "auto".
  CLumoraApp two = Parse("http://u/l.txt  auto");
  EXPECT_EQ(two.server_list_url(), "http://u/l.txt");
  EXPECT_FALSE(two.auto_update());
  EXPECT_FALSE(Parse("http://u/l.txt auto ").auto_update());
  // No check of the URL's form.
  EXPECT_EQ(Parse("x y").server_list_url(), "x");
}

TEST(CommandLineTest, DefaultUrlUsesTheShopHost) {
  DeploymentSettings settings;
  settings.shop_host = "shop.test:9000";
  CLumoraApp app(settings);
  EXPECT_EQ(app.server_list_url(), "http://shop.test:9000/Storage/XmlFile/serverlist.txt");
}

}  // namespace

namespace {

// The program's arguments read with the desktop played as the toolkit makes it: it
// takes "--display VALUE" out of the arguments (and counts how often it was asked for).
class ProgramArgumentsTest : public ::testing::Test {
 protected:
  ProgramOptions Read(std::vector<std::string> words) {
    words.insert(words.begin(), "lumora");
    words_ = std::move(words);
    argv_.clear();
    for (std::string& word : words_) argv_.push_back(word.data());
    argv_.push_back(nullptr);
    int argc = static_cast<int>(words_.size());
    char** argv = argv_.data();
    return ReadProgramOptions(
        &argc, &argv, [this](int* count, char*** args, std::unique_ptr<platform::Platform>* face) {
          ++desktops_;
          int kept = 1;
          for (int i = 1; i < *count; ++i) {
            if (std::string((*args)[i]) == "--display" && i + 1 < *count) {
              ++i;
              continue;
            }
            (*args)[kept++] = (*args)[i];
          }
          *count = kept;
          *face = platform::CreateHeadlessPlatform(0, stdout, platform::Rect{0, 0, 10, 10});
          return base::Status::Ok();
        });
  }

  std::vector<std::string> words_;
  std::vector<char*> argv_;
  int desktops_ = 0;
};

TEST_F(ProgramArgumentsTest, ToolkitOptionsGoToTheDesktopAndTheRestIsTheCommandLine) {
  ProgramOptions desktop = Read({"--display", ":5", "--show-updates", "http://u/l.txt", "auto"});
  EXPECT_EQ(desktops_, 1);
  ASSERT_NE(desktop.face, nullptr) << desktop.error;
  EXPECT_TRUE(desktop.show_updates);
  EXPECT_EQ(desktop.command_line, "http://u/l.txt auto");
  // After "--" every word is the program's, also one that looks like an option.
  ProgramOptions words = Read({"--automation", "--", "--odd", "auto"});
  ASSERT_NE(words.face, nullptr) << words.error;
  EXPECT_TRUE(words.automation);
  EXPECT_EQ(words.command_line, "--odd auto");
  // Headless: no desktop; a value after "=" or as the next word.
  desktops_ = 0;
  ProgramOptions headless = Read({"--headless", "--work-area=800x570+10+20", "u", "auto"});
  EXPECT_EQ(desktops_, 0);
  ASSERT_NE(headless.face, nullptr) << headless.error;
  EXPECT_EQ(headless.work_area.Width(), 800);
  EXPECT_EQ(headless.work_area.top, 20);
  EXPECT_EQ(headless.command_line, "u auto");
  EXPECT_NE(Read({"--headless", "--work-area", "1x1+0+0"}).face, nullptr);
}

TEST_F(ProgramArgumentsTest, MistakesAreFoundBeforeAnyDisplayIsAskedFor) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> mistakes = {
      {{"--frob"}, "unrecognized option '--frob'"},
      {{"--display", ":5", "-x", "u", "auto"}, "unrecognized option '-x'"},
      {{"--work-area"}, "option '--work-area' requires an argument"},
      {{"--headless=yes"}, "option '--headless' doesn't allow an argument"},
      {{"--headless", "--work-area", "0x9+0+0"}, "--work-area takes WxH+X+Y"},
      {{"--headless", "--automation"}, "--automation drives the desktop's web view"},
      // Without a desktop nothing takes the toolkit's options.
      {{"--headless", "--display", ":5"}, "unrecognized option '--display'"},
  };
  for (const auto& [words, message] : mistakes) {
    desktops_ = 0;
    ProgramOptions options = Read(words);
    EXPECT_EQ(options.face, nullptr) << message;
    EXPECT_TRUE(options.bad_usage) << message;
    EXPECT_NE(options.error.find(message), std::string::npos) << options.error;
    EXPECT_EQ(desktops_, 0) << message;
  }
  // A toolkit option that the desktop did not take is one too.
  ProgramOptions left = Read({"--gtk-debug", "all", "u", "auto"});
  EXPECT_EQ(desktops_, 1);
  EXPECT_EQ(left.face, nullptr);
  EXPECT_NE(left.error.find("unrecognized option '--gtk-debug'"), std::string::npos) << left.error;
}

TEST_F(ProgramArgumentsTest, TheFirstOfHelpVersionAndAMistakeDecides) {
  ProgramOptions help = Read({"--headless", "--help", "--frob"});
  EXPECT_TRUE(help.help);
  EXPECT_TRUE(help.error.empty());
  EXPECT_EQ(help.face, nullptr);
  EXPECT_TRUE(Read({"-h"}).help);
  ProgramOptions version = Read({"--version", "--work-area"});
  EXPECT_TRUE(version.version);
  EXPECT_TRUE(version.error.empty());
  ProgramOptions mistake = Read({"--frob", "--help"});
  EXPECT_FALSE(mistake.help);
  EXPECT_TRUE(mistake.bad_usage);
  EXPECT_EQ(desktops_, 0);
  EXPECT_EQ(std::string(ProgramVersion()), "lumora " LUMORA_VERSION "\n");
}

}  // namespace

}  // namespace app
