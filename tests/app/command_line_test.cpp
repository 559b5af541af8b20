#include <gtest/gtest.h>

#include "app/lumora_app.h"

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

}  // namespace app
